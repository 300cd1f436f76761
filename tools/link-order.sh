#!/usr/bin/env bash
# Writes the order in which the self-contained build's linker (lld) lays out
# functions: first what every process runs (start-up, -h, --version, -u),
# then the C library's string functions in all their CPU variants (which
# one runs depends on the machine), then what a one-sample read and a short
# long run of the simulated drive add. A short process then runs code that
# lies on a few neighbouring pages instead of pages spread over the whole
# binary, and every fresh page costs it a fault.
#
# The build runs it on the same program linked without an order (target
# quellix_unordered) and links quellix with its output; nothing of it is
# kept in the source tree. Functions not in the list follow the listed
# ones, so the order costs speed, never correctness. Needs valgrind.
#
# usage: tools/link-order.sh UNORDERED-BINARY EXAMPLES-DIR OUTPUT
set -euo pipefail
export LC_ALL=C  # one sort order on every machine
quellix=$(realpath "$1")
examples=$(realpath "$2")
output=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The functions one run executes, by their symbol names.
functions_of() {  # name, arguments...
  local name=$1
  shift
  (cd "$work" && valgrind -q --tool=callgrind --demangle=no --callgrind-out-file="$work/$name.out" \
    "$quellix" "$@" >/dev/null 2>&1) || true
  sed -n -E "s/^c?fn=\([0-9]+\) ([^ ()']+)('[0-9]+)?$/\1/p" "$work/$name.out" | grep -v '^0x'  # unnamed
}

# The string functions' CPU variants, grouped by instruction set: a machine
# picks one variant of each, nearly always of one set (SSE2 on an emulated
# CPU, EVEX on a recent one), so that set's variants lie together.
variant='^__(mem|str|stp|wmem|wcs|rawmem)[a-z0-9]*_(sse|avx|evex)'
string_variants() {
  nm "$quellix" | awk -v variant="$variant" '$2 ~ /^[tT]$/ && $3 ~ variant {
    rank = 9
    if ($3 ~ /_sse2/) rank = 1; else if ($3 ~ /_ssse3/) rank = 2; else if ($3 ~ /_sse4/) rank = 3
    else if ($3 ~ /_avx2_rtm/) rank = 5; else if ($3 ~ /_avx2/) rank = 4
    else if ($3 ~ /_evex/) rank = 6; else if ($3 ~ /_avx512/) rank = 7
    print rank, $3 }' | sort -s -n -k1,1 | cut -d' ' -f2
}

# Each group sorted by name, so that the list changes only where the code does.
{
  # Start-up functions the profiler does not see (found by page-fault
  # addresses: perf record -e page-faults -d).
  printf '%s\n' _start frame_dummy register_tm_clones deregister_tm_clones __do_global_dtors_aux _dl_new_object
  { functions_of help -h; functions_of version --version; functions_of usage -u; } | grep -E -v "$variant" | sort
  string_variants
  { functions_of read "$examples/read" -n sim -d "$work/read"
    functions_of long "$examples/read" -n sim -s 3 -i 0 -d "$work/long"
    printf '%s\n' __getcwd _ZNSt10filesystem12current_pathB5cxx11ERSt10error_code; } | sort
} | awk '!seen[$0]++' > "$work/order"
[ -s "$work/order" ] || { echo "link-order.sh: callgrind saw no function" >&2; exit 1; }
mv "$work/order" "$output"

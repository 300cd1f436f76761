#!/usr/bin/env bash
# The project's own mutation check: plants each fault of tests/mutants.txt in
# the sources, one at a time, rebuilds, runs the unit and application tests
# and puts the source back. A fault the tests notice is killed; one they do
# not survives and names a place the tests do not pin. docs/testing.md
# describes the list and the figures.
#
#   tools/mutants.sh [--list] [--lines 3,10-12] [--filter REGEX] [--build DIR]
#                    [--jobs N] [--timeout SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
list=tests/mutants.txt
build=build-mutants
jobs=2
timeout=900
lines=""
filter=""
only_list=false

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit "${1:-0}"; }
while [ $# -gt 0 ]; do
  case "$1" in
    --list) only_list=true ;;
    --lines) lines=$2; shift ;;
    --filter) filter=$2; shift ;;
    --build) build=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    --timeout) timeout=$2; shift ;;
    -h|--help) usage 0 ;;
    *) echo "Unknown option $1" >&2; usage 2 ;;
  esac
  shift
done

# Whether list line $1 is among --lines.
line_selected() {
  [ -z "$lines" ] && return 0
  local part
  for part in ${lines//,/ }; do
    if [[ $part == *-* ]]; then
      [ "$1" -ge "${part%-*}" ] && [ "$1" -le "${part#*-}" ] && return 0
    elif [ "$1" -eq "$part" ]; then
      return 0
    fi
  done
  return 1
}

# The selected entries: LINE<TAB>FILE<TAB>WHAT IT BREAKS.
selected=()
while IFS= read -r entry; do
  number=${entry%%$'\t'*}
  line_selected "$number" || continue
  [ -n "$filter" ] && ! grep -Eq -- "$filter" <<<"$entry" && continue
  selected+=("$entry")
done < <(python3 tools/mutant_list.py list "$list")

if $only_list; then
  printf '%s\n' "${selected[@]}" | awk -F'\t' '{ printf "%4d  %-45s %s\n", $1, $2, $3 }'
  exit 0
fi
[ ${#selected[@]} -gt 0 ] || { echo "No entry of $list selected"; exit 2; }

# The unit and application tests: everything but the VM, the package,
# Prometheus, the browser, the schemas and the source checks.
test_selection=(-LE '^(qemu|package|monitoring|report|schema|layout|mutants)$')

# Never plant a fault in a file with changes of its own: reverting it would
# take them, and the figures would not be the tree's.
files=$(printf '%s\n' "${selected[@]}" | cut -f2 | sort -u)
# shellcheck disable=SC2086
dirty=$(git status --porcelain -- $files)
if [ -n "$dirty" ]; then
  echo "Refusing to start: files the check would change have changes of their own:"
  echo "$dirty"
  exit 2
fi

backup=""
current=""
restore() {
  if [ -n "$current" ] && [ -f "$backup" ]; then
    cp "$backup" "$current"  # a new time stamp: the next build recompiles it
    current=""
  fi
}
trap 'restore' EXIT
trap 'restore; echo; echo "Stopped: the source is as it was"; exit 130' INT TERM

mkdir -p "$build"
backup=$(realpath "$build")/mutant.original
log=$(realpath "$build")/mutants.log
: >"$log"

seconds() { date +%s; }
started=$(seconds)
echo "== building $build (RelWithDebInfo, tests on)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLIX_TESTS=ON >>"$log" 2>&1 &&
  cmake --build "$build" -j"$jobs" >>"$log" 2>&1 || { echo "The unmutated tree does not build: see $log"; exit 1; }
echo "== the tests on the unmutated tree"
t0=$(seconds)
if ! ctest --test-dir "$build" "${test_selection[@]}" -j"$jobs" --output-on-failure >>"$log" 2>&1; then
  echo "The tests fail on the unmutated tree: see $log"
  exit 1
fi
echo "   passed in $(( $(seconds) - t0 )) s"

killed=0; survived=0; unbuilt=0; refused=0
survivors=(); unbuilt_list=(); refused_list=()
count=${#selected[@]}
n=0
for entry in "${selected[@]}"; do
  n=$((n + 1))
  IFS=$'\t' read -r number file what <<<"$entry"
  printf '[%2d/%d] line %3d %-40s ' "$n" "$count" "$number" "$file"
  echo "== line $number: $file: $what" >>"$log"
  cp "$file" "$backup"
  current=$file
  if ! python3 tools/mutant_list.py apply "$list" "$root" "$number" >>"$log" 2>&1; then
    current=""
    refused=$((refused + 1)); refused_list+=("$entry")
    echo "REFUSED (see $log)"
    continue
  fi
  t0=$(seconds)
  if ! cmake --build "$build" -j"$jobs" >>"$log" 2>&1; then
    verdict="DID NOT BUILD"; unbuilt=$((unbuilt + 1)); unbuilt_list+=("$entry")
  elif timeout -k 10 "$timeout" ctest --test-dir "$build" "${test_selection[@]}" -j"$jobs" --stop-on-failure \
         >>"$log" 2>&1; then
    verdict="SURVIVED"; survived=$((survived + 1)); survivors+=("$entry")
  else
    verdict="killed"; killed=$((killed + 1))
  fi
  restore
  echo "$verdict ($(( $(seconds) - t0 )) s)"
done
restore
# The reverted files compiled again, so that the build folder is the tree's.
cmake --build "$build" -j"$jobs" >>"$log" 2>&1

judged=$((killed + survived + unbuilt))
echo
echo "== $judged mutants in $(( ($(seconds) - started + 30) / 60 )) min: $((killed + unbuilt)) killed" \
     "($unbuilt of them did not build), $survived survived, $refused refused"
if [ "$judged" -gt 0 ]; then
  awk -v k=$((killed + unbuilt)) -v n="$judged" 'BEGIN { printf "   kill rate: %.1f %% (%d of %d)\n", 100 * k / n, k, n }'
fi
show() { local e; for e in "$@"; do IFS=$'\t' read -r number file what <<<"$e"; echo "   line $number $file: $what"; done; }
[ "$survived" -eq 0 ] || { echo "Survivors:"; show "${survivors[@]}"; }
[ "$unbuilt" -eq 0 ] || { echo "Did not build (fix these entries):"; show "${unbuilt_list[@]}"; }
[ "$refused" -eq 0 ] || { echo "Refused (the original text does not occur exactly once):"; show "${refused_list[@]}"; }
# shellcheck disable=SC2086
if ! git diff --quiet -- $files; then
  echo "The tree differs from before the check: git diff -- $files"
  exit 1
fi
[ "$survived" -eq 0 ] && [ "$refused" -eq 0 ]

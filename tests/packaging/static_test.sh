#!/usr/bin/env bash
# The self-contained binary: linked without any shared library, with the
# block cache behind operator new, and it behaves as the ordinary build does (help text, a read of the simulated
# drive with its system data, a usage error).
#
# usage: tests/packaging/static_test.sh STATIC-BINARY ORDINARY-BINARY
set -euo pipefail
static=$(realpath "$1") ordinary=$(realpath "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

needed=$(readelf -d "$static" | grep NEEDED || true)
[ -z "$needed" ] || fail "needs shared libraries: $needed"
cmp <("$static" -h) <("$ordinary" -h) || fail "help text differs"
cp "$root/examples/read.cmd.json" .
"$static" read -n sim -d static >/dev/null || fail "read of the simulated drive"
"$ordinary" read -n sim -d ordinary >/dev/null || fail "read of the simulated drive (ordinary build)"
user=$(id -un)
grep -q "\"username\" : \"$user\"" static/nvme.info.json || fail "user name not $user"
# Every parameter name of the two info documents is the same.
names() { grep -o '"name" : "[^"]*"' "$1" | sort; }
cmp <(names static/nvme.info.json) <(names ordinary/nvme.info.json) || fail "parameter names differ"
set +e
"$static" read -n sim --no-such-option >/dev/null 2>&1
status=$?
set -e
[ "$status" = 16 ] || fail "usage error ended with $status, not 16"
echo "static binary: PASSED"

#!/usr/bin/env bash
# The layout check passes on the sources and fails on a copy with one
# offending include of each kind.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
check="$repo/tools/check-layout.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

expect_pass() {
  bash "$check" "$1" >"$work/out" 2>&1 || { echo "FAIL: $2"; cat "$work/out"; status=1; }
}
expect_fail() {  # tree, text the report must show, what is tested
  if bash "$check" "$1" >"$work/out" 2>&1; then
    echo "FAIL: $3 was accepted"; status=1
  elif ! grep -qF "$2" "$work/out"; then
    echo "FAIL: $3: report lacks '$2'"; cat "$work/out"; status=1
  else
    echo "ok: $3 refused: $(grep -F "$2" "$work/out" | head -n1)"
  fi
}
variant() {  # name, file, line to add
  rm -rf "${work:?}/$1"; cp -r "$repo/source" "$work/$1"
  printf '%s\n' "$3" >> "$work/$1/$2"
  echo "$work/$1"
}

expect_pass "$repo/source" "the sources break the layout"
expect_fail "$(variant up kavo/base/kavo_text.cpp '#include "decode/parameters.h"')" \
  'points up or sideways (base -> decode)' "an include from base up into decode"
expect_fail "$(variant sideways kavo/info/compare.cpp '#include "host/system_info.h"')" \
  'points up or sideways (info -> host)' "an include between info and host"
expect_fail "$(variant app kavo/decode/features.cpp '#include "quellix.h"')" \
  'names no folder' "a library include of the application"
expect_fail "$(variant binding kavo/decode/features.cpp '#include "transport/simulated_drive.h"')" \
  'only the application and the transport use a binding' "a decoder including a binding"
expect_fail "$(variant os kavo/info/rules.cpp '#include <unistd.h>')" \
  'operating-system header <unistd.h>' "an OS header outside a platform file"
exit $status

#!/usr/bin/env bash
# The list of planted faults (tests/mutants.txt) is current: every original
# text occurs exactly once in its file, and the list covers every source
# folder and both commands. The check itself refuses stale lists.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
checker="$repo/tools/mutant_list.py"
python=/usr/bin/python3
if [ ! -x "$python" ]; then
  echo "MUTANTS LIST TEST SKIPPED: needs python3"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

if ! "$python" "$checker" check "$repo/tests/mutants.txt" "$repo"; then
  echo "FAIL: tests/mutants.txt is stale: mend the entries above to the current sources"
  status=1
fi

expect_refused() {  # list text, what the report must show, what is tested
  printf '%b' "$1" >"$work/list"
  if "$python" "$checker" check "$work/list" "$repo" "${4:-1}" >"$work/out" 2>&1; then
    echo "FAIL: $3 was accepted"; status=1
  elif ! grep -qF "$2" "$work/out"; then
    echo "FAIL: $3: report lacks '$2'"; cat "$work/out"; status=1
  else
    echo "ok: $3 refused"
  fi
}
entry='source/getinfo.cpp\tkavo::SleepUntilMonotonic(nextStart);\tx;\tdelay\nsource/selftest.cpp\tkavo::SleepUntilMonotonic(nextPoll);\tx;\tdelay\n'
expect_refused "$entry" "no entry for the source folder source/kavo/base" "a list without every source folder"
expect_refused "source/getinfo.cpp\treturn\tx\tmany\n$entry" "occurs" "an original text that occurs more than once"
expect_refused "source/getinfo.cpp\tno such text anywhere\tx\tnone\n$entry" "occurs 0 times" "an original text that no longer occurs"
expect_refused "source/getinfo.cpp\tonly three fields\tx\n$entry" "4 non-empty tab-separated fields" "an entry without its description"
expect_refused "$entry" "fewer than 40" "a list of fewer than 40 entries" 40
exit $status

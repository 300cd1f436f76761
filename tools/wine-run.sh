#!/usr/bin/env bash
# Runs one Windows test program under wine for ctest. Wine's helper processes
# (services started on demand) inherit the program's output; writing it to a
# file instead of ctest's pipe keeps ctest from waiting on them.
set -u
log=$(mktemp)
wine "$@" >"$log" 2>&1 </dev/null
status=$?
cat "$log"
rm -f "$log"
exit $status

#!/usr/bin/env bash
# Draws the reports of a simulated multi-sample run (a temperature swing, a
# rule the hotter samples break) and of a failing self-test, and checks them
# in headless Chromium (report_browser_test.py).
#
# usage: report_test.sh QUELLIX_BINARY REPOSITORY SCREENSHOT
# exit 77 (skipped) when Chromium or Selenium is missing outside CI.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
quellix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
repo=$(cd "$2" && pwd)
screenshot=$3
python=/usr/bin/python3
if ! [ -x /usr/bin/chromium ] || ! [ -x /usr/bin/chromedriver ] ||
   ! "$python" -c 'import selenium, PIL' 2>/dev/null; then
  echo "REPORT BROWSER TEST SKIPPED: needs Debian's chromium, chromium-driver, python3-selenium and python3-pil"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cat > swing.json <<'JSON'
{ "temperature swing": 8, "smart": { "TS1": 315 } }
JSON
cat > hot.rules.json <<'JSON'
{ "rules": [ "'Composite Temperature' < 42 C" ] }
JSON
samples=40
"$quellix" "$repo/examples/read" -n sim:swing.json -s $samples -i 0 -r hot -d run >read.out 2>&1
code=$?
[ $code -eq 21 ] || [ $code -eq 22 ] || { echo "FAIL: the read run ended with $code"; tail read.out; exit 1; }
"$quellix" "$repo/examples/self-test-short" -n "sim:$repo/examples/drives/self-test-fails.json" -d test >test.out 2>&1
[ $? -eq 33 ] || { echo "FAIL: the self-test did not fail as described"; tail test.out; exit 1; }
"$python" "$here/report_browser_test.py" "$work/run/read.report.html" "$work/test/selftest.report.html" \
  $samples "$screenshot"

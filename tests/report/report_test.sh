#!/usr/bin/env bash
# Draws the reports of a simulated multi-sample run (a worn drive, a
# temperature swing, a rule the hotter samples break) and of an extended
# self-test that fails (started with -e from a short test's command file),
# and checks them in headless Chromium (report_browser_test.py).
#
# usage: report_test.sh QUELLIX_BINARY REPOSITORY SCREENSHOT
# SCREENSHOT is the read report's; the self-test report's goes beside it
# with "-selftest" before ".png".
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
{ "temperature swing": 8, "smart": { "TS1": 315, "PUSED": 91, "MEDIA": 1, "WCTT": 3 } }
JSON
cat > hot.rules.json <<'JSON'
{ "rules": [ "'Composite Temperature' < 42 C" ] }
JSON
samples=40
"$quellix" "$repo/examples/read" -n sim:swing.json -s $samples -i 50 -r hot -d run >read.out 2>&1
code=$?
[ $code -eq 21 ] || [ $code -eq 22 ] || { echo "FAIL: the read run ended with $code"; tail read.out; exit 1; }
# The short test's command file with a status entry every second, run as an
# extended test with -e, on a drive whose tests fail in segment 3.
sed 's/"display sample interval in sec": *[0-9]*/"display sample interval in sec": 0/' \
  "$repo/examples/self-test-short.cmd.json" > short.cmd.json
cat > failing.json <<'JSON'
{ "identify controller": { "MN": "Quellix Self-test Failure 512GB", "SN": "QLXSTFL0000000000003", "EDSTT": 2 },
  "temperature swing": 3,
  "self-test": { "extended seconds": 6, "result": 7, "segment": 3, "failing lba": 987654321,
                 "history": [ { "result": 0, "code": 1, "power on hours": 2300 },
                              { "result": 1, "code": 2, "power on hours": 2120 } ] } }
JSON
"$quellix" short -e -n sim:failing.json -d test >test.out 2>&1
[ $? -eq 33 ] || { echo "FAIL: the self-test did not fail as described"; tail test.out; exit 1; }
"$python" "$here/report_browser_test.py" "$work/run/read.report.html" "$work/test/selftest.report.html" \
  $samples "$screenshot"

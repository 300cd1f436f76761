#!/usr/bin/env bash
# quellix's metrics with the real Prometheus tools: promtool checks the
# metrics files, the alert rules and their unit tests; systemd-analyze checks
# the example units; a real node_exporter serves quellix's series through its
# textfile collector, and shows new values after the next sample.
#
# usage: prometheus_test.sh QUELLIX_BINARY REPOSITORY
# exit 77 (skipped) when the tools are missing outside CI.
set -uo pipefail
quellix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
repo=$(cd "$2" && pwd)
examples=$repo/examples
missing=()
for tool in promtool prometheus-node-exporter systemd-analyze curl; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "PROMETHEUS TESTS SKIPPED: missing ${missing[*]} (Debian packages prometheus, prometheus-node-exporter, systemd, curl)"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
work=$(mktemp -d)
exporter=
trap '[ -n "$exporter" ] && kill "$exporter" 2>/dev/null; rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
ok() { [ $status -eq 0 ] && echo "ok: $*"; }

# Alert rules and their unit tests.
promtool check rules "$examples/prometheus/quellix.rules.yml" || fail "promtool check rules"
(cd "$examples/prometheus" && promtool test rules quellix.rules.test.yml) || fail "promtool test rules"

# The example units, with the binary where this build has it.
mkdir "$work/units"
sed "s#/usr/bin/quellix#$quellix#" "$examples/systemd/quellix-metrics@.service" > "$work/units/quellix-metrics@.service"
cp "$examples/systemd/quellix-metrics@.timer" "$work/units/"
(cd "$work/units" && systemd-analyze verify quellix-metrics@nvme0.service quellix-metrics@nvme0.timer) ||
  fail "systemd-analyze verify"

# Metrics files of every example drive pass promtool's checks and lint.
textfiles=$work/textfile
mkdir -p "$textfiles" "$work/runs"
cd "$work/runs" || exit 1
for drive in "$examples"/drives/*.json; do
  name=$(basename "$drive" .json)
  "$quellix" "$examples/metrics" -n "sim:$drive" -d "$name" --metrics "$name.prom" >"$name.out" 2>&1 ||
    fail "metrics run of $name: $(tail -n 2 "$name.out")"
  promtool check metrics <"$name.prom" || fail "promtool check metrics: $name.prom"
done
ok "promtool accepts the metrics of every example drive"

# A counter beyond what a float holds exactly, on a drive whose path is not
# UTF-8: the file stays readable and passes the lint.
huge=$'huge-\xff.json'
printf '{"smart": {"DUW": "0x100000000000000000000000000000", "HRC": "0x20000000000000"}}' >"$huge"
"$quellix" "$examples/metrics" -n "sim:$huge" -d huge --metrics huge.prom >huge.out 2>&1 ||
  fail "metrics run of a huge counter: $(tail -n 2 huge.out)"
promtool check metrics <huge.prom || fail "promtool check metrics: a counter beyond float precision, a path not UTF-8"
grep -q '^quellix_value_beyond_float_precision{.*series="quellix_data_written_bytes_total"} 1$' huge.prom ||
  fail "no quellix_value_beyond_float_precision for the data written"
ok "promtool accepts counters beyond float precision and paths that are not UTF-8"

# A real node_exporter with the textfile collector on the test's folder.
cat > drive.json <<'JSON'
{ "smart": { "CTEMP": 310, "MEDIA": 2 }, "temperature swing": 0 }
JSON
"$quellix" "$examples/metrics" -n sim:drive.json -d live --metrics "$textfiles/quellix.prom" >live.out 2>&1 ||
  fail "first sample: $(tail -n 2 live.out)"
port=
for candidate in $(seq 19100 19180); do
  prometheus-node-exporter --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$textfiles" --web.listen-address="127.0.0.1:$candidate" >exporter.log 2>&1 &
  exporter=$!
  for _ in $(seq 50); do
    curl -sf "http://127.0.0.1:$candidate/metrics" -o /dev/null && { port=$candidate; break; }
    kill -0 "$exporter" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] && break
  kill "$exporter" 2>/dev/null; wait "$exporter" 2>/dev/null; exporter=
done
[ -n "$port" ] || { cat exporter.log; fail "node_exporter did not start"; exit 1; }
scrape() { curl -sf "http://127.0.0.1:$port/metrics"; }
value() {  # metric name, label="value"... -> the value of the first series with all of them
  local name=$1; shift
  scrape | awk -v name="$name" -v labels="$*" '
    index($0, name "{") == 1 {
      n = split(labels, wanted, " "); found = 1
      for (i = 1; i <= n; i++) if (index($0, wanted[i]) == 0) found = 0
      if (found) { print $NF; exit }
    }'
}
drive='device="sim:drive.json" serial="QLX0SIM0000000000001"'
temperature="quellix_temperature_celsius $drive sensor=\"composite\""
media="quellix_media_errors_total $drive"
[ "$(value $temperature)" = 37 ] || fail "node_exporter shows temperature $(value $temperature), not 37"
[ "$(value $media)" = 2 ] || fail "node_exporter shows media errors $(value $media), not 2"
# One scrape, held in full: grep -q stops reading at its match, and under
# pipefail the SIGPIPE that curl then gets would count as no match.
page=$(scrape)
grep -q '^quellix_drive_info{.*model="Quellix Simulated NVMe Drive 512GB"' <<<"$page" || fail "no quellix_drive_info"
grep -q '^node_textfile_scrape_error 0' <<<"$page" || fail "node_exporter reports a textfile error"
ok "node_exporter serves quellix's series"

# The drive changes; the next sample shows it.
cat > drive.json <<'JSON'
{ "smart": { "CTEMP": 341, "MEDIA": 5, "CW": 4 }, "temperature swing": 0 }
JSON
"$quellix" "$examples/metrics" -n sim:drive.json -d live --metrics "$textfiles/quellix.prom" >live.out 2>&1 ||
  fail "second sample: $(tail -n 2 live.out)"
[ "$(value $temperature)" = 68 ] || fail "after the change: temperature $(value $temperature), not 68"
[ "$(value $media)" = 5 ] || fail "after the change: media errors $(value $media), not 5"
[ "$(value quellix_critical_warning $drive 'bit="reliability"')" = 1 ] ||
  fail "after the change: the reliability warning bit is not raised"
[ "$(value quellix_health_status $drive 'status="CRITICAL"')" = 1 ] ||
  fail "after the change: the health grade is not CRITICAL"
ok "node_exporter shows the new values after the next sample"
exit $status

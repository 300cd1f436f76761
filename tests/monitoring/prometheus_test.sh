#!/usr/bin/env bash
# quellix's metrics with the real Prometheus tools: promtool checks the
# metrics files, the alert rules and their unit tests; systemd-analyze checks
# the example units; a real node_exporter serves quellix's series through its
# textfile collector, and shows new values after the next sample; a real
# Prometheus holding two hours of a fleet's metrics answers every expression
# of the alert rules and of the Grafana dashboard.
#
# usage: prometheus_test.sh QUELLIX_BINARY REPOSITORY
# exit 77 (skipped) when the tools are missing outside CI.
set -uo pipefail
quellix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
repo=$(cd "$2" && pwd)
examples=$repo/examples
missing=()
for tool in promtool prometheus prometheus-node-exporter systemd-analyze curl python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "PROMETHEUS TESTS SKIPPED: missing ${missing[*]} (Debian packages prometheus, prometheus-node-exporter, systemd, curl)"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
work=$(mktemp -d)
exporter= server=
trap '[ -n "$exporter" ] && kill "$exporter" 2>/dev/null; [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
ok() { [ $status -eq 0 ] && echo "ok: $*"; }

# Alert rules and their unit tests.
promtool check rules "$examples/prometheus/quellix.rules.yml" || fail "promtool check rules"
(cd "$examples/prometheus" && promtool test rules quellix.rules.test.yml) || fail "promtool test rules"

# The example units, with the binary where this build has it.
mkdir "$work/units"
sed "s#/usr/bin/quellix#$quellix#" "$examples/systemd/quellix-metrics@.service" > "$work/units/quellix-metrics@.service"
sed "s#/usr/bin/quellix#$quellix#" "$examples/systemd/quellix-metrics-all.service" > "$work/units/quellix-metrics-all.service"
cp "$examples/systemd/quellix-metrics@.timer" "$examples/systemd/quellix-metrics-all.timer" "$work/units/"
(cd "$work/units" && systemd-analyze verify --man=no quellix-metrics@nvme0.service quellix-metrics@nvme0.timer \
  quellix-metrics-all.service quellix-metrics-all.timer) || fail "systemd-analyze verify"

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
[ "$(value quellix_health_status $drive)" = 2 ] || fail "after the change: the health status is not 2 (CRITICAL)"
[ "$(value quellix_health_grade $drive 'status="CRITICAL"')" = 1 ] ||
  fail "after the change: the health grade is not CRITICAL"
ok "node_exporter shows the new values after the next sample"

# A fleet's metrics over two hours in a real Prometheus. Each drive is in a
# state that one alert rule is about; "gone" leaves the host's list after the
# first hour, "stale" stops being read ten minutes before the end and the
# media errors of "growing" grow.
mkdir "$work/fleet" && cd "$work/fleet" || exit 1
drive() { echo "{ \"identify controller\": { \"SN\": \"$1\" }, \"temperature swing\": 0 $2 }" > "$1.json"; }
drive SPARE ', "smart": { "AVSPARE": 5, "SPARETHRESH": 10 }'
drive HOT ', "smart": { "CTEMP": 360 }'
drive SELFTEST ', "self-test": { "history": [ { "result": 7, "code": 2, "segment": 3, "power on hours": 100 } ] }'
drive STALE ''
drive GONE ''
drive GROWING ', "smart": { "MEDIA": 1 }'
cp "$examples/drives/critical-warnings.json" CRITICAL.json
cp "$examples/drives/worn-end-of-life.json" WORN.json
drives=sim:CRITICAL.json,sim:WORN.json,sim:SPARE.json,sim:HOT.json,sim:SELFTEST.json,sim:STALE.json,sim:GROWING.json
"$quellix" "$examples/metrics" -n "$drives,sim:GONE.json" -d first --metrics first.prom >first.out 2>&1
[ -s first.prom ] || fail "first fleet run wrote no metrics: $(tail -n 3 first.out)"
promtool check metrics <first.prom || fail "promtool check metrics: the fleet's metrics file"
drive GROWING ', "smart": { "MEDIA": 4 }'
"$quellix" "$examples/metrics" -n "$drives" -d second --metrics second.prom >second.out 2>&1
python3 - first.prom second.prom history.om <<'PY'
import sys, time
first, second = (open(name).read().splitlines() for name in sys.argv[1:3])
end = int(time.time()) // 60 * 60 - 60
with open(sys.argv[3], "w") as out:
    for point in range(120):
        t = end - (119 - point) * 60
        for line in first if point < 60 else second:
            if not line or line.startswith("#"):
                continue
            series, value = line.rsplit(" ", 1)
            if series.startswith(("quellix_last_run_timestamp_seconds", "quellix_last_sample_timestamp_seconds")):
                value = str(min(t, end - 600) if 'serial="STALE"' in series else t)
            out.write(f"{series} {value} {t}\n")
    out.write("# EOF\n")
open("end", "w").write(str(end))
PY
end=$(cat end)
promtool tsdb create-blocks-from openmetrics history.om data >blocks.out 2>&1 || fail "backfill: $(tail -n 3 blocks.out)"
printf 'global:\n  evaluation_interval: 1m\nrule_files:\n  - %s\n' "$examples/prometheus/quellix.rules.yml" > prometheus.yml
port=
for candidate in $(seq 19190 19270); do
  prometheus --config.file=prometheus.yml --storage.tsdb.path=data --storage.tsdb.retention.time=30d \
    --web.listen-address="127.0.0.1:$candidate" >prometheus.log 2>&1 &
  server=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$candidate/-/ready" -o /dev/null && { port=$candidate; break; }
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] && break
  kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; server=
done
[ -n "$port" ] || { tail -n 20 prometheus.log; fail "Prometheus did not start"; exit 1; }
# Every rule as Prometheus loaded it, and every query of the dashboard with
# the drive variable matching every drive.
python3 - "http://127.0.0.1:$port" "$end" "$repo/examples/grafana/quellix-dashboard.json" <<'PY' || fail "PromQL of the rules and the dashboard"
import json, sys, urllib.parse, urllib.request
base, end, dashboard = sys.argv[1], sys.argv[2], sys.argv[3]
def get(path, **query):
    with urllib.request.urlopen(base + path + "?" + urllib.parse.urlencode(query), timeout=30) as answer:
        return json.load(answer)
expressions = []
for group in get("/api/v1/rules")["data"]["groups"]:
    expressions += [("rule " + rule["name"], rule["query"]) for rule in group["rules"]]
def targets(panels):
    for panel in panels:
        for target in panel.get("targets", []):
            yield panel["title"], target["expr"]
        yield from targets(panel.get("panels", []))
expressions += [("panel " + title, expr.replace("$device", ".+")) for title, expr in
                targets(json.load(open(dashboard))["panels"])]
if len(expressions) < 20:
    sys.exit(f"only {len(expressions)} expressions found")
failed = 0
for name, expr in expressions:
    try:
        answer = get("/api/v1/query", query=expr, time=end)
        result = answer["data"]["result"] if answer.get("status") == "success" else None
    except Exception as error:
        result, answer = None, str(error)
    if not result:
        failed += 1
        print(f"FAIL: {name}: {' '.join(expr.split())} -> {answer}")
    else:
        print(f"ok: {name}: {len(result)} series")
sys.exit(1 if failed else 0)
PY
ok "Prometheus answers every expression of the rules and the dashboard"
exit $status

#!/usr/bin/env bash
# The published JSON Schemas (docs/schema) against what quellix writes: the
# info documents and summaries of every example drive, multi-sample runs
# with compare and rules, failing compares and rules, commands that fail,
# self-tests that pass, fail, abort or cannot start, runs that were killed
# and recovered, and the example command files. Then the validator must
# refuse planted wrong documents, and the units of the parameter list must
# be those the schema names.
#
# usage: schema_test.sh QUELLIX_BINARY REPOSITORY
# exit 77 (skipped) when python3-jsonschema is missing outside CI.
set -uo pipefail
quellix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
repo=$(cd "$2" && pwd)
examples=$repo/examples
python=/usr/bin/python3
validate=$repo/tests/schema/validate.py
if ! "$python" -c 'from jsonschema import Draft202012Validator' 2>/dev/null; then
  echo "SCHEMA TEST SKIPPED: needs Debian's python3-jsonschema (4.10 or later, with draft 2020-12)"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
work=$(mktemp -d)
running=
trap '[ -n "$running" ] && kill -KILL "$running" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }

# run NAME EXPECTED-CODES ARGUMENTS...: a run into folder NAME.
run() {
  local name=$1 codes=$2 code
  shift 2
  "$quellix" "$@" -d "$name" >"$name.out" 2>&1
  code=$?
  [[ " $codes " == *" $code "* ]] || fail "$name ended with $code, not $codes: $(tail -n 3 "$name.out")"
}

# killed NAME SAMPLES ARGUMENTS...: a run killed with SIGKILL once its
# journal holds SAMPLES sample records.
killed() {
  local name=$1 samples=$2 journal
  shift 2
  "$quellix" "$@" -d "$name" >"$name.out" 2>&1 &
  running=$!
  for _ in $(seq 300); do
    journal=$(ls "$name"/*.journal.jsonl 2>/dev/null | head -n 1)
    [ -n "$journal" ] && [ "$(grep -c '^{"t":' "$journal")" -ge "$samples" ] && break
    sleep 0.05
  done
  kill -KILL "$running" 2>/dev/null
  wait "$running" 2>/dev/null
  running=
  ls "$name"/*.journal.jsonl >/dev/null 2>&1 || fail "$name left no journal: $(tail -n 3 "$name.out")"
}

# Drive descriptions and command files for the edge cases.
echo '{ "faults": [ { "command": "log 02", "status": "0x4002" } ] }' >no-health-log.json
echo '{ "identify controller": { "NN": 2000 }, "faults": [ { "command": "identify 02", "status": "0x4002" } ] }' >namespace-walk.json
echo '{ "faults": [ { "command": "identify 01", "status": "0x4002" } ] }' >no-identify.json
# A namespace of more than 2^64 bytes, and one whose block size is beyond any.
echo '{ "namespaces": [ { "NSZE": "18446744073709551615", "LBAF0": "0x00300000" }, { "NSZE": 1000, "LBAF0": "0x00500000" } ] }' >huge-namespace.json
echo '{ "identify controller": { "OACS": "0x0007" } }' >no-self-test.json
echo '{ "identify controller": { "EDSTT": 0 } }' >no-test-time.json
echo '{ "faults": [ { "command": "self-test 01", "status": "0x4002" } ] }' >no-start.json
echo '{ "faults": [ { "command": "log 06", "status": "0x4002", "after": 1 } ] }' >no-self-test-log.json
echo '{ "faults": [ { "command": "log 02", "status": "0x4002", "after": 1 } ] }' >no-smart-while-testing.json
"$python" - "$examples" <<'PY' || fail "writing the command files"
import json, sys
read = json.load(open(sys.argv[1] + "/read.cmd.json"))
# Hex dumps, the host's inventory, rules in the command file, a health limit.
read.update({"log hex data": True, "read extended system data": True, "health limit": "SUSPECT",
             "rules": ["'Composite Temperature' < 30 C", "'Model Number (MN)' not-match x", "'Percentage Used' <= 1 %"]})
json.dump(read, open("everything.cmd.json", "w"), indent=1)
# Rules in their parsed form, and null for flags.
read.update({"log hex data": None, "read system data": None, "health limit": None,
             "rules": {"rules": [{"parameter": "Percentage Used", "operator": ">", "limit": "50 %",
                                  "rule": "'Percentage Used' > 50 %"}]}})
json.dump(read, open("parsed-rules.cmd.json", "w"), indent=1)
PY

# Every example drive and the built-in one, one sample each.
for drive in sim "$examples"/drives/*.json; do
  name=drive-$(basename "$drive" .json)
  [ "$drive" = sim ] || drive=sim:$drive
  run "$name" 0 "$examples/read" -n "$drive"
done
# Several samples compared with a baseline and checked against rules.
run multi 0 "$examples/read" -n sim -s 4 -i 0 -c drive-sim/nvme.info.json -r "$examples/rules/health"
# A failing compare (another drive, parameters the baseline lacks) and rule violations.
run failing "21 22" "$examples/read" -n "sim:$examples/drives/worn-end-of-life.json" -s 3 -i 0 \
  -c drive-nvme-1.3/nvme.info.json -r "$examples/rules/health"
run everything "21 22" everything -n sim -s 2 -i 0
run parsed-rules "21 22" parsed-rules -n sim -s 2 -i 0
run no-samples 0 "$examples/read" -n sim -s 0
for drive in no-health-log namespace-walk no-identify huge-namespace; do
  run "$drive" "0 21 22" "$examples/read" -n "sim:$drive.json"
done
# Self-tests: passing, failing, aborted, ended early or unable to follow the test.
run test-short 0 "$examples/self-test-short" -n sim
run test-extended 0 "$examples/self-test-extended" -n sim
run test-abort 0 "$examples/self-test-abort" -n sim
run test-fails 33 "$examples/self-test-short" -n "sim:$examples/drives/self-test-fails.json"
run test-unsupported 30 "$examples/self-test-short" -n sim:no-self-test.json
run test-no-time 32 "$examples/self-test-extended" -n sim:no-test-time.json
run test-no-start 31 "$examples/self-test-short" -n sim:no-start.json
run test-no-log 33 "$examples/self-test-short" -n sim:no-self-test-log.json
run test-no-smart 33 "$examples/self-test-short" -n sim:no-smart-while-testing.json
# Fleets: drives that pass and one whose every command fails, with their
# metrics; and a self-test of two drives.
echo '{ "faults": [ { "command": "", "status": "0x4006" } ] }' >dead.json
run fleet 22 "$examples/read" -n "sim,sim:dead.json,sim:$examples/drives/worn-end-of-life.json" -s 2 -i 0 \
  --metrics fleet.prom
run fleet-test 0 "$examples/self-test-short" -n "sim,sim:$examples/drives/healthy-1.4.json"
# Killed runs: recovered by --recover, or by the next run in the same folder
# into a summary of their own.
killed recovered 3 "$examples/read" -n sim -s 100000 -i 5 -r "$examples/rules/health"
"$quellix" --recover recovered >recover.out 2>&1 || fail "--recover: $(tail -n 3 recover.out)"
killed leftover 3 "$examples/read" -n sim -s 100000 -i 5
run leftover 0 "$examples/read" -n sim
killed test-leftover 1 "$examples/self-test-extended" -n sim
run test-leftover 0 "$examples/self-test-short" -n sim
for pattern in recovered/read.summary.json 'leftover/read.summary.interrupted-*.json' \
               'test-leftover/selftest.summary.interrupted-*.json'; do
  compgen -G "$pattern" >/dev/null || fail "no $pattern"
done

# Every document of the runs, and the example command files.
mapfile -t documents < <(find . -name 'nvme.info*.json' -o -name '*summary*.json' | sort)
((${#documents[@]} >= 50)) || fail "only ${#documents[@]} documents were written"
"$python" "$validate" "${documents[@]}" "$examples"/*.cmd.json everything.cmd.json parsed-rules.cmd.json \
  >valid.out 2>&1 || { grep -v ': valid ' valid.out; fail "the documents quellix writes do not match the schemas"; }
for kind in info read-summary selftest-summary read-command selftest-command fleet-summary; do
  grep -q ": valid $kind\$" valid.out || fail "no $kind was validated"
done
[ $status -eq 0 ] && echo "ok: ${#documents[@]} documents and $(ls "$examples"/*.cmd.json | wc -l) example command files match the schemas"

# The units of the parameter list are the schema's units, all of them.
mkdir export && (cd export && "$quellix" --export >export.out 2>&1) || fail "--export: $(tail -n 3 export/export.out)"
"$python" - "$repo/docs/schema/info-document.schema.json" export/parameter_list.json <<'PY' || fail "units"
import json, sys
schema = set(json.load(open(sys.argv[1]))["$defs"]["unit"]["enum"])
listed = {entry["unit"] for entry in json.load(open(sys.argv[2]))["parameters"] if "unit" in entry}
if listed != schema:
    sys.exit(f"units only in the parameter list: {sorted(listed - schema)}; only in the schema: {sorted(schema - listed)}")
PY

# Planted mistakes: each document must be refused, at the path named.
mkdir planted
"$python" - planted drive-sim/nvme.info.json multi/read.summary.json test-fails/selftest.summary.json \
  "$examples/read.cmd.json" "$examples/self-test-short.cmd.json" >planted.list <<'PY' || fail "planting"
import json, sys
out, info_path, read_path, test_path, read_cmd, test_cmd = sys.argv[1:]
def load(path): return json.load(open(path))
def plant(name, document, expected, number_literal=None):
    text = json.dumps(document, indent=1)
    if number_literal is not None:
        text = text.replace('"@number@"', number_literal)
    open(f"{out}/{name}.json", "w").write(text)
    print(f"{name}\t{expected}")
def record(info, name="Composite Temperature"):
    return info["nvme"]["parameters"][name]

info = load(info_path); record(info)["number"] = "37"
plant("number-is-text", info, "/nvme/parameters/Composite Temperature/number")
info = load(info_path); record(info)["number"] = "@number@"
plant("integer-written-as-real", info, "/nvme/parameters/Composite Temperature/number", "37.0")
info = load(info_path); record(info)["unit"] = "kelvin"
plant("unit-not-in-list", info, "/nvme/parameters/Composite Temperature/unit")
info = load(info_path); del record(info)["value"]
plant("value-missing", info, "/nvme/parameters/Composite Temperature")
info = load(info_path); del record(info)["unit"]
plant("number-without-unit", info, "/nvme/parameters/Composite Temperature")
info = load(info_path); record(info, "Data Units Written")["number"] = -1
plant("negative-counter", info, "/nvme/parameters/Data Units Written/number")
info = load(info_path); record(info)["compare type"] = "same"
plant("unknown-compare-type", info, "/nvme/parameters/Composite Temperature/compare type")
info = load(info_path); record(info)["text"] = "37 C"
plant("record-with-extra-member", info, "/nvme/parameters/Composite Temperature")
info = load(info_path); info["nvme"]["health status"] = "FINE"
plant("grade-fine", info, "/nvme/health status")
info = load(info_path); info["nvme"]["temp reasons"] = [1]
plant("reason-not-text", info, "/nvme/temp reasons/0")
info = load(info_path); info["compare mismatches"] = None; info["rule violations"] = None
plant("results-null", info, "/compare mismatches")
info = load(info_path); info["_metadata"]["commands"][0]["return code"] = "0"
plant("command-return-code-text", info, "/_metadata/commands/0/return code")
info = load(info_path); info["raw hex data"] = {"Identify Controller": "0x0000"}
plant("hex-dump-not-list", info, "/raw hex data/Identify Controller")
summary = load(read_path); del summary["read details"]["sample"][0]["numbers"]
plant("sample-without-numbers", summary, "/read details/sample/0")
summary = load(read_path); summary["read details"]["sample"][0]["numbers"]["Data Read"] = "1,234"
plant("sample-number-text", summary, "/read details/sample/0/numbers/Data Read")
summary = load(read_path); summary["read details"]["sample"][0]["numbers"]["Size"] = 1
plant("sample-number-unknown", summary, "/read details/sample/0/numbers")
summary = load(read_path); summary["read details"]["worst health status"] = "OK"
plant("worst-grade-ok", summary, "/read details/worst health status")
summary = load(read_path); summary["_settings"]["_input"]["cmd file"]["samples"] = -1
plant("summary-command-file-wrong", summary, "/_settings/_input/cmd file/samples")
summary = load(test_path); summary["selftest details"]["status"][0]["numbers"]["percent complete"] = "0"
plant("status-number-text", summary, "/selftest details/status/0/numbers/percent complete")
summary = load(test_path); summary["selftest details"]["numbers"]["failing lba"] = 9.5
plant("failing-lba-real", summary, "/selftest details/numbers/failing lba")
summary = load(test_path); del summary["selftest details"]["numbers"]
plant("details-without-numbers", summary, "/selftest details")
command = load(read_cmd); del command["fail limit"]
plant("read-command-key-missing", command, "(the document)")
command = load(read_cmd); command["read feature 05h"] = "yes"
plant("read-command-flag-text", command, "/read feature 05h")
command = load(read_cmd); command["health limit"] = "GOOD"
plant("read-command-health-limit", command, "/health limit")
command = load(test_cmd); command["rules file"] = "health"
plant("self-test-command-with-rules", command, "/rules file")
command = load(test_cmd); command["abort time"] = -5
plant("self-test-command-negative", command, "/abort time")
PY
echo '{ "nvme": ' >planted/not-json.json
echo -e "not-json\tplanted/not-json.json" >>planted.list
echo '{ "something": "else" }' >planted/not-quellix.json
echo -e "not-quellix\tnot a quellix document" >>planted.list
refused=0
while IFS=$'\t' read -r name expected; do
  "$python" "$validate" "planted/$name.json" >"planted/$name.out" 2>&1
  code=$?
  if [ $code -ne 1 ]; then
    fail "the validator ended with $code on planted/$name.json: $(cat "planted/$name.out")"
  elif ! grep -qF -- "$expected" "planted/$name.out"; then
    fail "planted/$name.json was refused, but not at $expected: $(cat "planted/$name.out")"
  else
    refused=$((refused + 1))
  fi
done <planted.list
((refused >= 25)) || fail "only $refused planted documents were refused"
[ $status -eq 0 ] && echo "ok: $refused planted wrong documents are refused, each where it is wrong"
exit $status

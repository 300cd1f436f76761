#!/usr/bin/env bash
# Runs quellix and nvme-cli against QEMU's emulated NVMe controller in
# throw-away VMs (the default controller; one with three namespaces of other
# block sizes and a critical warning raised from power-on; one without any
# namespace; one with namespaces 2 and 5 only; one with three controllers,
# booted twice with the controllers in another order) and leaves what they
# wrote in OUT_DIR/default, OUT_DIR/namespaces, OUT_DIR/no-namespace,
# OUT_DIR/ns-2-5, OUT_DIR/fleet-first and OUT_DIR/fleet-second.
#
# usage: run-vms.sh QUELLIX_BINARY EXAMPLES_DIR OUT_DIR
# exit 77 when the VM tooling is not available here (not root, no package
# source); the caller reports the group as skipped.
set -euo pipefail
binary=$1 examples=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
vm=$here/vm.sh

skip() { echo "QEMU TESTS SKIPPED: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "the VM needs root (Debian's kernel image is readable by root only; run the tests as root)"
mkdir -p "$(dirname "$out")"
"$vm" setup >"$out.setup.log" 2>&1 || skip "installing QEMU and the guest tools failed: $(tail -n 3 "$out.setup.log")"
accel=$("$vm" accelerator)
echo "QEMU accelerator: $accel"

payload=$(mktemp -d)
sparse=$(mktemp -d)  # the payload for controllers without NSID 1
fleet=$(mktemp -d)   # the payload for three controllers
trap 'rm -rf "$payload" "$sparse" "$fleet"' EXIT
cp "$binary" "$payload/quellix"
cp "$here/payload.sh" "$payload/run.sh"
chmod +x "$payload/run.sh"
cp "$binary" "$sparse/quellix"
cp "$here/payload-namespaces.sh" "$sparse/run.sh"
chmod +x "$sparse/run.sh"
python3 - "$examples" "$payload" <<'PY' 2>/dev/null || {
import json, sys
examples, payload = sys.argv[1], sys.argv[2]
read = json.load(open(examples + "/read.cmd.json"))
read["read extended system data"] = True
json.dump(read, open(payload + "/read.cmd.json", "w"), indent=1)
read["samples"] = 3
json.dump(read, open(payload + "/multi.cmd.json", "w"), indent=1)
read["samples"] = 1
read["health limit"] = "CRITICAL"
json.dump(read, open(payload + "/limit.cmd.json", "w"), indent=1)
st = json.load(open(examples + "/self-test-short.cmd.json"))
json.dump(st, open(payload + "/selftest.cmd.json", "w"), indent=1)
PY
  sed 's/"read extended system data": false/"read extended system data": true/' "$examples/read.cmd.json" > "$payload/read.cmd.json"
  sed 's/"samples": 1,/"samples": 3,/' "$payload/read.cmd.json" > "$payload/multi.cmd.json"
  cp "$examples/self-test-short.cmd.json" "$payload/selftest.cmd.json"
  sed 's/"fail limit": 1,/"health limit": "CRITICAL", "fail limit": 1,/' "$examples/read.cmd.json" > "$payload/limit.cmd.json"
}

cp "$payload"/*.cmd.json "$sparse/"
cp "$binary" "$fleet/quellix"
cp "$here/payload-fleet.sh" "$fleet/run.sh"
chmod +x "$fleet/run.sh"
cp "$examples/read.cmd.json" "$fleet/fleet.cmd.json"

run_vm() {  # name, payload, VM options...
  local name=$1 from=$2; shift 2
  rm -rf "${out:?}/$name"
  "$vm" run --accel "$accel" --limit 200 "$@" "$from" "$out/$name" || {
    echo "VM run '$name' failed with $?; guest output:" >&2
    cat "$out/$name/_vm/payload.log" >&2 2>/dev/null || true
    return 1
  }
}

mkdir -p "$out"
run_vm default "$payload"
run_vm namespaces "$payload" --nvme-opts smart_critical_warning=4 \
  --ns '64M' --ns '256M,logical_block_size=4096,physical_block_size=4096' --ns '128M'
run_vm no-namespace "$sparse" --ns none
run_vm ns-2-5 "$sparse" --ns '64M,nsid=2,logical_block_size=4096,physical_block_size=4096' --ns '128M,nsid=5'
# Three controllers: one namespace, none, two; then the same controllers
# again, the third first, with the first boot's baselines.
run_vm fleet-first "$fleet" --controller QNVME0002:none --controller QNVME0003:64M,128M
cp -r "$out/fleet-first/baselines" "$fleet/baselines"
run_vm fleet-second "$fleet" --serial QNVME0003 --ns 64M --ns 128M --controller QNVME0001:1G --controller QNVME0002:none
echo "QEMU VMs done: $out"

#!/bin/sh
# Runs inside a VM with three controllers, as root, in /payload; results go
# to /out. The first boot reads every drive as a fleet and one at a time,
# and keeps each drive's info document as a baseline under another name;
# the second boot (the controllers in another order, /payload/baselines
# present) compares every drive with its own baseline and names drives by
# serial number and by namespace.
cd /payload
step() {  # name, command...
  name=$1; shift
  "$@" > "/out/$name.txt" 2>&1
  echo $? > "/out/$name.rc"
}
# Each controller: name, serial and the namespaces below it (or their paths).
for c in /sys/class/nvme/nvme*; do
  echo "$(basename "$c") $(cat "$c/serial") $(ls "$c" | grep -E '^nvme[0-9]+(c[0-9]+)?n[0-9]+$' | tr '\n' ' ')"
done > /out/controllers.txt
step list ./quellix --list --json
if [ ! -d baselines ]; then
  step fleet ./quellix fleet -n all -d /out/fleet --metrics /out/fleet.prom
  for c in /sys/class/nvme/nvme*; do
    n=${c##*/nvme}
    step "single$n" ./quellix fleet -n "$n" -d "/out/single$n"
  done
  mkdir -p /out/baselines
  for info in /out/fleet/*/nvme.info.json; do
    cp "$info" "/out/baselines/taken-on-$(basename "$(dirname "$info")" | cut -d- -f1).json"
  done
else
  step fleet ./quellix fleet -n all -d /out/fleet -c baselines
  step serial ./quellix fleet -n "serial:$(cat /sys/class/nvme/nvme2/serial)" -d /out/serial
  step namespace ./quellix fleet -n /dev/nvme1n1 -d /out/namespace
fi

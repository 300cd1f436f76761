#!/usr/bin/env bash
# A fleet read of three QEMU NVMe controllers (one namespace, none, two)
# against the three single-drive reads it stands for, in one VM: each
# `quellix read -n all` is paired with three `quellix read -n N` processes
# run one after the other moments before it (bench/qemu_timer.c "pair"), and
# the median of the ratios counts, so that the shared host's slow spells
# weigh on both sides alike. Target: <= 1.2.
# Needs root (tests/qemu/vm.sh). Kept apart from bench/qemu-ratios.sh, which
# compares one drive's read with nvme-cli.
#
# usage: bench/qemu-fleet.sh [QUELLIX_BINARY] [CALLS]
#   default: the installed binary (the README's Release build, installed
#   with `cmake --install` into a staging prefix); 5 calls in each of 3 rounds
set -euo pipefail
cd "$(dirname "$0")/.."
quellix=${1:-}
calls=${2:-5}
bash tests/qemu/vm.sh setup >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$quellix" ]; then
  bash tools/install-deps.sh >/dev/null
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUELLIX_TESTS=OFF >/dev/null
  cmake --build build-release -j"$(nproc)" >/dev/null
  cmake --install build-release --prefix "$work/installed" >/dev/null
  quellix=$work/installed/bin/quellix
fi
mkdir -p "$work/payload"
cp "$quellix" "$work/payload/quellix"
gcc -O2 -static bench/qemu_timer.c -o "$work/payload/qemu_timer"
sed -e 's/"read system data": true/"read system data": false/' examples/read.cmd.json > "$work/payload/read.cmd.json"
cat > "$work/payload/singles.sh" <<'SINGLES'
#!/bin/sh
for n in 0 1 2; do ./quellix read -n $n -d /tmp/single$n >/dev/null 2>&1 || exit 1; done
SINGLES
cat > "$work/payload/run.sh" <<RUN
#!/bin/sh
cd /payload
chmod +x singles.sh
for round in 1 2 3; do
  echo "fleet read \$(./qemu_timer pair $calls 1 ./quellix read -n all -d /tmp/fleet -- ./singles.sh)" >> /out/times
done
RUN
chmod +x "$work/payload/run.sh"
accel=$(bash tests/qemu/vm.sh accelerator)
bash tests/qemu/vm.sh run --accel "$accel" --limit 900 --controller QNVME0002:none --controller QNVME0003:64M,128M \
  "$work/payload" "$work/out"
awk -v accel="$accel" -v calls="$calls" '
  function median(list,    n, v, i, j, x) {
    n = split(list, v, " ")
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] + 0 < v[i] + 0) { x = v[i]; v[i] = v[j]; v[j] = x }
    return v[int((n + 1) / 2)]
  }
  { fleet = fleet " " $(NF - 2); single = single " " $(NF - 1); ratio = ratio " " $NF }
  END {
    printf "QEMU, three NVMe controllers, %s, one VM, %d pairs in each of 3 rounds, median round (ms per call)\n", accel, calls
    printf "  three single-drive read processes  %9.1f\n", median(single)
    printf "  quellix read -n all                %9.1f\n", median(fleet)
    printf "median ratio of the pairs (target): %.3f  (<= 1.2)\n", median(ratio)
  }' "$work/out/times"

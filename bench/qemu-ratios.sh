#!/usr/bin/env bash
# quellix against nvme-cli and smartctl on QEMU's NVMe controller, all in one
# VM run, as ratios that hold on any host: one `quellix read` process, one
# sample inside a 200-sample run and `quellix -h`, each divided by one
# `nvme smart-log` call; with smartctl -x and a bare Get Log Page ioctl for
# scale, and a static no-op process as the floor every process starts at.
# The quellix measured is the installed one: the README's Release build,
# installed with `cmake --install` into a staging prefix. Needs root
# (tests/qemu/vm.sh).
#
# Each quellix measure is paired with `nvme smart-log` calls made moments
# before it (bench/qemu_timer.c "pair"): a ratio per quellix call, then the
# median of those. The shared host's slow spells come and go within seconds;
# paired calls share them, where separate medians would not. One round
# takes each measure once; the median of three rounds counts.
#
# usage: bench/qemu-ratios.sh [CALLS]   (default 30 calls each, in each of 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-30}
bash tools/install-deps.sh >/dev/null
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUELLIX_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
bash tests/qemu/vm.sh setup >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload"
cmake --install build-release --prefix "$work/installed" >/dev/null
cp "$work/installed/bin/quellix" "$work/payload/quellix"
gcc -O2 -static bench/qemu_timer.c -o "$work/payload/qemu_timer"
sed -e 's/"read system data": true/"read system data": false/' examples/read.cmd.json > "$work/payload/read.cmd.json"
sed -e 's/"samples": 1,/"samples": 200,/' -e 's/"log sample rate": [0-9]*/"log sample rate": 0/' \
  "$work/payload/read.cmd.json" > "$work/payload/long.cmd.json"
# Three rounds, each measure once a round; the median round counts.
smart="/usr/sbin/nvme smart-log /dev/nvme0"
cat > "$work/payload/run.sh" <<RUN
#!/bin/sh
cd /payload
t=./qemu_timer
for round in 1 2 3; do
  echo "nvme smart-log \$(\$t run $calls $smart)" >> /out/times
  echo "smartctl -x \$(\$t run $calls /usr/sbin/smartctl -x /dev/nvme0)" >> /out/times
  echo "quellix read \$(\$t pair $calls 1 ./quellix read -n 0 -d /tmp/read -- $smart)" >> /out/times
  echo "quellix -h \$(\$t pair $calls 1 ./quellix -h -- $smart)" >> /out/times
  # Each 200-sample run beside the median of 9 smart-log calls.
  echo "quellix 200 samples \$(\$t pair 3 9 ./quellix long -n 0 -d /tmp/long -- $smart)" >> /out/times
  # The floor of any process: a static C program that does nothing.
  echo "static no-op process \$(\$t pair $calls 1 ./qemu_timer -- $smart)" >> /out/times
  echo "bare ioctl \$(\$t ioctl 1000 /dev/nvme0)" >> /out/times
done
RUN
chmod +x "$work/payload/run.sh"
accel=$(bash tests/qemu/vm.sh accelerator)
bash tests/qemu/vm.sh run --accel "$accel" --limit 600 "$work/payload" "$work/out"
# A line holds one figure (run, ioctl) or three (pair: quellix ms,
# smart-log ms, ratio); each figure's median over the rounds is reported.
kind=static
readelf -d "$work/payload/quellix" | grep NEEDED >/dev/null && kind="dynamically linked"
awk -v accel="$accel" -v calls="$calls" -v kind="$kind" '
  function median(list,    n, v, i, j, x) {
    n = split(list, v, " ")
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] + 0 < v[i] + 0) { x = v[i]; v[i] = v[j]; v[j] = x }
    return v[int((n + 1) / 2)]
  }
  {
    if ($(NF - 2) ~ /^[0-9.]+$/ && $(NF - 1) ~ /^[0-9.]+$/) {  # a pair
      name = $0; sub(/ +[0-9.]+ +[0-9.]+ +[0-9.]+$/, "", name)
      ms[name] = ms[name] " " $(NF - 2); ratio[name] = ratio[name] " " $NF
    } else {
      name = $0; sub(/ +[0-9.]+$/, "", name)
      ms[name] = ms[name] " " $NF
    }
  }
  END {
    for (name in ms) t[name] = median(ms[name])
    for (name in ratio) r[name] = median(ratio[name])
    printf "QEMU NVMe controller, %s, one VM, %d calls each, median of 3 rounds (ms per call)\n", accel, calls
    printf "quellix: the installed binary (%s)\n", kind
    printf "  nvme smart-log /dev/nvme0     %9.3f\n", t["nvme smart-log"]
    printf "  smartctl -x /dev/nvme0        %9.3f\n", t["smartctl -x"]
    printf "  quellix read (one process)    %9.3f\n", t["quellix read"]
    printf "  quellix -h                    %9.3f\n", t["quellix -h"]
    printf "  one sample of 200 in a run    %9.3f\n", t["quellix 200 samples"] / 200
    printf "  bare Get Log Page ioctl       %9.4f\n", t["bare ioctl"]
    printf "  a static no-op process        %9.3f\n", t["static no-op process"]
    printf "ratios to one nvme smart-log call made moments before (target):\n"
    printf "  quellix read       %6.3f  (<= 0.6)\n", r["quellix read"]
    printf "  one sample in run  %6.3f  (<= 0.07)\n", r["quellix 200 samples"] / 200
    printf "  quellix -h         %6.3f  (<= 0.12)\n", r["quellix -h"]
    printf "  static no-op       %6.3f  (any process starts at this)\n", r["static no-op process"]
  }' "$work/out/times"

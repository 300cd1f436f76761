#!/usr/bin/env bash
# quellix against nvme-cli and smartctl on QEMU's NVMe controller, all in one
# VM run, as ratios that hold on any host: one `quellix read` process, one
# sample inside a 200-sample run and `quellix -h`, each divided by one
# `nvme smart-log` call; with smartctl -x and a bare Get Log Page ioctl for
# scale. Needs root (tests/qemu/vm.sh).
#
# Each figure is the median of the calls of a round (the 200-sample run:
# three runs a round), and the median of the three rounds counts.
#
# usage: bench/qemu-ratios.sh [CALLS]   (default 30 calls each, in each of 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-30}
quellix=$(bash tools/build-static.sh)
bash tests/qemu/vm.sh setup >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload"
cp "$quellix" "$work/payload/quellix"
gcc -O2 -static bench/qemu_timer.c -o "$work/payload/qemu_timer"
sed -e 's/"read system data": true/"read system data": false/' examples/read.cmd.json > "$work/payload/read.cmd.json"
sed -e 's/"samples": 1,/"samples": 200,/' -e 's/"log sample rate": [0-9]*/"log sample rate": 0/' \
  "$work/payload/read.cmd.json" > "$work/payload/long.cmd.json"
# Three rounds, each measure once a round, so that a slow spell of the
# shared host touches every measure alike; the median round counts.
cat > "$work/payload/run.sh" <<RUN
#!/bin/sh
cd /payload
t=./qemu_timer
for round in 1 2 3; do
  echo "nvme smart-log \$(\$t run $calls /usr/sbin/nvme smart-log /dev/nvme0)" >> /out/times
  echo "smartctl -x \$(\$t run $calls /usr/sbin/smartctl -x /dev/nvme0)" >> /out/times
  echo "quellix read \$(\$t run $calls ./quellix read -n 0 -d /tmp/read)" >> /out/times
  echo "quellix -h \$(\$t run $calls ./quellix -h)" >> /out/times
  echo "quellix 200 samples \$(\$t run 3 ./quellix long -n 0 -d /tmp/long)" >> /out/times
  echo "static no-op process \$(\$t run $calls ./qemu_timer)" >> /out/times
  echo "bare ioctl \$(\$t ioctl 1000 /dev/nvme0)" >> /out/times
done
RUN
chmod +x "$work/payload/run.sh"
accel=$(bash tests/qemu/vm.sh accelerator)
bash tests/qemu/vm.sh run --accel "$accel" --limit 600 "$work/payload" "$work/out"
awk -v accel="$accel" -v calls="$calls" '
  { value = $NF; $NF = ""; sub(/ +$/, ""); seen[$0] = seen[$0] " " value }
  END {
    for (name in seen) {  # the median of the rounds
      n = split(seen[name], v, " ")
      for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] + 0 < v[i] + 0) { x = v[i]; v[i] = v[j]; v[j] = x }
      t[name] = v[int((n + 1) / 2)]
    }
    smart = t["nvme smart-log"]; sample = t["quellix 200 samples"] / 200
    printf "QEMU NVMe controller, %s, one VM, median of %d calls (200-sample run: of 3) in each of 3 rounds, median round (ms per call)\n", accel, calls
    printf "  nvme smart-log /dev/nvme0     %9.3f\n", smart
    printf "  smartctl -x /dev/nvme0        %9.3f\n", t["smartctl -x"]
    printf "  quellix read (one process)    %9.3f\n", t["quellix read"]
    printf "  quellix -h                    %9.3f\n", t["quellix -h"]
    printf "  one sample of 200 in a run    %9.3f\n", sample
    printf "  bare Get Log Page ioctl       %9.4f\n", t["bare ioctl"]
    printf "  a static no-op process        %9.3f\n", t["static no-op process"]
    printf "ratios to one nvme smart-log call (target):\n"
    printf "  quellix read       %6.2f  (<= 1)\n", t["quellix read"] / smart
    printf "  one sample in run  %6.2f  (<= 0.1)\n", sample / smart
    printf "  quellix -h         %6.2f  (<= 0.1)\n", t["quellix -h"] / smart
  }' "$work/out/times"

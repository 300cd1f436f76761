#!/usr/bin/env bash
# Builds an optimised quellix with its benchmarks and reports the per-sample
# costs (Google Benchmark) and whole runs of the built binary on the
# built-in simulated drive: 1,000 samples at interval 0 with the default
# file rule, start-up time, and peak memory of 1,000, 10,000 and (with
# QUELLIX_BENCH_LONG=1, about two minutes and 0.7 GB of summary on disk)
# 100,000 samples.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
command -v /usr/bin/time >/dev/null || { apt-get update -qq; apt-get install -y -qq time; }
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUELLIX_BENCH=ON -DQUELLIX_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(free -g | awk '/Mem:/{print $2}') GiB"
echo "== per-sample costs"
(cd "$work" && "$OLDPWD/build-bench/bench/quellix_bench" --benchmark_min_time=2)

make_command() {  # samples file
  sed -e "s/\"samples\": 1,/\"samples\": $1,/" -e 's/"read system data": true/"read system data": false/' \
    examples/read.cmd.json > "$2"
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
quellix="$PWD/build-bench/quellix"

echo "== whole runs"
make_command 1000 "$work/k.cmd.json"
make_command 10000 "$work/t.cmd.json"
start=$(date +%s%N)
(cd "$work" && "$quellix" k -n sim -d run1k >/dev/null)
end=$(date +%s%N)
echo "1,000 samples at interval 0: $(( (end - start) / 1000000 )) ms"
starts=20
start=$(date +%s%N)
for _ in $(seq $starts); do (cd "$work" && "$quellix" -u >/dev/null); done
end=$(date +%s%N)
echo "start-up (quellix -u, mean of $starts): $(( (end - start) / starts / 1000 )) us"
base=$(cd "$work" && peak_kb "$quellix" -u)
k=$(cd "$work" && peak_kb "$quellix" k -n sim -d mem1k)
t=$(cd "$work" && peak_kb "$quellix" t -n sim -d mem10k)
echo "peak memory: start-up ${base} KB, 1,000 samples ${k} KB, 10,000 samples ${t} KB"
echo "memory growth per sample: $(( (t - k) * 1000 / 9000 )) bytes (between 1,000 and 10,000 samples)"
if [ "${QUELLIX_BENCH_LONG:-}" = 1 ]; then
  make_command 100000 "$work/h.cmd.json"
  h=$(cd "$work" && peak_kb "$quellix" h -n sim -d mem100k)
  echo "peak memory: 100,000 samples ${h} KB ($(awk -v h="$h" -v k="$k" 'BEGIN { printf "%.3f", h / k }') x 1,000 samples)"
  echo "memory growth per sample: $(( (h - k) * 1000 / 99000 )) bytes (between 1,000 and 100,000 samples)"
fi

echo "== every drive of a host: 16 simulated drives in one fleet run"
bash bench/fleet-bench.sh "$quellix"

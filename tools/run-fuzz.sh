#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its
# committed seed corpus. Fails on any crash, leak, timeout or uncaught
# exception; prints the executions of every target.
#
# usage: run-fuzz.sh [SECONDS_PER_TARGET]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
missing=()
for package in clang libclang-rt-14-dev; do dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package"); done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Light optimisation and line tables only: quick to build, fast enough to fuzz, readable traces.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DQUELLIX_FUZZ=ON \
  -DQUELLIX_TESTS=OFF >/dev/null
targets=(fuzz_identify fuzz_log_pages fuzz_sample fuzz_settings fuzz_rules fuzz_compare fuzz_sim_description
         fuzz_json fuzz_journal)
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  corpus=$work/$target
  mkdir -p "$corpus" "$work/artifacts/$target"
  [ -d "fuzz/corpus/$target" ] && cp fuzz/corpus/$target/* "$corpus/" 2>/dev/null || true
  if [ "$target" = fuzz_sim_description ]; then cp examples/drives/*.json "$corpus/"; fi
  (cd "$work" && "$OLDPWD/build-fuzz/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=10 \
     -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target/" \
     >"$work/$target.log" 2>&1) || {
    status=1
    echo "FUZZ FAILURE in $target:"
    grep -E "ERROR|SUMMARY|==ERROR|runtime error|uncaught|Test unit written" "$work/$target.log" | head -n 20
    for artifact in "$work/artifacts/$target"/*; do
      [ -f "$artifact" ] && { echo "input ($(basename "$artifact")):"; od -c "$artifact" | head -n 20; }
    done
  }
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$target.log" | grep -o '[0-9]*$' || echo "?")
  coverage=$(grep -o 'cov: [0-9]*' "$work/$target.log" | tail -n 1 || true)
  echo "$target: $runs executions in ${seconds} s ($coverage)"
done
exit $status

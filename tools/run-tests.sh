#!/usr/bin/env bash
# Installs what is missing, builds quellix and its tests three times (plain,
# with AddressSanitizer and UndefinedBehaviorSanitizer, and for Windows with
# mingw-w64) and runs every test (the Windows tests under wine); runs every
# fuzz target for a bounded time; builds the self-contained static binary
# and checks it against the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh --tests
jobs=$(nproc)

echo "== plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUELLIX_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

echo "== fuzzing: libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, 15 s a target"
bash tools/run-fuzz.sh 15

echo "== Windows build, tests under wine"
bash tools/build-windows.sh

echo "== self-contained static build"
bash tools/build-static.sh >/dev/null
bash tests/packaging/static_test.sh build-static/quellix build/quellix

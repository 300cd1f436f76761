#!/usr/bin/env bash
# Installs what is missing, builds quellix and its tests three times (plain,
# with AddressSanitizer and UndefinedBehaviorSanitizer, and for Windows with
# mingw-w64) and runs every test (the Windows tests under wine); runs every
# fuzz target for a bounded time; builds, installs and packages quellix with
# the README's commands (the self-contained static binary) and checks the
# installation, the package and the binary against the plain build.
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

echo "== the installed build: the README's Release build, self-contained"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUELLIX_TESTS=OFF >/dev/null
cmake --build build-release -j"$jobs"
bash tests/packaging/install_test.sh build-release
bash tests/packaging/static_test.sh build-release/quellix build/quellix

#!/usr/bin/env bash
# Line coverage of source/ from one instrumented build (gcc --coverage, gcovr):
# builds into build-coverage, runs the unit and end-to-end tests, and prints
# the coverage of all of source/ and of its platform-free code (everything
# but the Linux and Windows bindings and host files, *_linux.* and
# *windows*).
#
# usage: coverage.sh [--files]   (--files: one line per file as well)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh --tests >/dev/null
dpkg -s gcovr >/dev/null 2>&1 || { apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr; }
cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build build-coverage -j"$(nproc)" >/dev/null
find build-coverage -name '*.gcda' -delete
# The VM runs quellix inside the guest, where no coverage is counted.
ctest --test-dir build-coverage -j"$(nproc)" -E 'qemu_test' >/dev/null || echo "coverage: some tests failed"
common=(--root . --object-directory build-coverage --filter 'source/')
# gcovr replaces its output file, so it gets one of its own (never /dev/null).
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
echo "== all of source/"
gcovr "${common[@]}" --print-summary -o "$summary" | grep -E '^(lines|functions)'
echo "== platform-free code of source/ (without *_linux.* and *windows*)"
gcovr "${common[@]}" --exclude '.*_linux\..*' --exclude '.*windows.*' --print-summary -o "$summary" | grep -E '^(lines|functions)'
if [ "${1:-}" = --files ]; then
  gcovr "${common[@]}" --exclude '.*_linux\..*' --exclude '.*windows.*' --sort-percentage
fi

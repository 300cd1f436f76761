#!/usr/bin/env bash
# Builds the self-contained quellix: jsoncpp, spdlog, fmt and the C and C++
# runtimes linked statically. One file that runs on any x86-64 Linux, and
# starts without loading or relocating shared libraries
# (docs/benchmarks.md). Output: build-static/quellix.
#
# usage: tools/build-static.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-static}
deps=$(realpath -m "$build/deps")  # a relative or an absolute build folder
bash tools/install-deps.sh --static >/dev/null
bash tools/stage-deps.sh "$deps"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUELLIX_TESTS=OFF -DQUELLIX_DEPS="$deps" >/dev/null
cmake --build "$build" -j"$(nproc)" --target quellix >/dev/null
echo "$build/quellix"

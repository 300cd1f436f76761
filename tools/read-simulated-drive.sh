#!/usr/bin/env bash
# Installs what is missing, builds quellix and reads the built-in simulated
# drive once; the results land in ./results.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quellix
./build/quellix examples/read -n sim -d results
echo "Info document: $PWD/results/nvme.info.json"
echo "Read summary:  $PWD/results/read.summary.json"

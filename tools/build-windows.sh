#!/usr/bin/env bash
# Builds quellix.exe and the Windows tests with Debian's mingw-w64 and runs
# the tests under wine. Installs what is missing: the cross compiler, wine,
# and jsoncpp's Debian source package (built for Windows with the rest).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-windows
deps=$PWD/$build/deps

missing=()
for package in g++-mingw-w64-x86-64-posix wine64 wine dpkg-dev libspdlog-dev libfmt-dev rapidjson-dev \
               libjsoncpp-dev googletest cmake make; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

bash tools/stage-deps.sh "$deps"

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DQUELLIX_DEPS="$deps" -DCMAKE_CXX_FLAGS="-Werror" >/dev/null
cmake --build "$build" -j"$(nproc)"

# One persistent wine server with its services, started outside ctest's pipes.
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k >/dev/null 2>&1 || true  # a server left from an earlier run would never let -w return
wineboot --init >/dev/null 2>&1 || true
wineserver -w
wineserver -p
wine net start winmgmt >/dev/null 2>&1 </dev/null || true
status=0
ctest --test-dir "$build" --output-on-failure --timeout 120 || status=$?
# How many commands went through the storage driver double (windows_binding_test).
grep -h '^\[storage driver double\] [0-9]' "$build/Testing/Temporary/LastTest.log" 2>/dev/null || true
wineserver -k || true
exit $status

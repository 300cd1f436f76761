#!/usr/bin/env bash
# Builds quellix.exe and the Windows tests with Debian's mingw-w64 and runs
# the tests under wine. Installs what is missing: the cross compiler, wine,
# and jsoncpp's Debian source package (built for Windows with the rest).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-windows
deps=$PWD/$build/deps

missing=()
for package in g++-mingw-w64-x86-64-posix wine64 wine dpkg-dev libboost-dev libspdlog-dev libfmt-dev \
               libjsoncpp-dev googletest cmake make; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Header-only dependencies: a folder with only these names, so no glibc
# header reaches the cross compiler.
mkdir -p "$deps/include"
for name in boost spdlog fmt; do ln -sfn "/usr/include/$name" "$deps/include/$name"; done
if [ ! -f "$deps/jsoncpp/src/lib_json/json_value.cpp" ]; then
  # jsoncpp has no mingw build in Debian: build it from its source package.
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    # Source entries derived from the machine's own Debian entry.
    main=$(grep -rlE '^(URIs:|deb) .*debian\.org' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null | head -n1 || true)
    if [ -n "$main" ] && grep -q '^Types:' "$main"; then
      sed -e 's/^Types: deb$/Types: deb-src/' "$main" > /etc/apt/sources.list.d/quellix-deb-src.sources
    elif [ -n "$main" ]; then
      grep -E '^deb ' "$main" | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/quellix-deb-src.list
    fi
    apt-get update -qq
  fi
  rm -rf "$deps/source" && mkdir -p "$deps/source"
  (cd "$deps/source" && apt-get source -qq libjsoncpp >/dev/null)
  rm -rf "$deps/jsoncpp" && mv "$deps/source"/libjsoncpp-*/ "$deps/jsoncpp" 2>/dev/null ||
    mv "$(find "$deps/source" -maxdepth 1 -type d -name 'libjsoncpp*' | head -n1)" "$deps/jsoncpp"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DQUELLIX_WINDOWS_DEPS="$deps" -DCMAKE_CXX_FLAGS="-Werror" >/dev/null
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
wineserver -k || true
exit $status

#!/usr/bin/env bash
# Stages the dependencies of a self-contained build in one folder: symbolic
# links to the header-only spdlog, fmt and RapidJSON (a folder with only these
# names, so no glibc header reaches a cross compiler) and jsoncpp's Debian
# source package, compiled into the program instead of linked as a shared
# library. Used by the Windows build and by the self-contained Linux binary
# of a Release build (tools/install-deps.sh stages it in deps/).
#
# usage: tools/stage-deps.sh DIR
set -euo pipefail
deps=${1:?usage: tools/stage-deps.sh DIR}
mkdir -p "$deps/include"
for name in spdlog fmt rapidjson; do ln -sfn "/usr/include/$name" "$deps/include/$name"; done
[ -f "$deps/jsoncpp/src/lib_json/json_value.cpp" ] && exit 0

if ! dpkg -s dpkg-dev >/dev/null 2>&1; then  # apt-get source unpacks with dpkg-source
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev
fi

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
(cd "$deps/source" && apt-get source -qq -o APT::Sandbox::User=root libjsoncpp >/dev/null)
rm -rf "$deps/jsoncpp" && mv "$deps/source"/libjsoncpp-*/ "$deps/jsoncpp" 2>/dev/null ||
  mv "$(find "$deps/source" -maxdepth 1 -type d -name 'libjsoncpp*' | head -n1)" "$deps/jsoncpp"

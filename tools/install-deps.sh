#!/usr/bin/env bash
# Installs the Debian packages quellix needs to build, when missing, and
# stages jsoncpp's Debian source package in deps/ for the self-contained
# binary that a Release build links (tools/stage-deps.sh); with --tests also
# what its tests use (packaging, man page, Prometheus tools, browser, the schema
# validator).
set -euo pipefail
cd "$(dirname "$0")/.."
# lld and valgrind: the Release build lays out the functions a short run
# uses side by side, in an order it profiles (tools/link-order.sh).
packages=(cmake g++ make pkg-config libjsoncpp-dev libspdlog-dev libfmt-dev dpkg-dev lld valgrind
          libgtest-dev libgmock-dev libbenchmark-dev rapidjson-dev)
for option in "$@"; do
  case $option in
    --tests) packages+=(groff man-db lintian prometheus prometheus-node-exporter systemd curl
                        chromium chromium-driver python3-selenium python3-pil python3-jsonschema) ;;
  esac
done
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
bash tools/stage-deps.sh deps

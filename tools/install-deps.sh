#!/usr/bin/env bash
# Installs the Debian packages quellix needs to build, when missing; with
# --tests also what its tests use (packaging, man page, Prometheus tools,
# the schema validator), with --static the static build's linker.
set -euo pipefail
packages=(cmake g++ make pkg-config libjsoncpp-dev libspdlog-dev libfmt-dev
          libgtest-dev libgmock-dev libbenchmark-dev rapidjson-dev)
for option in "$@"; do
  case $option in
    --tests) packages+=(dpkg-dev groff man-db prometheus prometheus-node-exporter systemd curl
                        chromium chromium-driver python3-selenium python3-pil python3-jsonschema) ;;
    --static) packages+=(lld) ;;  # the static build's linker (tools/build-static.sh)
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

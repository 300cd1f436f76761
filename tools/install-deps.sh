#!/usr/bin/env bash
# Installs the Debian packages quellix needs to build and test, when missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libjsoncpp-dev libspdlog-dev libfmt-dev libboost-dev
          libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev groff man-db)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

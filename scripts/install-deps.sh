#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Idempotent; run as root.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  libusb-1.0-0-dev libhidapi-dev libudev-dev libxerces-c-dev
  libboost-dev libboost-system-dev libboost-filesystem-dev libboost-locale-dev libboost-thread-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev usbutils
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

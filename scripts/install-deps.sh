#!/usr/bin/env bash
# Installs the Debian packages that building and testing the SDK needs.
# On a machine that already has them all it does nothing (unless CI is set,
# where it always asks apt so that a missing package can never hide).
set -euo pipefail

PACKAGES=(
  cmake
  g++
  make
  pkg-config
  libopencv-dev
  libssl-dev
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  # regenerate the ONNX fixtures of the plug-in tests and the benchmark
  python3-onnx
  python3-numpy
  # build the data pack: convert, adapt and check the networks
  python3-opencv
)

# The data pack fetches its source models with npm.  Machines of this kind
# usually have Node.js already; otherwise Debian's packages provide it.
if ! command -v npm >/dev/null 2>&1; then
  PACKAGES+=(nodejs npm)
fi

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ] && [ -z "${CI:-}" ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y "${PACKAGES[@]}"

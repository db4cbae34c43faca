#!/usr/bin/env bash
# Installs every Debian package velmora needs and configures a Release build in build/.
# Idempotent and safe to re-run as root (uses sudo when not root).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(build-essential cmake pkg-config libeigen3-dev libboost-dev liburdfdom-dev parallel
          libmujoco-dev cyclonedds-dev cyclonedds-tools python3 libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format
          clang libfuzzer-14-dev libclang-rt-14-dev
          chromium libpng-dev
          libegl-dev libegl1 libegl-mesa0 libgl1-mesa-dri libglfw3-dev ffmpeg xvfb xdotool)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release "$@"

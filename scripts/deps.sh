#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those
# that are missing. Quiet and quick when everything is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  clang libclang-rt-14-dev
  libsdl2-dev
  libgl-dev libgl1-mesa-dri libglx-mesa0
  libpng-dev zlib1g-dev libjpeg-dev
  libfreetype-dev
  libvorbis-dev libogg-dev
  libopenal-dev libopenal1
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

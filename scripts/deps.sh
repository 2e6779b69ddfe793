#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those
# that are missing. Quiet and quick when everything is already present.
#
#   scripts/deps.sh               what building and testing need
#   scripts/deps.sh --build       only what building the game needs
#   scripts/deps.sh --build-list  print that list, one a line, and install nothing
#   scripts/deps.sh --install PKG...  the named packages (the web build's and
#                                 the packaging's tools), if missing
set -euo pipefail

# What building the game needs. debian/control's Build-Depends names the same
# packages (scripts/package.sh checks that they agree) except build-essential,
# which Debian takes as given.
BUILD_PACKAGES=(
  build-essential cmake pkg-config
  libsdl2-dev
  libgl-dev
  libpng-dev zlib1g-dev libjpeg-dev
  libfreetype-dev
  libvorbis-dev libogg-dev
  libopenal-dev
  libcpp-httplib-dev libsqlite3-dev libpq-dev nlohmann-json3-dev libssl-dev
  libcurl4-openssl-dev
  libseccomp-dev
)
# What the tests, benchmarks, fuzz targets and tools need besides: a virtual
# X server with software OpenGL, the OpenAL runtime, test and benchmark
# libraries, clang for libFuzzer, a font for tests that draw text, and for the
# score server's tests Python, a PostgreSQL server and wrk.
TEST_PACKAGES=(
  git
  clang libclang-rt-14-dev
  libgl1-mesa-dri libglx-mesa0
  libopenal1
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core
  python3 postgresql wrk time
)

PACKAGES=("${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
case "${1:-}" in
  --build-list) printf '%s\n' "${BUILD_PACKAGES[@]}"; exit 0 ;;
  --build) PACKAGES=("${BUILD_PACKAGES[@]}") ;;
  --install) shift; PACKAGES=("$@") ;;
esac

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

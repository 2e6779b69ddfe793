#!/usr/bin/env bash
# The game in a web browser.
#   scripts/web.sh build   install what is missing, build the libraries once
#                          (cached outside the tree) and the site in build-web/site/
#   scripts/web.sh         the same, then serve the site at http://127.0.0.1:8000/
#   scripts/web.sh serve   serve an already built site
# The libraries (SDL2, zlib, libpng, libogg, libvorbis, FreeType) are built
# for WebAssembly from Debian's own source packages into
# ${WORMLOB_WEB_CACHE:-/var/cache/wormlob2-web}/<key>, where the key names the
# compiler and the source versions, so later builds skip them.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)
ACTION=${1:-all}
PORT=${WORMLOB_WEB_PORT:-8000}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Debian's emcc runs its JavaScript helpers with node, which finds Debian's
# acorn only through NODE_PATH; node 20's fetch breaks the run tests that
# configure scripts make under node.
export NODE_PATH=/usr/share/nodejs
export NODE_OPTIONS=--no-experimental-fetch

install_missing() {
  local want=(emscripten chromium dpkg-dev cmake make pkg-config python3 gzip)
  command -v node >/dev/null || want+=(nodejs)
  command -v npm >/dev/null || want+=(npm)
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "web: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  # apt-get source needs a deb-src entry; one for the release and its
  # updates is added when there is none.
  if ! grep -rqs '^\(deb-src\|Types:.*deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    local suite
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "web: adding a deb-src entry for $suite"
    $SUDO tee /etc/apt/sources.list.d/wormlob2-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    $SUDO apt-get update -qq
  fi
  if [ ! -d "$ROOT/web/node_modules/puppeteer-core" ]; then
    (cd "$ROOT/web" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

# Source packages: name, and the suite when the release's own version is
# wanted rather than the newest.
SUITE=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-bookworm}")
SOURCES=("zlib/$SUITE" "libpng1.6/$SUITE" libogg libvorbis freetype libsdl2)

source_version() {  # package[/suite] -> version apt-get source would fetch
  local pkg=${1%/*} suite=""
  [ "$pkg" != "$1" ] && suite=${1#*/}
  if [ -n "$suite" ]; then
    apt-get source --print-uris -qq "$1" 2>/dev/null | grep -o "${pkg}_[^ ']*\.dsc" | head -1 | sed "s/^${pkg}_//; s/\.dsc$//"
  else
    apt-get source --print-uris -qq "$pkg" 2>/dev/null | grep -o "${pkg}_[^ ']*\.dsc" | head -1 | sed "s/^${pkg}_//; s/\.dsc$//"
  fi
}

cache_dir() {
  local key emver
  emver=$(emcc -dumpversion 2>/dev/null || echo unknown)
  key="emcc-$emver"
  for s in "${SOURCES[@]}"; do key="$key ${s%/*}-$(source_version "$s")"; done
  # The recipe below is part of the key: changing a flag rebuilds.
  key="$key $(sed -n '/^build_libraries()/,/^}/p' "$0" | sha256sum | cut -c1-12)"
  echo "${WORMLOB_WEB_CACHE:-/var/cache/wormlob2-web}/$(echo "$key" | sha256sum | cut -c1-16)"
}

build_libraries() {
  local prefix=$1 work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  cd "$work"
  echo "web: fetching ${SOURCES[*]}"
  apt-get source -qq "${SOURCES[@]}" >/dev/null 2>apt-source.log || { cat apt-source.log; return 1; }
  local cm=(emcmake cmake -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
            -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix"
            -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node -DBUILD_SHARED_LIBS=OFF)

  echo "web: zlib"
  (cd zlib-*/ && emconfigure ./configure --static --prefix="$prefix" >/dev/null &&
     emmake make -j"$JOBS" libz.a >/dev/null && emmake make install >/dev/null)

  echo "web: libpng"
  "${cm[@]}" -S libpng1.6-*/ -B b-png -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" >/dev/null
  cmake --build b-png -j"$JOBS" >/dev/null && cmake --install b-png >/dev/null

  echo "web: libogg"
  "${cm[@]}" -S libogg-*/ -B b-ogg -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build b-ogg -j"$JOBS" >/dev/null && cmake --install b-ogg >/dev/null

  echo "web: libvorbis"
  "${cm[@]}" -S libvorbis-*/ -B b-vorbis -DBUILD_TESTING=OFF >/dev/null
  cmake --build b-vorbis -j"$JOBS" >/dev/null && cmake --install b-vorbis >/dev/null

  echo "web: freetype"
  "${cm[@]}" -S freetype-*/ -B b-ft -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON >/dev/null
  cmake --build b-ft -j"$JOBS" >/dev/null && cmake --install b-ft >/dev/null

  echo "web: SDL2 (the longest)"
  # No threads: the page runs one thread, and SDL's audio and timers then
  # run from the browser's own callbacks.
  "${cm[@]}" -S libsdl2-*/ -B b-sdl -DSDL_THREADS=OFF -DSDL_SHARED=OFF -DSDL_STATIC=ON \
    -DSDL_TEST=OFF >/dev/null
  cmake --build b-sdl -j"$JOBS" >/dev/null && cmake --install b-sdl >/dev/null
  cd "$ROOT"
}

ensure_libraries() {
  local prefix
  prefix=$(cache_dir)
  if [ ! -f "$prefix/.complete" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    local t0=$SECONDS
    build_libraries "$prefix"
    touch "$prefix/.complete"
    echo "web: libraries built in $((SECONDS - t0)) s into $prefix"
  fi
  LIB_PREFIX=$prefix
}

build_site() {
  ensure_libraries
  local prefix=$LIB_PREFIX
  emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DWORMLOB_WEB_PREFIX="$prefix" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node -DWORMLOB_TESTS=OFF -DWORMLOB_BENCH=OFF \
    -DWORMLOB_TOOLS=OFF >/dev/null
  cmake --build build-web -j"$JOBS" --target wormlob2_site
  echo "web: site in $ROOT/build-web/site/"
}

serve() {
  echo "web: serving http://127.0.0.1:$PORT/ (Ctrl-C stops)"
  exec python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$ROOT/build-web/site"
}

case "$ACTION" in
  build) install_missing; build_site ;;
  serve) serve ;;
  all) install_missing; build_site; serve ;;
  libs) install_missing; ensure_libraries ;;
  *) echo "usage: scripts/web.sh [build|serve]" >&2; exit 2 ;;
esac

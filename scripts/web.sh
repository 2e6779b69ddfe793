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
  bash "$ROOT/scripts/deps.sh" --install "${want[@]}"
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
  echo "${WORMLOB_WEB_CACHE:-/var/cache/wormlob2-web}/$(echo "$key" | sha256sum | cut -c1-16)"
}

# One library: built unless its stamp in the prefix names the same recipe
# (a changed flag rebuilds that library alone). Sources are fetched once
# per build into WORK.
build_library() {  # name source-package-glob recipe...
  local name=$1 src=$2
  shift 2
  local stamp="$PREFIX/.built-$name" recipe="$*"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then return 0; fi
  if [ -z "$WORK" ]; then
    WORK=$(mktemp -d)
    echo "web: fetching ${SOURCES[*]}"
    (cd "$WORK" && apt-get source -qq "${SOURCES[@]}" >/dev/null 2>apt-source.log) ||
      { cat "$WORK/apt-source.log"; return 1; }
  fi
  echo "web: building $name"
  local t0=$SECONDS dir
  dir=$(ls -d "$WORK"/$src-*/ | head -1)
  (cd "$dir" && eval "$recipe") >"$WORK/$name.log" 2>&1 || { tail -40 "$WORK/$name.log"; return 1; }
  echo "$recipe" >"$stamp"
  echo "web: $name built in $((SECONDS - t0)) s"
}

ensure_libraries() {
  PREFIX=$(cache_dir)
  WORK=""
  mkdir -p "$PREFIX"
  local P=$PREFIX
  local cm="emcmake cmake -S . -B _b -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$P \
    -DCMAKE_PREFIX_PATH=$P -DCMAKE_FIND_ROOT_PATH=$P -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node \
    -DBUILD_SHARED_LIBS=OFF"
  local make="cmake --build _b -j$JOBS && cmake --install _b"
  build_library zlib zlib "emconfigure ./configure --static --prefix=$P && emmake make -j$JOBS libz.a && emmake make install"
  build_library libpng libpng1.6 "$cm -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_INCLUDE_DIR=$P/include -DZLIB_LIBRARY=$P/lib/libz.a && $make"
  build_library libogg libogg "$cm -DINSTALL_DOCS=OFF && $make"
  build_library libvorbis libvorbis "$cm && $make"
  # FreeType reads fonts through the same zlib (its own copy would clash).
  build_library freetype freetype "$cm -DFT_REQUIRE_ZLIB=ON -DZLIB_INCLUDE_DIR=$P/include \
    -DZLIB_LIBRARY=$P/lib/libz.a -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
    -DFT_DISABLE_BROTLI=ON && $make"
  # No threads: the page runs one thread, and SDL's audio and timers then
  # run from the browser's own callbacks. The longest of them.
  build_library sdl2 libsdl2 "$cm -DSDL_THREADS=OFF -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF && $make"
  [ -n "$WORK" ] && rm -rf "$WORK"
  LIB_PREFIX=$PREFIX
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
  cache-dir) cache_dir ;;
  *) echo "usage: scripts/web.sh [build|serve]" >&2; exit 2 ;;
esac

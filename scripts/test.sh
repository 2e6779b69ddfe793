#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit
# and end-to-end tests under a virtual X server with software OpenGL, then
# each libFuzzer target for a bounded time on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

bash scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWORMLOB_TESTS=ON >/dev/null
cmake --build build -j"$JOBS"

export LIBGL_ALWAYS_SOFTWARE=1
export SDL_AUDIODRIVER=dummy
export ALSOFT_DRIVERS=null
# Every test must run here: one that would skip itself (no display, no
# font) fails instead.
export WORMLOB_NO_SKIP=1
status=0
# The score server's tests need no display and mostly wait on replays,
# sockets and their own PostgreSQL clusters: they run beside the others,
# two at a time, and their output follows once both groups are done.
ctest --test-dir build --output-on-failure --no-tests=error -R '^server_' -j2 \
  >build/server-tests.log 2>&1 &
server_tests=$!
xvfb-run -a -s "-screen 0 1280x960x24" \
  ctest --test-dir build --output-on-failure --no-tests=error -E '^server_' -j1 || status=1
wait $server_tests || status=1
cat build/server-tests.log

# Fuzzing: a clang build with libFuzzer, ASan and UBSan. Every target in
# tests/fuzz/ and server/fuzz/ must be built and run: without clang++ (deps.sh installs it)
# or without a target the run fails, so fuzzing cannot drop out unnoticed.
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing, no target was built"; status=1
else
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DWORMLOB_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz -j"$JOBS" || { echo "fuzz: the build failed"; status=1; }
fi
for source in tests/fuzz/*_fuzz.cpp server/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  dir=$(dirname "$source")
  fuzzer=build-fuzz/$dir/${name}_fuzz
  if [ ! -x "$fuzzer" ]; then
    echo "fuzz: $name FAILED: $fuzzer was not built"; status=1; continue
  fi
  seeds="$ROOT/$dir/${name}_seeds"
  if [ ! -d "$seeds" ]; then
    echo "fuzz: $name FAILED: its seed folder $seeds is missing"; status=1; continue
  fi
  corpus=$(mktemp -d)
  cp -r "$seeds"/. "$corpus"/
  # Inputs that crash are kept outside the throwaway corpus.
  artifacts="$ROOT/build-fuzz/artifacts/$name"
  mkdir -p "$artifacts"
  secs=10
  [ "$name" = setup ] && secs=20
  # The whole game plays up to 6,000 frames an input: give it time. Its
  # program keeps tables across inputs, so libFuzzer's leak check would
  # play every input a second time; LeakSanitizer still checks at exit.
  tmo=10 leaks=1
  [ "$name" = game ] && secs=20 && tmo=60 && leaks=0
  echo "fuzz: $name for ${secs}s"
  if ! (cd "$corpus" && UBSAN_OPTIONS=halt_on_error=1 "$ROOT/$fuzzer" -max_total_time=$secs \
        -max_len=65536 -timeout=$tmo -detect_leaks=$leaks -rss_limit_mb=2048 -print_final_stats=0 \
        -artifact_prefix="$artifacts/" "$corpus" >"$corpus/log.txt" 2>&1); then
    echo "fuzz: $name FAILED"; tail -40 "$corpus/log.txt"; status=1
    echo "fuzz: $name: the inputs that failed are kept in $artifacts"
  fi
  rm -rf "$corpus"
done

# The browser build, tested in headless Chromium against the desktop
# program. The WebAssembly libraries are cached outside the tree, so only the
# first run builds them.
echo "web: building the site"
mkdir -p build-web
if bash scripts/web.sh build >build-web/build.log 2>&1; then
  timeout -k 30 900 node web/test.js build-web/site build/wormlob2 Files build-web/shots || status=1
  timeout -k 30 900 node web/input_test.js build-web/site build-web/shots || status=1
  # The page served by the real score server: a game ranked, listed, watched.
  timeout -k 30 900 node web/online_test.js build-web/site build/server/wormlob2-server build/wormlob2 Files || status=1
  # What a link can make the page do: another score server, a game to watch
  # from elsewhere.
  timeout -k 30 900 node web/clients_test.js build-web/site || status=1
  # The page's Daily Challenge (?daily and the title's entry) against a stand-in server.
  timeout -k 30 900 node web/daily_test.js build-web/site || status=1
else
  echo "web: the site did not build"; tail -40 build-web/build.log; status=1
fi

if [ $status -ne 0 ]; then
  echo "TESTS FAILED"
fi
exit $status

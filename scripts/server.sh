#!/usr/bin/env bash
# Builds what is missing (the game, the score server, the web build) and
# starts the score server with SQLite on http://127.0.0.1:8080/: the
# leaderboard at /, the game in the browser at /play/. Extra arguments go to
# wormlob2-server (see --help); the database is build/wormlob2-scores.sqlite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target wormlob2 wormlob2-server

# The web build takes a while the first time (its libraries are built once
# and cached); without it the leaderboard still runs, but its links to
# watch a game need the page.
site=()
if [ ! -f build-web/site/index.html ]; then
  echo "server: building the web build (scripts/web.sh build; the first time takes a while)"
  mkdir -p build-web
  if ! bash scripts/web.sh build >build-web/build.log 2>&1; then
    echo "server: the web build failed (see build-web/build.log); serving without /play/"
  fi
fi
[ -f build-web/site/index.html ] && site=(--site build-web/site)

exec ./build/server/wormlob2-server --address 127.0.0.1 --port 8080 \
  --database build/wormlob2-scores.sqlite --game build/wormlob2 --files Files "${site[@]}" "$@"

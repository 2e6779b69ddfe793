#!/usr/bin/env bash
# Installs what is missing, builds (incrementally) and starts the game from
# the folder that holds Files/. Extra arguments go to the game (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target wormlob2
exec ./build/wormlob2 "$@"

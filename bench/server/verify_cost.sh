#!/usr/bin/env bash
# What verifying a game costs the score server: games played headless on the
# virtual clock (the demo player in each mode, seed 4, and the tests' scripted
# Medium game) are sent to a server pinned to one core with one worker, and
# each replay's wall time (start-up, confinement and replay) is read from its
# verification log line against the game's own length.
#   bench/server/verify_cost.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
GAME=$ROOT/build/wormlob2
SERVER=$ROOT/build/server/wormlob2-server
WORK=$(mktemp -d /tmp/wl2-verify-cost.XXXXXX)
chmod 755 "$WORK"
SPID=""
trap '[ -n "$SPID" ] && kill -KILL "$SPID" 2>/dev/null; rm -rf "$WORK"' EXIT
export SDL_AUDIODRIVER=dummy ALSOFT_DRIVERS=null

play() {  # name, options...
  local name=$1; shift
  mkdir -p "$WORK/$name"
  cp -r "$ROOT/Files/Common" "$ROOT/Files/418" "$WORK/$name/"
  rm -rf "$WORK/$name/418/scores.dat" "$WORK/$name/418/games"
  "$GAME" --headless --virtual-clock --files "$WORK/$name" --games 1 "$@" >/dev/null 2>&1
  cp "$WORK/$name"/418/games/*.w2g "$WORK/$name.w2g"
}
python3 - "$WORK/script.txt" <<'PY'
import sys
lines = ["100 move 400 300", "9000 mouse down 1", "9050 mouse up 1", "9600 mouse down 1", "9650 mouse up 1"]
lines += ["%d move %d 500" % (t, 200 + (t // 7) % 400) for t in range(9300, 40000, 700)]
for t in range(20000, 150000, 3000):
    lines += ["%d key down 13" % t, "%d key up 13" % (t + 50)]
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
PY
play demo-easy --autoplay --mode easy --seed 4
play demo-medium --autoplay --mode medium --seed 4
play demo-hard --autoplay --mode hard --seed 4
play scripted --input "$WORK/script.txt" --seed 11

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
taskset -c 0 "$SERVER" --port "$port" --database "$WORK/scores.sqlite" --game "$GAME" --files "$ROOT/Files" \
  --work-dir "$WORK" --workers 1 --quiet >"$WORK/server.log" 2>&1 &
SPID=$!
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$port/api/v1/health" >/dev/null && break; sleep 0.1; done
for name in demo-easy demo-medium demo-hard scripted; do
  curl -sf -H 'Content-Type: application/octet-stream' --data-binary "@$WORK/$name.w2g" \
    "http://127.0.0.1:$port/api/v1/games" >/dev/null
done
while [ "$(grep -c '^verify ' "$WORK/server.log")" -lt 4 ]; do sleep 0.5; done
kill -TERM "$SPID"; wait "$SPID" || true; SPID=""
printf "%-12s %9s %9s %9s %9s %9s\n" game "play s" "wall s" "CPU s" "wall/play" "CPU/play"
n=0
for name in demo-easy demo-medium demo-hard scripted; do
  n=$((n + 1))
  grep "^verify game=$n " "$WORK/server.log" |
    sed -E 's/.*replay=([0-9.]+)s cpu=([0-9.]+)s played=([0-9.]+)s.*/\1 \2 \3/' |
    awk -v name="$name" '{printf "%-12s %9.1f %9.2f %9.2f %8.2f%% %8.2f%%\n", name, $3, $1, $2, 100 * $1 / $3, 100 * $2 / $3}'
done
grep '^verify ' "$WORK/server.log" | sed 's/^/  /'

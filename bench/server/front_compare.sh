#!/usr/bin/env bash
# The HTTP front end's own cost: the same table read by wrk at 64
# connections from two server builds in turn, on one SQLite database of 200
# ranked games (filled by bench/server/load.py with the tests' stand-in
# game), two rounds each, so that both meet the same load on the machine.
#
#   bench/server/front_compare.sh OTHER_SERVER [THIS_SERVER]
#
# OTHER_SERVER is typically a build of an earlier commit; THIS_SERVER is
# build/server/wormlob2-server. Both run with --cache-ms 1000 (the default)
# and with the per-address limits lifted where the build has them, as wrk's
# connections all come from one address.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
OTHER=$1
THIS=${2:-$ROOT/build/server/wormlob2-server}
WORK=$(mktemp -d /tmp/wl2-front.XXXXXX)
chmod 755 "$WORK"
PID=""
cleanup() {
  [ -n "$PID" ] && kill -KILL "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
start() {
  local bin=$1
  PORT=$(port)
  local extra=()
  "$bin" --help | grep -q -- --get-rate-limit && extra=(--get-rate-limit 0 --connections-per-address 0)
  "$bin" --port "$PORT" --database "$WORK/scores.sqlite" --game "$ROOT/server/tests/fake_game.py" \
    --files "$ROOT/Files" --work-dir "$WORK" --rate-limit 0 --quiet "${extra[@]}" >"$WORK/server.log" 2>&1 &
  PID=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$PORT/api/v1/health" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  cat "$WORK/server.log"
  return 1
}
stop() { kill -TERM "$PID"; wait "$PID" || true; PID=""; }

start "$THIS"
python3 bench/server/load.py --url "http://127.0.0.1:$PORT" --games 200 --clients 50 --fake
stop
for round in 1 2; do
  for bin in "$OTHER" "$THIS"; do
    start "$bin"
    echo "== round $round: $bin"
    wrk -t2 -c64 -d10s --latency "http://127.0.0.1:$PORT/api/v1/scores?mode=medium&limit=20" |
      grep -E 'Requests/sec|50%|99%|Non-2xx|Socket errors'
    stop
  done
done

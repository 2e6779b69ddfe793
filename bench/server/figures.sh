#!/usr/bin/env bash
# The score server's figures for docs/PERFORMANCE.md, on SQLite and on a
# throwaway PostgreSQL cluster: submission load (2,000 games from 100
# clients), table reads with wrk at 64 connections, and two processes on one
# database with one killed by SIGKILL mid-load. Everything runs on
# 127.0.0.1 and stops by itself.
#
#   bench/server/figures.sh [sqlite|postgresql|both] [GAME]
#
# All clients here share one address, so the per-address limits (the GET
# allowance, the connection cap) are lifted, as a crowd of addresses would
# not meet them.
#
# Without GAME the games are the tests' stand-in's (server/tests/fake_game.py),
# which also replays them; with GAME each game is played by the game itself
# (headless, virtual clock, from its own token's seed) and replayed by it.
# GAMES, KILL_GAMES and KILL_AFTER (seconds into the two-process run) set the
# sizes; with GAME they default to 100, 100 and 90 (the games' length is
# waited out before the first is sent).
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
KIND=${1:-both}
GAME=${2:-$ROOT/server/tests/fake_game.py}
SERVER=$ROOT/build/server/wormlob2-server
if [ -n "${2:-}" ]; then
  GAME=$(realpath "$2")
  GAMES=${GAMES:-100}
  KILL_GAMES=${KILL_GAMES:-100}
  KILL_AFTER=${KILL_AFTER:-90}
  LEASE=(--lease 40 --wall-limit 30)  # a real replay takes seconds on a loaded machine
else
  GAMES=${GAMES:-2000}
  KILL_GAMES=${KILL_GAMES:-1000}
  KILL_AFTER=${KILL_AFTER:-8}
  LEASE=(--lease 8 --wall-limit 5)
fi
[ -x "$SERVER" ] || { echo "figures: build wormlob2-server first"; exit 1; }
WORK=$(mktemp -d /tmp/wl2-figures.XXXXXX)
chmod 755 "$WORK"
PIDS=()
PG=""
cleanup() {
  for p in "${PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  [ -n "$PG" ] && runuser -u nobody -- /usr/lib/postgresql/15/bin/pg_ctl -D "$PG/data" -m immediate stop >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
load_args=(--fake)
[ -n "${2:-}" ] && load_args=(--game "$GAME" --files "$ROOT/Files")

port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# start_server NAME DATABASE ARGS... : sets $PORT and $PID
start_server() {
  local name=$1 db=$2; shift 2
  PORT=$(port)
  "$SERVER" --port "$PORT" --database "$db" --game "$GAME" --files "$ROOT/Files" --work-dir "$WORK" \
    --rate-limit 0 --get-rate-limit 0 --connections-per-address 0 --quiet "$@" >"$WORK/$name.log" 2>&1 &
  PID=$!
  PIDS+=("$PID")
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$PORT/api/v1/health" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  cat "$WORK/$name.log"
  return 1
}
stop_server() { kill -TERM "$1"; wait "$1" || true; }

start_postgres() {
  PG="$WORK/pg"
  mkdir -p "$PG"
  chown nobody "$PG"
  local p; p=$(port)
  (cd "$PG" && runuser -u nobody -- /usr/lib/postgresql/15/bin/initdb -D "$PG/data" -A trust -U wormlob \
    --no-sync >/dev/null &&
    runuser -u nobody -- /usr/lib/postgresql/15/bin/pg_ctl -D "$PG/data" -l "$PG/log" -w \
      -o "-k $PG -p $p -h 127.0.0.1 -c max_connections=200" start >/dev/null)
  DB="postgresql://wormlob@127.0.0.1:$p/postgres"
}

run() {
  local kind=$1 DB
  if [ "$kind" = sqlite ]; then DB="$WORK/scores.sqlite"; else start_postgres; fi
  echo "== $kind"

  start_server "$kind-load" "$DB"
  echo "-- submissions: $GAMES games from 100 clients (${load_args[0]})"
  python3 bench/server/load.py --url "http://127.0.0.1:$PORT" --games "$GAMES" --clients 100 "${load_args[@]}"
  { grep -c ' result=ranked ' "$WORK/$kind-load.log" || true; } | sed 's/^/   verification log lines, ranked: /'
  awk '/^verify /{for(i=1;i<=NF;i++) if($i ~ /^replay=/){sub("replay=","",$i); sub("s","",$i); s+=$i; n++}}
       END{if(n) printf "   mean replay %.3f s over %d games\n", s/n, n}' "$WORK/$kind-load.log"

  echo "-- reading a table: wrk at 64 connections (answers reused for 1 s)"
  wrk -t2 -c64 -d15s --latency "http://127.0.0.1:$PORT/api/v1/scores?mode=medium&limit=20" |
    grep -E 'Requests/sec|Latency|50%|99%|Non-2xx|Socket errors'
  stop_server "$PID"
  start_server "$kind-nocache" "$DB" --cache-ms 0
  echo "-- reading a table: wrk at 64 connections, every answer from the database"
  wrk -t2 -c64 -d15s --latency "http://127.0.0.1:$PORT/api/v1/scores?mode=medium&limit=20" |
    grep -E 'Requests/sec|Latency|50%|99%|Non-2xx|Socket errors'
  stop_server "$PID"

  echo "-- two processes on one database, one killed with SIGKILL mid-load: $KILL_GAMES games"
  start_server "$kind-a" "$DB" "${LEASE[@]}"
  local pa=$PID porta=$PORT
  start_server "$kind-b" "$DB" "${LEASE[@]}"
  local pb=$PID portb=$PORT
  python3 bench/server/load.py --url "http://127.0.0.1:$porta" --url "http://127.0.0.1:$portb" \
    --games "$KILL_GAMES" --clients 100 "${load_args[@]}" >"$WORK/kill.txt" &
  local lp=$!
  sleep "$KILL_AFTER"
  kill -KILL "$pa"
  echo "   killed process A (pid $pa) after $KILL_AFTER s"
  wait "$lp" || true
  cat "$WORK/kill.txt"
  stop_server "$pb"
  cat "$WORK/$kind-a.log" "$WORK/$kind-b.log" | grep -o 'verify game=[0-9]* result=ranked' | sort | uniq -c |
    awk '$1 > 1 {twice++} END {print "   games ranked twice: " twice+0}'
  { grep -c ' result=ranked ' "$WORK/$kind-a.log" || true; } | sed 's/^/   ranked by A before it was killed: /'
  { grep -c ' result=ranked ' "$WORK/$kind-b.log" || true; } | sed 's/^/   ranked by B: /'
  if [ "$kind" = postgresql ]; then
    runuser -u nobody -- /usr/lib/postgresql/15/bin/pg_ctl -D "$PG/data" -m fast stop >/dev/null
    PG=""
  fi
}

case "$KIND" in
  sqlite|postgresql) run "$KIND" ;;
  both) run sqlite; run postgresql ;;
  *) echo "figures: sqlite, postgresql or both"; exit 2 ;;
esac

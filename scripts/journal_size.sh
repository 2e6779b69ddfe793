#!/usr/bin/env bash
# Game journal sizes and the cost of verifying them, for docs/PERFORMANCE.md.
#   scripts/journal_size.sh [build-dir]
# Plays, headless on the virtual clock: one demo game per mode, and one long
# Easy game driven by a restless scripted pointer (a move every 8 ms with
# random steps on both axes, clicks, the net, F3 every 2.5 s to keep it
# going): harder to compress than any real hand. Each game's journal is then
# verified by replaying it in a fresh data folder, timed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${1:-build}
GAME="$ROOT/$BUILD/wormlob2"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export SDL_AUDIODRIVER=dummy ALSOFT_DRIVERS=null

python3 - "$WORK/restless.txt" <<'PY'
import random, sys
random.seed(1)
out = ["100 move 300 500", "9000 mouse down 1", "9050 mouse up 1",
       "9200 move 400 300", "9500 mouse down 1", "9550 mouse up 1"]
x, y, t, end = 400, 500, 9600, 9600 + 600000
while t < end:
    x = max(0, min(799, x + random.randint(-9, 9))); y = max(300, min(599, y + random.randint(-3, 3)))
    out.append(f"{t} move {x} {y}"); t += 8
out += [f"{k} mouse down 1\n{k + 40} mouse up 1" for k in range(10000, end, 1000)]
out += [f"{k} key down 114\n{k + 40} key up 114" for k in range(12000, end, 2500)]
out += [f"{k} mouse down 2\n{k + 900} mouse up 2" for k in range(12500, end, 3700)]
out += [f"{k} key down 13\n{k + 50} key up 13" for k in range(end, end + 60000, 3000)]
lines = "\n".join(out).split("\n")
lines.sort(key=lambda l: int(l.split()[0]))
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
PY

fresh() { rm -rf "$1"; mkdir -p "$1"; cp -r "$ROOT/Files/Common" "$ROOT/Files/418" "$1/"; rm -f "$1/418/scores.dat"; }

printf "%-22s %8s %9s %10s %12s %10s\n" game frames "play s" "bytes" "verify CPU s" "CPU/play"
run() {  # name, options...
  local name=$1; shift
  fresh "$WORK/$name"
  "$GAME" --headless --virtual-clock --files "$WORK/$name" --games 1 "$@" >/dev/null 2>&1
  local j; j=$(ls "$WORK/$name/418/games/"*.w2g)
  local frames ms; frames=$(sed -n 's/^frames //p' "$j"); ms=$(sed -n 's/^ms //p' "$j")
  fresh "$WORK/$name-verify"
  local cpu
  /usr/bin/time -o "$WORK/time.txt" -f "%U %S" "$GAME" --headless --files "$WORK/$name-verify" --replay "$j" \
    >"$WORK/verify.txt" 2>&1 || { echo "$name: not verified: $(tail -1 "$WORK/verify.txt")"; exit 1; }
  cpu=$(tail -1 "$WORK/time.txt")
  local secs; secs=$(echo "$cpu" | awk '{print $1 + $2}')
  printf "%-22s %8d %9.1f %10d %12.2f %9.2f%%\n" "$name" "$frames" "$(echo "$ms/1000" | bc -l)" \
    "$(stat -c %s "$j")" "$secs" "$(echo "100*$secs*1000/$ms" | bc -l)"
}
run demo-easy --autoplay --mode easy --seed 4
run demo-medium --autoplay --mode medium --seed 4
run demo-hard --autoplay --mode hard --seed 4
run restless-easy --input "$WORK/restless.txt" --mode easy --seed 2

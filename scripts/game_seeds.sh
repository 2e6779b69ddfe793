#!/usr/bin/env bash
# Makes the seeds of the whole-game fuzz target (tests/fuzz/game_seeds/)
# from real play: journals (--record) of the demo player in each mode and of
# scripted games, each turned into the target's input form by the fuzzseed
# tool. Needs the normal build in build/ (wormlob2 and tools/fuzzseeds).
#
#   scripts/game_seeds.sh [OUT]    (default tests/fuzz/game_seeds)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$(realpath -m "${1:-tests/fuzz/game_seeds}")
BIN="$ROOT/build/wormlob2"
SEED="$ROOT/build/tools/fuzzseeds/fuzzseed"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT"
cp -r Files "$WORK/Files"

# The data folder as a first start finds it (the replay must start from
# what the recorded run started from).
fresh() {
  rm -f "$WORK/Files/418/scores.dat"* "$WORK/Files/Setup.ini"* "$WORK/Files/Debug.txt" "$WORK/Files/"*.png
}

record() {  # name, then the program's options
  local name=$1
  shift
  fresh
  (cd "$WORK" && "$BIN" --headless --virtual-clock --record "$WORK/$name.journal" "$@" >/dev/null 2>&1) || true
  fresh
  # The replay writes Setup.ini and scores.dat like any run: in the copy.
  (cd "$WORK" && "$SEED" "$WORK/$name.journal" "$OUT/$name" >/dev/null 2>&1) || true
  echo "game_seeds: $name $(stat -c %s "$OUT/$name") bytes"
}

# The demo player: one whole game in each mode (its games are short enough
# for the target's 3,000 frames only in part; the seed is the start).
record autoplay_easy --autoplay --mode easy --seed 5 --frames 3300
record autoplay_medium --autoplay --mode medium --seed 7 --frames 3300
record autoplay_hard --autoplay --mode hard --seed 11 --games 1 --frames 3300

# Scripted: a Hard game left alone (lost, named, filed, back to the title),
# then the settings panel with a resolution step (at 60, 120) and "Apply"
# (at 40, 288); and a pause with "Quit". Window pixels at 800 x 600 are
# drawing coordinates / 1.6.
cat >"$WORK/untouched.txt" <<'SCRIPT'
100 move 375 500
9000 mouse down 1
9050 mouse up 1
9200 move 400 300
9500 mouse down 1
9550 mouse up 1
SCRIPT
for t in $(seq 12000 2000 40000); do echo "$t key down 13"; echo "$((t + 50)) key up 13"; done >>"$WORK/untouched.txt"
cat >>"$WORK/untouched.txt" <<'SCRIPT'
41000 key down 9
41050 key up 9
41500 move 38 75
42000 mouse down 1
42050 mouse up 1
42300 move 25 180
42400 mouse down 1
42450 mouse up 1
43000 key down 9
43050 key up 9
SCRIPT
record scripted_untouched_hard --input "$WORK/untouched.txt" --frames 3300

cat >"$WORK/pause.txt" <<'SCRIPT'
100 move 400 300
9500 mouse down 1
9550 mouse up 1
10000 key down 114
10030 key up 114
10200 key down 114
10230 key up 114
12000 move 100 400
13000 mouse down 2
14000 mouse up 2
15000 key down 115
15030 key up 115
16000 key down 27
16030 key up 27
16500 key down 40
16530 key up 40
17000 key down 32
17030 key up 32
18500 text Seed
19000 key down 13
19030 key up 13
SCRIPT
record scripted_pause_quit --input "$WORK/pause.txt" --frames 1500

# Hostile: a Hard game with 400 F3 balls in its first seconds, then the
# pointer thrown far outside the window with F4, Tab and Escape pressed.
{
  echo "100 move 375 500"; echo "9000 mouse down 1"; echo "9050 mouse up 1"
  echo "9200 move 400 300"; echo "9500 mouse down 1"; echo "9550 mouse up 1"
  t=10000
  for _ in $(seq 400); do echo "$t key down 114"; echo "$((t + 5)) key up 114"; t=$((t + 16)); done
  i=0
  while [ $t -lt 50000 ]; do
    case $((i % 6)) in
      0) echo "$t move 100000 -100000" ;;
      1) echo "$t key down 115"; echo "$((t + 30)) key up 115" ;;
      2) echo "$t move -100000 100000" ;;
      3) echo "$t key down 9"; echo "$((t + 30)) key up 9" ;;
      4) echo "$t key down 27"; echo "$((t + 30)) key up 27" ;;
      5) echo "$t key down 27"; echo "$((t + 30)) key up 27" ;;
    esac
    i=$((i + 1)); t=$((t + 300))
  done
} >"$WORK/hostile.txt"
record scripted_hostile_hard --input "$WORK/hostile.txt" --frames 3300

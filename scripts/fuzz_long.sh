#!/usr/bin/env bash
# Long fuzzing runs (not part of scripts/test.sh): builds the clang fuzz
# build in build-fuzz as scripts/test.sh does, then runs every libFuzzer
# target, each on a fresh copy of its seed corpus, for a fixed number of
# executions, and sums up per target: executions, executions per second,
# coverage (cov: and ft: at the end), corpus size, peak memory and findings
# (crash, leak, timeout and out-of-memory files).
#
#   scripts/fuzz_long.sh [-j JOBS] [-r RUNS] [-f FRAMES] [-t SECONDS] [-o DIR] [-s] [TARGET...]
#
#   -j JOBS     targets run at the same time (default 1)
#   -r RUNS     executions per target (default 1000000)
#   -f FRAMES   the whole-game target (game) runs until it has played this
#               many frames instead (default 10000000); it writes its count
#               to DIR/game/frames.txt every few seconds
#   -t SECONDS  stop a target after this long even if short of RUNS
#               (default 0: no limit); the table shows how far it got
#   -o DIR      where corpora, logs, findings and the table go
#               (default build-fuzz/long)
#   -s          only tabulate the runs already in DIR (no build, no runs)
#   TARGET      names such as png or input (default: every *_fuzz target)
#
# The table is written to DIR/summary.md; each target's libFuzzer output is
# DIR/<name>/log.txt and its findings DIR/<name>/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

JOBS=1
RUNS=1000000
FRAMES=10000000
MAX_TIME=0
OUT="$ROOT/build-fuzz/long"
ONLY_SUMMARY=0
while getopts "j:r:f:t:o:s" opt; do
  case $opt in
    j) JOBS=$OPTARG ;;
    r) RUNS=$OPTARG ;;
    f) FRAMES=$OPTARG ;;
    t) MAX_TIME=$OPTARG ;;
    o) OUT=$(realpath -m "$OPTARG") ;;
    s) ONLY_SUMMARY=1 ;;
    *) sed -n 2,25p "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

targets=("$@")
if [ $ONLY_SUMMARY = 1 ]; then
  if [ ${#targets[@]} -eq 0 ]; then
    for st in "$OUT"/*/status; do
      [ -f "$st" ] && targets+=("$(basename "$(dirname "$st")")")
    done
  fi
else
  bash scripts/deps.sh
  if ! command -v clang++ >/dev/null; then
    echo "fuzz_long: clang++ is needed" >&2
    exit 1
  fi
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DWORMLOB_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)"
  if [ ${#targets[@]} -eq 0 ]; then
    for fuzzer in build-fuzz/tests/fuzz/*_fuzz; do
      [ -x "$fuzzer" ] && targets+=("$(basename "$fuzzer" _fuzz)")
    done
  fi
fi
mkdir -p "$OUT"

# One target: fresh corpus from the seeds, libFuzzer's log, findings apart.
run_target() {
  local name=$1
  local fuzzer="$ROOT/build-fuzz/tests/fuzz/${name}_fuzz"
  local dir="$OUT/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/findings" "$dir/work"
  [ -d "$ROOT/tests/fuzz/${name}_seeds" ] && cp -r "$ROOT/tests/fuzz/${name}_seeds"/. "$dir/corpus"/
  local start end status=0
  start=$(date +%s)
  if [ "$name" = game ]; then
    # Counted in frames: no run limit; interrupted (libFuzzer then prints
    # its final figures and exits with 72) once the count is reached. The
    # program keeps tables across inputs, so libFuzzer's leak check would
    # play every input twice; LeakSanitizer still checks at exit.
    (cd "$dir/work" && exec env UBSAN_OPTIONS=halt_on_error=1 WORMLOB_FUZZ_FRAMES_FILE="$dir/frames.txt" \
       "$fuzzer" -runs=-1 -max_total_time="$MAX_TIME" -max_len=65536 -timeout=60 -detect_leaks=0 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/findings/" "$dir/corpus" \
       >"$dir/log.txt" 2>&1) &
    local pid=$! frames=0
    while kill -0 "$pid" 2>/dev/null; do
      sleep 10
      frames=$(sed -n 's/.*frames \([0-9]*\).*/\1/p' "$dir/frames.txt" 2>/dev/null || true)
      if [ "${frames:-0}" -ge "$FRAMES" ]; then
        kill -INT "$pid" 2>/dev/null || true
        break
      fi
    done
    wait "$pid" || status=$?
    [ "$status" = 72 ] && status=0
  else
    (cd "$dir/work" && UBSAN_OPTIONS=halt_on_error=1 "$fuzzer" -runs="$RUNS" \
       -max_total_time="$MAX_TIME" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/findings/" "$dir/corpus" \
       >"$dir/log.txt" 2>&1) || status=$?
  fi
  end=$(date +%s)
  echo "$status $((end - start))" >"$dir/status"
  echo "fuzz_long: $name done (exit $status, $((end - start)) s)"
}

# A finished target's row: | name | executions | exec/s | cov | ft | corpus | peak RSS | findings | time |
summary_row() {
  local name=$1 dir="$OUT/$1"
  local log="$dir/log.txt" status secs
  read -r status secs <"$dir/status"
  local execs rate rss last cov ft corp findings
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  # The last progress line (DONE, pulse or a report) has the final figures.
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
  findings=$(find "$dir/findings" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  local note=""
  [ "$status" != 0 ] && note=" (exit $status)"
  echo "| $name | ${execs:-?} | ${rate:-?} | ${cov:-?} | ${ft:-?} | ${corp:-?} | ${rss:-?} MB | ${findings}${note} | ${secs} s |"
}

export -f run_target
export ROOT OUT RUNS FRAMES MAX_TIME
if [ $ONLY_SUMMARY = 0 ]; then
  printf '%s\n' "${targets[@]}" | xargs -P "$JOBS" -I{} bash -c 'run_target "$1"' _ {}
fi

{
  if [ $ONLY_SUMMARY = 0 ]; then
    echo "Runs: $RUNS per target$([ "$MAX_TIME" != 0 ] && echo ", at most ${MAX_TIME} s each"), $JOBS at a time, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
    echo
  fi
  echo "| Target | Executions | Exec/s | cov | ft | Corpus (files/bytes) | Peak RSS | Findings | Time |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for name in "${targets[@]}"; do summary_row "$name"; done
  if [ -f "$OUT/game/frames.txt" ]; then
    echo
    echo "game: $(cat "$OUT/game/frames.txt") (each input is played twice: grid and plain loops)"
  fi
} >"$OUT/summary.md"
cat "$OUT/summary.md"
status=0
for name in "${targets[@]}"; do
  read -r code _ <"$OUT/$name/status"
  [ "$code" = 0 ] || status=1
done
exit $status

#!/usr/bin/env bash
# Soak test (not part of CI): the demo player plays game after game for a
# million frames, headless, in the AddressSanitizer + UBSan build.
#   1. The whole run with ASan's full quarantine (freed blocks held back to
#      catch late use): no sanitizer report.
#   2. Memory: the peak resident memory of the whole run is within 5 % of
#      that of the same run stopped after its first 10,000 frames (the runs
#      are identical up to there: virtual clock, fixed seed). These two runs
#      have no quarantine: however large it is, it fills slowly (and holds
#      memory in ASan's size classes), which would read as growth of the
#      program itself.
#   scripts/soak.sh [frames]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
FRAMES=${1:-1000000}

bash scripts/deps.sh
cmake -S . -B build-asan -DWORMLOB_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$(nproc)" --target wormlob2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy ALSOFT_DRIVERS=null
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Peak resident memory in kB of one run of n frames in a fresh copy of
# Files/, with the given ASan options.
run() {
    local n=$1 dir="$work/run$1-$2"
    export ASAN_OPTIONS="halt_on_error=1:$2"
    mkdir -p "$dir"
    cp -r Files "$dir/Files"
    rm -f "$dir/Files/418/scores.dat" "$dir/Files/Setup.ini"
    (cd "$dir" && /usr/bin/time -v "$ROOT/build-asan/wormlob2" --headless --virtual-clock --autoplay \
        --mode easy --seed 1 --frames "$n" >out.txt 2>err.txt) || {
        echo "soak: the $n-frame run failed:" >&2
        tail -40 "$dir/err.txt" >&2
        exit 1
    }
    if grep -q "ERROR: AddressSanitizer\|runtime error:\|ERROR: LeakSanitizer" "$dir/err.txt"; then
        echo "soak: sanitizer report in the $n-frame run:" >&2
        grep -A20 "ERROR\|runtime error" "$dir/err.txt" | head -60 >&2
        exit 1
    fi
    echo "soak: $n frames: $(grep -c '^autoplay:' "$dir/out.txt") games" >&2
    grep "Maximum resident set size" "$dir/err.txt" | awk '{print $NF}'
}

start=$(date +%s)
run "$FRAMES" "quarantine_size_mb=256" >/dev/null
echo "soak: no sanitizer report in ${FRAMES} frames with the full quarantine; $(( $(date +%s) - start )) s"
start=$(date +%s)
early=$(run 10000 "quarantine_size_mb=0")
late=$(run "$FRAMES" "quarantine_size_mb=0")
secs=$(( $(date +%s) - start ))
limit=$(( early * 105 / 100 ))
echo "soak: peak resident memory after 10000 frames ${early} kB, after ${FRAMES} frames ${late} kB (limit ${limit} kB); ${secs} s"
if [ "$late" -gt "$limit" ]; then
    echo "soak: FAILED: memory grew by more than 5 %"
    exit 1
fi
echo "soak: PASSED"

#!/usr/bin/env python3
"""The score file under crashes: the demo player files short Hard games one
after another while the program is killed (SIGKILL) at random moments and
started again. After every kill "scores.dat" must parse, and every game the
program reported filed before the kill must still be in it (unless the
score table's own rule dropped it: older than 50 newer games and out of
its mode's 25 best). Runs until the
given number of games has been filed. Not part of CI.

    python3 scripts/killtest.py [build dir] [games] [random seed]
"""
import collections
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build")
GAMES = int(sys.argv[2]) if len(sys.argv) > 2 else 100
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)


def read_records(path):
    """The file's records as (score, timestamp) pairs; raises if it does not parse."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if len(lines) % 2:
        raise ValueError("odd number of lines")
    records = []
    for i in range(0, len(lines), 2):
        rec = lines[i].split(b"|")
        best = lines[i + 1].split(b"|")
        if len(rec) != 8 or len(best) != 30:
            raise ValueError("record %d has %d and %d fields" % (i // 2, len(rec), len(best)))
        int(rec[0]), int(rec[3]), [int(b) for b in best]
        records.append((int(rec[0]), int(rec[3])))
    return records


def pruned_by_design(record, after):
    """The title's score table drops a record once 50 newer games are kept
    and it no longer ranks among its mode's 25 best: such a record leaves
    the file by design, not by a crash. (All games here are Hard.)"""
    score, stamp = record
    newer = sum(1 for s, t in after if t >= stamp)
    best = sorted((s for s, _ in after), reverse=True)[:25]
    return newer >= 50 and len(best) == 25 and score <= best[-1]


def main():
    tmp = tempfile.mkdtemp(prefix="wl2_kill_")
    shutil.copytree(os.path.join(ROOT, "Files"), os.path.join(tmp, "Files"),
                    ignore=shutil.ignore_patterns("scores.dat*", "Debug.txt", "Setup.ini"))
    scores = os.path.join(tmp, "Files", "418", "scores.dat")
    env = dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null")
    filed = 0            # games the program said it filed
    kills = starts = pruned = 0
    seed = 0
    while filed < GAMES:
        seed += 1
        starts += 1
        before = read_records(scores)
        # The virtual clock plays a game in about a second, so a kill after a
        # random wait lands anywhere: start-up, a game, the name prompt, the
        # file write.
        p = subprocess.Popen([os.path.join(BUILD, "wormlob2"), "--headless", "--virtual-clock", "--autoplay",
                              "--mode", "hard",
                              "--seed", str(seed), "--games", "5"],
                             cwd=tmp, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        time.sleep(rng.uniform(0.2, 6.0))
        if p.poll() is None:
            p.send_signal(signal.SIGKILL)
            kills += 1
        out, _ = p.communicate()
        reported = out.count("autoplay:")
        after = read_records(scores)  # raises when the file does not parse
        missing = collections.Counter(before) - collections.Counter(after)
        unexplained = [r for r in missing.elements() if not pruned_by_design(r, after)]
        if unexplained:
            raise SystemExit("FAIL: records lost after a kill: %s" % sorted(unexplained))
        pruned += sum(missing.values())
        added = sum((collections.Counter(after) - collections.Counter(before)).values())
        if added < reported:
            raise SystemExit("FAIL: %d games reported, only %d new records" % (reported, added))
        filed += reported
        print("start %d: %d games filed this run (%d in all), %s, file holds %d records"
              % (starts, reported, filed, "killed" if p.returncode == -signal.SIGKILL else "ended", len(after)))
    shutil.rmtree(tmp)
    print("PASS: %d games filed over %d starts, %d kills; the file parsed after every one and lost nothing"
          " (%d old records left the table by its 50-game rule)" % (filed, starts, kills, pruned))


if __name__ == "__main__":
    main()

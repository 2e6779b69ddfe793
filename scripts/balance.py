#!/usr/bin/env python3
"""Measures the game with the demo player: for each mode, seeded headless
games of --autoplay; writes docs/BALANCE.md (median and range of score,
waves reached and game length) and docs/balance.png (score against wave).

    python3 scripts/balance.py [build dir] [games per mode] [--feel] [-j N]

--feel measures steering without a mouse instead: the same seeds played by
the demo player steering with the mouse, the keys and a pad's stick, and
rewrites only the "Steering without a mouse" part of docs/BALANCE.md (the
rest of the file is kept, and a plain run keeps that part). -j runs N games
at once.
"""
import concurrent.futures
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FEEL = "--feel" in sys.argv
JOBS = 1
for i, a in enumerate(sys.argv):
    if a == "-j" and i + 1 < len(sys.argv):
        JOBS = int(sys.argv[i + 1])
POSITIONAL = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("-") and sys.argv[i - 1] != "-j"]
BUILD = os.path.abspath(POSITIONAL[0]) if POSITIONAL else os.path.join(ROOT, "build")
GAMES = int(POSITIONAL[1]) if len(POSITIONAL) > 1 else 20
MODES = ["easy", "medium", "hard"]
STEERING = ["mouse", "keys", "stick"]
FEEL_HEAD = "## Steering without a mouse"
# Written by hand below the steering table, and kept by both kinds of run.
NOTES_HEAD = "## What the steering figures say"


def play(mode, seed, steer="mouse"):
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copytree(os.path.join(ROOT, "Files"), os.path.join(tmp, "Files"),
                        ignore=shutil.ignore_patterns("scores.dat*", "Debug.txt", "Setup.ini"))
        env = dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null")
        out = subprocess.run([os.path.join(BUILD, "wormlob2"), "--headless", "--virtual-clock", "--autoplay",
                              "--autoplay-steer", steer, "--mode", mode, "--seed", str(seed), "--games", "1"],
                             cwd=tmp, env=env, capture_output=True, text=True, timeout=600).stdout
    for line in out.splitlines():
        if line.startswith("autoplay:"):
            f = line.split()
            return int(f[4]), int(f[6]), int(f[8])
    raise RuntimeError("no game reported for %s seed %d" % (mode, seed))


def png(path, width, height, pixels):
    raw = b"".join(b"\0" + bytes(pixels[y * width * 3:(y + 1) * width * 3]) for y in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def plot(results, path):
    # Score (up) against wave reached (across), one colour per mode.
    w, h, m = 480, 320, 40
    pix = [24] * (w * h * 3)
    def put(x, y, c):
        if 0 <= x < w and 0 <= y < h:
            pix[(y * w + x) * 3:(y * w + x) * 3 + 3] = c
    top_wave = max(r[1] for rs in results.values() for r in rs) + 1
    top_score = max(r[0] for rs in results.values() for r in rs) or 1
    for x in range(m, w - m // 2):
        put(x, h - m, [200, 200, 200])
    for y in range(m // 2, h - m + 1):
        put(m, y, [200, 200, 200])
    for wave in range(1, top_wave + 1):  # a tick per wave
        x = m + (w - 1.5 * m) * wave / top_wave
        for d in range(5):
            put(int(x), h - m + d, [200, 200, 200])
    colours = {"easy": [80, 255, 80], "medium": [255, 255, 80], "hard": [255, 80, 80]}
    for mode, rs in results.items():
        for score, wave, _ in rs:
            x = int(m + (w - 1.5 * m) * wave / top_wave)
            y = int(h - m - (h - 1.5 * m) * score / top_score)
            for dx in range(-2, 3):
                for dy in range(-2, 3):
                    put(x + dx, y + dy, colours[mode])
    png(path, w, h, pix)


def play_all(runs):
    # Each game is its own process on the virtual clock, so running several
    # at once changes none of them.
    with concurrent.futures.ThreadPoolExecutor(max_workers=JOBS) as pool:
        return list(pool.map(lambda r: play(*r), runs))


def write_doc(head, feel):
    # The balance part and the steering part are made by different runs;
    # each keeps the other as it is in the file.
    path = os.path.join(ROOT, "docs", "BALANCE.md")
    old = open(path).read() if os.path.exists(path) else ""
    notes_at = old.find(NOTES_HEAD)
    notes = old[notes_at:].rstrip("\n").split("\n") if notes_at >= 0 else []
    if notes_at >= 0:
        old = old[:notes_at]
    at = old.find(FEEL_HEAD)
    if head is None:
        head = (old[:at] if at >= 0 else old).rstrip("\n").split("\n")
    while head and head[-1] == "":
        head = head[:-1]
    if feel is None:
        feel = old[at:].rstrip("\n").split("\n") if at >= 0 else []
    while feel and feel[-1] == "":
        feel = feel[:-1]
    with open(path, "w") as f:
        f.write("\n".join(head + ([""] + feel if feel else []) + ([""] + notes if notes else [])) + "\n")


def feel():
    runs = [(mode, seed, steer) for steer in STEERING for mode in MODES for seed in range(1, GAMES + 1)]
    scores = {}
    for (mode, seed, steer), r in zip(runs, play_all(runs)):
        scores.setdefault((steer, mode), []).append(r[0])
    lines = [FEEL_HEAD, "",
             "The demo player steering with the keys (it holds the bound left and right keys, and the",
             "steering moves the pointer under the keys' acceleration) and with a pad's stick (it pushes",
             "the stick, and the steering moves the pointer under the stick's curve), against its usual",
             "mouse, over the same %d seeds per mode:" % GAMES, "",
             "```", "python3 scripts/balance.py build %d --feel -j 2" % GAMES,
             "# runs, per way of steering, mode and seed 1..%d:" % GAMES,
             "# wormlob2 --headless --virtual-clock --autoplay --autoplay-steer mouse|keys|stick \\",
             "#     --mode MODE --seed N --games 1", "```", "",
             "| Mode | Mouse: median score | Keys: median | Keys / mouse | Stick: median | Stick / mouse |",
             "|---|---|---|---|---|---|"]
    for mode in MODES:
        m = statistics.median(scores[("mouse", mode)])
        k = statistics.median(scores[("keys", mode)])
        s = statistics.median(scores[("stick", mode)])
        ratio = lambda v: "%d %%" % round(100 * v / m) if m else "-"
        lines.append("| %s | %d | %d | %s | %d | %s |" % (mode.capitalize(), m, k, ratio(k), s, ratio(s)))
    write_doc(None, lines)
    print("\n".join(lines))


def main():
    if FEEL:
        feel()
        return
    runs = [(mode, seed) for mode in MODES for seed in range(1, GAMES + 1)]
    played = play_all(runs)
    results = {mode: [r for (m, _), r in zip(runs, played) if m == mode] for mode in MODES}
    lines = ["# Balance", "",
             "Measured with the demo player: %d seeded headless games per mode, each started with" % GAMES, "",
             "```", "python3 scripts/balance.py build %d" % GAMES,
             "# runs, per mode and seed 1..%d:" % GAMES,
             "# wormlob2 --headless --virtual-clock --autoplay --mode MODE --seed N --games 1", "```", "",
             "| Mode | Score: median (range) | Waves reached: median (range) | Length in frames: median (range) |",
             "|---|---|---|---|"]
    for mode, rs in results.items():
        cols = []
        for i in range(3):
            v = [r[i] for r in rs]
            cols.append("%d (%d to %d)" % (statistics.median(v), min(v), max(v)))
        lines.append("| %s | %s |" % (mode.capitalize(), " | ".join(cols)))
    lines += ["", "Spiked pods come in from wave 9 in Easy, wave 5 in Medium and from the start in Hard;",
              "the demo player keeps clear of spiked pods it sees falling but not of spiked segments,",
              "so its games mostly end in the first wave with spikes.",
              "", "A frame is 1/60 s. `balance.png` plots score (up) against the wave reached (across):",
              "green Easy, yellow Medium, red Hard.", "", "![score against wave](balance.png)", ""]
    write_doc(lines, None)
    plot(results, os.path.join(ROOT, "docs", "balance.png"))
    print("\n".join(lines))


if __name__ == "__main__":
    main()

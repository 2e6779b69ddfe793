#!/usr/bin/env python3
"""Measures the game with the demo player: for each mode, seeded headless
games of --autoplay; writes docs/BALANCE.md (median and range of score,
waves reached and game length) and docs/balance.png (score against wave).

    python3 scripts/balance.py [build dir] [games per mode]
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build")
GAMES = int(sys.argv[2]) if len(sys.argv) > 2 else 20
MODES = ["easy", "medium", "hard"]


def play(mode, seed):
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copytree(os.path.join(ROOT, "Files"), os.path.join(tmp, "Files"),
                        ignore=shutil.ignore_patterns("scores.dat*", "Debug.txt", "Setup.ini"))
        env = dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null")
        out = subprocess.run([os.path.join(BUILD, "wormlob2"), "--headless", "--virtual-clock", "--autoplay",
                              "--mode", mode, "--seed", str(seed), "--games", "1"],
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


def main():
    results = {mode: [play(mode, seed) for seed in range(1, GAMES + 1)] for mode in MODES}
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
    with open(os.path.join(ROOT, "docs", "BALANCE.md"), "w") as f:
        f.write("\n".join(lines))
    plot(results, os.path.join(ROOT, "docs", "balance.png"))
    print("\n".join(lines))


if __name__ == "__main__":
    main()

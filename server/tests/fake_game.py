#!/usr/bin/python3
"""A stand-in for the game's replay, for the server's tests: it is run the
way the server runs the game (--headless --files DIR --replay FILE) and ends
the way the game does. The journal's zlib body is a few text lines:

    record mode=... score=... wave=... frames=... ms=... practice=. autoplay=. name=... [seed=N|-] [fingerprint=HEX]
    old-line               prints the verified line of a game from before seeds
    diverge <reason>       the replay goes its own way (status 3)
    sleep <seconds>        takes that long
    escape <path> <port>   tries to write outside its folder and reach the server

The record line plays the part of the inputs: the replay files that record
whatever the header says, as the game files what the inputs give. Its seed
is the one the game started from ("-" when absent); its fingerprint, when
not given, is made as the game makes it, from the mode, the frames and a
stand-in for the last frame's checksum (the score, wave and seed): the same
game whatever the name or token."""
import hashlib
import os
import socket
import sys
import time
import zlib

RULES = "0123456789abcdef"
ASSETS = "fedcba9876543210"


def fail(status, reason):
    print("wormlob2: " + reason, file=sys.stderr)
    sys.exit(status)


def main():
    args = sys.argv[1:]
    if len(args) != 5 or args[0] != "--headless" or args[1] != "--files" or args[3] != "--replay":
        fail(2, "bad arguments " + " ".join(args))
    data_dir, journal = args[2], args[4]
    # The assets are there (as links) and the data folder is writable.
    with open(os.path.join(data_dir, "418", "badges.png"), "rb") as f:
        f.read(8)
    with open(os.path.join(data_dir, "Debug.txt"), "w") as f:
        f.write("replaying\n")
    data = open(journal, "rb").read()
    end = data.find(b"\n\n")
    if end < 0:
        fail(2, "the journal has no header")
    header = dict(line.split(" ", 1) for line in data[:end].decode("latin-1").split("\n")[1:])
    if header.get("rules") != RULES:
        fail(2, "the journal was made by another version of the game (its rules differ)")
    if header.get("assets") != ASSETS:
        fail(2, "the journal was made with other assets")
    try:
        body = zlib.decompress(data[end + 2:]).decode()
    except zlib.error:
        fail(2, "the journal is cut short or damaged")
    record = None
    old_line = False
    for line in body.splitlines():
        word, _, rest = line.partition(" ")
        if word == "record":
            record = rest
        elif word == "old-line":
            old_line = True
        elif word == "diverge":
            fail(3, rest)
        elif word == "sleep":
            time.sleep(float(rest))
        elif word == "escape":
            path, port = rest.split()
            escaped = []
            try:
                with open(path, "w") as f:
                    f.write("out")
                escaped.append("wrote " + path)
            except OSError:
                pass
            try:
                socket.create_connection(("127.0.0.1", int(port)), timeout=2).close()
                escaped.append("reached the network")
            except OSError:
                pass
            if escaped:
                fail(3, "escaped: " + ", ".join(escaped))
    if record is None:
        fail(2, "the journal holds no game")
    print("replayed")
    print("verified " + verified_line(record, old_line))


def verified_line(record, old_line=False):
    """The verified line the game prints for a record line's fields (the
    escape stand-in prints the same)."""
    fields = dict(f.split("=", 1) for f in record.split() if "=" in f)
    line = " ".join("%s=%s" % (k, fields.get(k, "")) for k in
                    ("mode", "score", "wave", "frames", "ms", "practice", "autoplay", "name"))
    if not old_line:
        seed = fields.get("seed", "-")
        checksum = "%s/%s/%s" % (fields.get("score"), fields.get("wave"), seed)
        made = hashlib.sha256(("%s %s %s" % (fields.get("mode"), fields.get("frames"), checksum)).encode())
        line += " seed=%s fingerprint=%s" % (seed, fields.get("fingerprint", made.hexdigest()[:16]))
    return line


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Submission load on running score servers: GAMES honest, distinct games
from CLIENTS concurrent clients, each taking a session token (and the seed
that comes with it), playing its game from that seed, waiting out the game's
length as a player would, and sending the journal. Then it waits until the
queue has drained and checks that every game was ranked, once.

    load.py --url http://127.0.0.1:8080 [--url ...] --games 2000 --clients 100
            (--fake | --game BIN --files DIR [--script FILE])

--fake makes journals for server/tests/fake_game.py (1 s games, each with its
own score, started from its token's seed).

--game plays each game with the game itself, headless on the virtual clock
from an input script (the tests' scripted Medium game unless --script), with
sending on: the game takes its token and seed from the server as a player's
does, through a relay here that notes when each token was given and keeps
the game's own upload (answering "later"), since a game on the virtual clock
ends seconds after it started. The client then sends the journal the game
filed once the game's length has passed since its token was given. Each
game starts from its own seed, so the same script plays a different game
each time.

Several --url spread the clients over several servers; a client whose server
stops answering moves to the next one. Prints one line of figures."""
import argparse
import glob
import http.client
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib


def fake_journal(i, token, seed):
    rec = "mode=medium score=%d wave=3 frames=60 ms=1000 practice=0 autoplay=0 name=%s seed=%d" % (
        10 * i + 5, ("load%d" % i).encode().hex(), seed)
    head = ("wormlob2 game 1\nrules 0123456789abcdef\nassets fedcba9876543210\nmode medium\nname %s\nscore %d\n"
            "wave 3\nframes 60\nms 1000\ntoken %s\npractice 0\nautoplay 0\n\n") % (
        ("load%d" % i).encode().hex(), 10 * i + 5, token)
    return head.encode() + zlib.compress(("record " + rec).encode())


def header_of(data):
    return dict(l.split(" ", 1) for l in data.split(b"\n\n")[0].decode("latin-1").split("\n")[1:])


def script_lines():
    """The tests' scripted Medium game: start, steer a little, let the game
    end, Enter at the name prompt (pressed long enough for any seed's game)."""
    lines = ["100 move 400 300", "9000 mouse down 1", "9050 mouse up 1", "9600 mouse down 1", "9650 mouse up 1"]
    lines += ["%d move %d 500" % (t, 200 + (t // 7) % 400) for t in range(9300, 40000, 700)]
    for t in range(20000, 900000, 3000):
        lines += ["%d key down 13" % t, "%d key up 13" % (t + 50)]
    return "\n".join(lines) + "\n"


class Client:
    def __init__(self, urls):
        self.urls = [urllib.parse.urlsplit(u) for u in urls]
        self.at = 0

    def call(self, method, path, body=None, start=None):
        """Tries each server in turn until one answers."""
        if start is not None:
            self.at = start % len(self.urls)
        for attempt in range(len(self.urls) * 20):
            u = self.urls[self.at]
            try:
                c = http.client.HTTPConnection(u.hostname, u.port, timeout=30)
                c.request(method, path, body=body)
                r = c.getresponse()
                data = r.read()
                c.close()
                if r.status in (429, 503):
                    time.sleep(0.5)
                    continue
                return r.status, json.loads(data)
            except (OSError, http.client.HTTPException):
                self.at = (self.at + 1) % len(self.urls)
                time.sleep(0.1)
        raise RuntimeError("no server answers")


class Relay:
    """What the game sees as its score server: tokens are asked of the real
    one (and the time each was given is noted); the game's uploads are
    answered "later", so that the load client sends each journal itself
    when its game's length has passed."""

    def __init__(self, upstream):
        self.upstream = urllib.parse.urlsplit(upstream)
        self.issued = {}
        self.lock = threading.Lock()
        relay = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body, extra=()):
                try:
                    self.send_response(status)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(body)))
                    for k, v in extra:
                        self.send_header(k, v)
                    self.end_headers()
                    self.wfile.write(body)
                except OSError:
                    pass  # the game stopped waiting (it plays offline then, and is played again)

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                if self.path != "/api/v1/sessions":
                    self.answer(503, b'{"error": "kept for later"}', [("Retry-After", "3600")])
                    return
                try:
                    c = http.client.HTTPConnection(relay.upstream.hostname, relay.upstream.port, timeout=30)
                    c.request("POST", self.path, body=body, headers={"Content-Type": "application/json"})
                    r = c.getresponse()
                    data = r.read()
                    c.close()
                except (OSError, http.client.HTTPException):
                    self.answer(503, b'{"error": "the server does not answer"}')
                    return
                if r.status == 200:
                    with relay.lock:
                        relay.issued[json.loads(data)["token"]] = time.time()
                self.answer(r.status, data)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()


def play(game, files, script, folder, relay_url):
    """One game with the game itself, started from the token its server
    gives; returns the journal it filed."""
    shutil.copytree(files, folder, symlinks=True,
                    ignore=shutil.ignore_patterns("scores.dat*", "Setup.ini*", "Debug.txt", "games", "outbox",
                                                  "Online.ini"))
    subprocess.run([game, "--headless", "--virtual-clock", "--input", script, "--games", "1", "--files", folder,
                    "--scores-server", relay_url], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=900, env=dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null"))
    filed = glob.glob(os.path.join(folder, "418", "games", "*.w2g"))
    if len(filed) != 1:
        raise RuntimeError("the game filed %d journals in %s" % (len(filed), folder))
    data = open(filed[0], "rb").read()
    shutil.rmtree(folder, ignore_errors=True)
    return data


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--url", action="append", required=True)
    p.add_argument("--games", type=int, default=2000)
    p.add_argument("--clients", type=int, default=100)
    p.add_argument("--fake", action="store_true")
    p.add_argument("--game", help="the game binary: each game is played by it")
    p.add_argument("--files", help="the game's assets folder, with --game")
    p.add_argument("--script", help="the input script the game plays, with --game")
    p.add_argument("--timeout", type=float, default=3600)
    a = p.parse_args()
    if bool(a.fake) == bool(a.game) or (a.game and not a.files):
        p.error("choose --fake, or --game with --files")
    work = tempfile.mkdtemp(prefix="wl2-load-")
    relays, script = {}, None
    if a.game:
        relays = {u: Relay(u) for u in a.url}
        script = a.script or os.path.join(work, "script.txt")
        if not a.script:
            open(script, "w").write(script_lines())

    ids, lock = {}, threading.Lock()
    next_game = [0]
    played = []  # (game s, rounds) of each game the game played
    problems = []
    start = time.time()

    def one(c, n, i):
        if not a.game:
            status, r = c.call("POST", "/api/v1/sessions", start=n)
            time.sleep(1.05)  # the game is played
            return fake_journal(i, r["token"], r["seed"])
        # A game the game played offline (its server stopped answering
        # while it took its token) is played again with the next server.
        for attempt in range(len(a.url) * 3):
            url = a.url[(n + attempt) % len(a.url)]
            relay = relays[url]
            t0 = time.time()
            data = play(a.game, a.files, script, os.path.join(work, "game-%d-%d" % (i, attempt)), relay.url)
            h = header_of(data)
            with relay.lock:
                issued = relay.issued.get(h.get("token"))
            if issued is None:
                with lock:
                    problems.append("game %d played offline on %s" % (i, url))
                continue
            with lock:
                played.append(time.time() - t0)
            # A player's game ends its length after it started.
            wait = issued + int(h["ms"]) / 1000.0 + 0.05 - time.time()
            if wait > 0:
                time.sleep(wait)
            c.at = a.url.index(url)
            return data
        raise RuntimeError("game %d: no token could be had" % i)

    def client(n):
        c = Client(a.url)
        c.at = n % len(a.url)
        while True:
            with lock:
                i = next_game[0]
                if i >= a.games:
                    return
                next_game[0] += 1
            try:
                journal = one(c, n, i)
                status, r = c.call("POST", "/api/v1/games", journal)
                if status not in (200, 202):
                    raise RuntimeError("submission refused: %d %s" % (status, r))
                with lock:
                    ids[i] = r["id"]
            except Exception as e:  # a client that fails is counted, not silent
                with lock:
                    problems.append("game %d: %s" % (i, e))

    threads = [threading.Thread(target=client, args=(n,)) for n in range(a.clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    sent = time.time()

    # Wait for every game's verdict.
    c = Client(a.url)
    waiting = set(ids.values())
    verdicts = {}
    while waiting and time.time() - start < a.timeout:
        for gid in list(waiting):
            status, g = c.call("GET", "/api/v1/games/%d" % gid)
            if g["status"] != "pending":
                verdicts[gid] = g
                waiting.discard(gid)
        if waiting:
            time.sleep(0.5)
    done = time.time()
    shutil.rmtree(work, ignore_errors=True)
    ranked = sum(1 for g in verdicts.values() if g["status"] == "ranked")
    rejected = [g for g in verdicts.values() if g["status"] != "ranked"]
    distinct = len(set(ids.values()))
    length_s = 0 if a.game else 1.0  # the fake games' length, waited before the first could be sent
    print("games=%d distinct_ids=%d ranked=%d rejected=%d pending=%d submit_s=%.1f drain_s=%.1f total_s=%.1f "
          "rate=%.2f/s" % (a.games, distinct, ranked, len(rejected), len(waiting), sent - start, done - sent,
                           done - start, ranked / max(done - start - length_s, 0.001)))
    if played:
        print("played by the game: %d games, %.1f s of wall time each on average" % (len(played),
                                                                                       sum(played) / len(played)))
    for g in rejected[:5]:
        print("rejected:", g)
    for line in problems[:10]:
        print("problem:", line)
    return 0 if ranked == a.games and distinct == a.games else 1


if __name__ == "__main__":
    sys.exit(main())

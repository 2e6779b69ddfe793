#!/usr/bin/python3
"""Submission load on running score servers: GAMES honest games from CLIENTS
concurrent clients, each taking a session token, waiting out its game's
length as a player would, and sending the journal. Then it waits until the
queue has drained and checks that every game was ranked, once.

    load.py --url http://127.0.0.1:8080 [--url ...] --games 2000 --clients 100
            (--fake | --journal FILE)

--fake makes journals for server/tests/fake_game.py (1 s games, each with its
own score); --journal takes a game journal the game wrote and sends it with a
fresh token in each copy's header (so each copy is its own game). Several
--url spread the clients over several servers; a client whose server stops
answering moves to the next one. Prints one line of figures."""
import argparse
import http.client
import json
import sys
import threading
import time
import urllib.parse
import zlib



def fake_journal(i, token):
    rec = "mode=medium score=%d wave=3 frames=60 ms=1000 practice=0 autoplay=0 name=%s" % (
        10 * i + 5, ("load%d" % i).encode().hex())
    head = ("wormlob2 game 1\nrules 0123456789abcdef\nassets fedcba9876543210\nmode medium\nname %s\nscore %d\n"
            "wave 3\nframes 60\nms 1000\ntoken %s\npractice 0\nautoplay 0\n\n") % (
        ("load%d" % i).encode().hex(), 10 * i + 5, token)
    return head.encode() + zlib.compress(("record " + rec).encode())


def with_token(journal, token):
    lines = journal.split(b"\n")
    for n, line in enumerate(lines):
        if line.startswith(b"token "):
            lines[n] = b"token " + token.encode()
            break
    return b"\n".join(lines)


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


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--url", action="append", required=True)
    p.add_argument("--games", type=int, default=2000)
    p.add_argument("--clients", type=int, default=100)
    p.add_argument("--fake", action="store_true")
    p.add_argument("--journal")
    p.add_argument("--timeout", type=float, default=3600)
    a = p.parse_args()
    base = open(a.journal, "rb").read() if a.journal else None
    length_s = 1.0
    if base:
        head = base.split(b"\n\n")[0].decode("latin-1").split("\n")
        length_s = int(dict(l.split(" ", 1) for l in head[1:])["ms"]) / 1000.0

    ids, lock = {}, threading.Lock()
    next_game = [0]
    start = time.time()

    def client(n):
        c = Client(a.url)
        while True:
            with lock:
                i = next_game[0]
                if i >= a.games:
                    return
                next_game[0] += 1
            status, r = c.call("POST", "/api/v1/sessions", start=n)
            token = r["token"]
            time.sleep(length_s + 0.05)  # the game is played
            journal = with_token(base, token) if base else fake_journal(i, token)
            status, r = c.call("POST", "/api/v1/games", journal)
            if status not in (200, 202):
                raise RuntimeError("submission refused: %d %s" % (status, r))
            with lock:
                ids[i] = r["id"]

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
    ranked = sum(1 for g in verdicts.values() if g["status"] == "ranked")
    rejected = [g for g in verdicts.values() if g["status"] != "ranked"]
    distinct = len(set(ids.values()))
    print("games=%d distinct_ids=%d ranked=%d rejected=%d pending=%d submit_s=%.1f drain_s=%.1f total_s=%.1f "
          "rate=%.1f/s" % (a.games, distinct, ranked, len(rejected), len(waiting), sent - start, done - sent,
                           done - start, ranked / max(done - start - length_s, 0.001)))
    for g in rejected[:5]:
        print("rejected:", g)
    return 0 if ranked == a.games and distinct == a.games else 1


if __name__ == "__main__":
    sys.exit(main())

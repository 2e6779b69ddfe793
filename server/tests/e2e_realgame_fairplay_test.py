#!/usr/bin/python3
"""The real game's own games on the fair-play rules, on SQLite and
PostgreSQL: a game from its token's seed and a --daily game are ranked (the
daily one in its day's table only), the same game with its token swapped or
a daily copy under another daily token is refused, and a game on a seed of
its own is not ranked.

    e2e_realgame_fairplay_test.py --server BIN --game fake_game.py --files DIR --real-game GAME
"""
import glob
import http.server
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402
from server_test import check, set_header, header_of  # noqa: E402

SEED_FAULT = "it did not start from the seed its session token gave"


class Relay:
    """The game's score server: tokens come from the real one; the game's
    own upload is answered "later", since a game on the virtual clock ends
    seconds after its token was taken and would be refused as too soon."""

    def __init__(self, port):
        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                status, data = 503, b'{"error": "later"}'
                if self.path == "/api/v1/sessions":
                    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                    c.request("POST", self.path, body=body, headers={"Content-Type": "application/json"})
                    r = c.getresponse()
                    status, data = r.status, r.read()
                    if status == 200:
                        got = json.loads(data)
                        st.SEEDS[got["token"]] = got["seed"]
                try:
                    self.send_response(status)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(data)))
                    self.end_headers()
                    self.wfile.write(data)
                except OSError:
                    pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()


def play(game, files, work, name, extra):
    folder = os.path.join(work, name)
    shutil.copytree(files, folder, symlinks=True,
                    ignore=shutil.ignore_patterns("scores.dat*", "Setup.ini*", "Debug.txt", "games", "outbox",
                                                  "Online.ini"))
    lines = ["100 move 400 300", "9000 mouse down 1", "9050 mouse up 1", "9600 mouse down 1", "9650 mouse up 1"]
    lines += ["%d move %d 500" % (t, 200 + (t // 7) % 400) for t in range(9300, 40000, 700)]
    for t in range(20000, 600000, 3000):
        lines += ["%d key down 13" % t, "%d key up 13" % (t + 50)]
    script = os.path.join(work, name + ".txt")
    open(script, "w").write("\n".join(lines) + "\n")
    subprocess.run([game, "--headless", "--virtual-clock", "--input", script, "--games", "1", "--files", folder]
                   + extra, check=True, stdout=subprocess.DEVNULL, timeout=600,
                   env=dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null"))
    filed = glob.glob(os.path.join(folder, "418", "games", "*.w2g"))
    if len(filed) != 1:
        raise RuntimeError("the game filed %d journals" % len(filed))
    return open(filed[0], "rb").read()


def real_fairplay(args, database, label):
    work = tempfile.mkdtemp(prefix="wl2-real-fair-")
    os.chmod(work, 0o755)
    try:
        lift = ["--memory-limit", "0"] if args.sanitized else []
        s = st.Server(args, database, work, ["--game", args.real_game, "--wall-limit", "60", "--lease", "90"] + lift)
        relay = Relay(s.port)
        honest = play(args.real_game, args.files, work, "honest", ["--scores-server", relay.url])
        daily = play(args.real_game, args.files, work, "daily",
                     ["--scores-server", relay.url, "--daily", "--mode", "hard"])
        own_seed = st.play_real_game(args.real_game, args.files, work, "own-seed")
        h, d = header_of(honest), header_of(daily)
        check(h["token"] in st.SEEDS and d["token"] in st.SEEDS, "the games took their tokens: %s %s" % (h, d))
        fresh = [s.token() for _ in range(2)]
        fresh_daily = s.token({"challenge": "daily", "mode": "hard"})
        st.backdate(database, [h["token"], d["token"]] + fresh + [fresh_daily], int(h["ms"]) + int(d["ms"]) + 1000)
        cases = [
            ("the real game from its token's seed", honest, "ranked", ""),
            ("the real game's daily challenge", daily, "ranked", ""),
            ("the real game with its token swapped", set_header(honest, token=fresh[0]), "rejected", SEED_FAULT),
            ("the real game on a seed of its own", set_header(own_seed, token=fresh[1]), "rejected", SEED_FAULT),
            ("the real daily game under another daily token", set_header(daily, token=fresh_daily), "rejected",
             "the same game as game "),
        ]
        ids = {}
        for case, data, _, _ in cases:
            ids[case] = s.submit(data)[1].get("id", 0)
            s.wait_game(ids[case], timeout=120)  # one at a time: the copy comes after the original
        for case, _, want, words in cases:
            g = s.wait_game(ids[case], timeout=120)
            check(g.get("status") == want and words in g.get("reason", ""),
                  "%s: wanted %s (%s), got %s" % (case, want, words, g))
        g = s.json("GET", "/api/v1/games/%d" % ids["the real game's daily challenge"])[1]
        today = time.strftime("%Y-%m-%d", time.gmtime())
        check(g.get("challenge") == "daily" and g.get("challenge_date") == today and g.get("rank") == 1,
              "the daily game as the API shows it: %s" % g)
        daily_rows = s.json("GET", "/api/v1/scores?mode=hard&challenge=daily")[1]["scores"]
        check([r["id"] for r in daily_rows] == [ids["the real game's daily challenge"]], "the daily table: %s" % daily_rows)
        hard = s.json("GET", "/api/v1/scores?mode=hard&period=all")[1]["scores"]
        check(ids["the real game's daily challenge"] not in [r["id"] for r in hard], "not in the ordinary table")
        s.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_suites(args):
    if not args.real_game:
        check(False, "the real game is needed (--real-game)")
        return 1
    return st.on_both_databases(real_fairplay, args)


if __name__ == "__main__":
    st.run_suites = run_suites
    sys.exit(st.main())

#!/usr/bin/python3
"""End-to-end tests of wormlob2-server: the real server on 127.0.0.1, with a
SQLite file and with a throwaway PostgreSQL cluster this script starts
itself. Journals are replayed by the program given with --game.

    server_test.py --server BIN --game GAME --files DIR [--no-postgres]
"""
import argparse
import http.client
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import zlib

RULES = "0123456789abcdef"  # what fake_game.py takes for this version
ASSETS = "fedcba9876543210"
PG_BIN = "/usr/lib/postgresql/15/bin"

passed = 0
failed = 0
# The seed the server gave with each token: a journal sent with the token
# records it, as the game started from it.
SEEDS = {}


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAILED: " + what, flush=True)
    return ok


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def journal(record=None, header=None, lines=(), body=None):
    """A game journal: the header's claims default to the record's, which
    is what the replay files, and the game started from the seed its token
    gave (unless the record names a seed)."""
    rec = {"mode": "medium", "score": 1200, "wave": 3, "frames": 60, "ms": 1000,
           "practice": 0, "autoplay": 0, "name": "-"}
    rec.update(record or {})
    head = {"rules": RULES, "assets": ASSETS, "token": "-"}
    head.update({k: rec[k] for k in ("mode", "name", "score", "wave", "frames", "ms", "practice", "autoplay")})
    head.update(header or {})
    if "seed" not in rec and head.get("token") in SEEDS:
        rec["seed"] = SEEDS[head["token"]]
    order = ["rules", "assets", "mode", "name", "score", "wave", "frames", "ms", "token", "practice", "autoplay"]
    text = "wormlob2 game 1\n" + "".join("%s %s\n" % (k, head[k]) for k in order if head.get(k) is not None) + "\n"
    if body is None:
        plain = "record " + " ".join("%s=%s" % (k, rec[k]) for k in
                                     ("mode", "score", "wave", "frames", "ms", "practice", "autoplay", "name",
                                      "seed", "fingerprint") if k in rec)
        body = zlib.compress("\n".join([plain] + list(lines)).encode())
    return text.encode() + body


def hexname(s):
    return s.encode("latin-1").hex()


class Server:
    def __init__(self, args, database, work, extra=(), prefix=()):
        self.port = free_port()
        self.log_path = os.path.join(work, "server-%d.log" % self.port)
        cmd = list(prefix) + [args.server, "--port", str(self.port), "--database", database, "--game", args.game,
               "--files", args.files, "--work-dir", work, "--poll-ms", "200", "--rate-burst", "100000",
               "--wall-limit", "4", "--lease", "5"] + list(extra)
        self.log = open(self.log_path, "w")
        # The tests poll for verdicts many times a second: no GET allowance
        # unless a test sets one (in the environment, where a server without
        # that setting ignores it).
        env = dict(os.environ)
        env.setdefault("WORMLOB_SERVER_GET_RATE_LIMIT", "0")
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=subprocess.STDOUT, cwd=work, env=env)
        for _ in range(200):
            try:
                if self.request("GET", "/api/v1/health")[0] == 200:
                    return
            except OSError:
                pass
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("the server did not start:\n" + self.text())

    def text(self):
        if not self.log.closed:
            self.log.flush()
        return open(self.log_path).read()

    def request(self, method, path, body=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, data, dict(r.getheaders())

    def json(self, method, path, body=None):
        status, data, _ = self.request(method, path, body)
        try:
            return status, json.loads(data)
        except ValueError:
            return status, {"not json": data[:200].decode("latin-1")}

    def token(self, body=None):
        """A session token (a daily challenge's with the body {"challenge":
        "daily", "mode": ...}); its seed is kept in SEEDS."""
        r = self.json("POST", "/api/v1/sessions", body if body is None else json.dumps(body))[1]
        if "seed" in r:
            SEEDS[r["token"]] = r["seed"]
        return r["token"]

    def submit(self, data):
        return self.json("POST", "/api/v1/games", data)

    def wait_log(self, text, timeout=30):
        end = time.time() + timeout
        while time.time() < end and text not in self.text():
            time.sleep(0.05)
        return text in self.text()

    def wait_game(self, gid, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            status, g = self.json("GET", "/api/v1/games/%d" % gid)
            if status == 200 and g["status"] != "pending":
                return g
            time.sleep(0.05)
        return self.json("GET", "/api/v1/games/%d" % gid)[1]

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        try:
            rc = self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
        self.log.close()
        return rc


def forgeries(s, tokens):
    """Each way a journal can fail, with the reason the server must give.
    Returns the id of the honest game."""
    t = iter(tokens)
    honest_name = "<b>Ann & 'Bo'</b> \xe9"
    cases = [
        # label, journal, status, words the reason holds
        ("honest", journal({"name": hexname(honest_name), "score": 5150}, {"token": next(t)}), "ranked", ""),
        ("edited score", journal({"score": 900}, {"score": 90000, "token": next(t)}), "rejected", "claims score 90000"),
        ("edited wave", journal({"wave": 2}, {"wave": 9, "token": next(t)}), "rejected", "claims wave 9"),
        ("edited name", journal({"name": hexname("Al")}, {"name": hexname("Bo"), "token": next(t)}), "rejected",
         "another name"),
        ("edited input", journal(header={"token": next(t)}, lines=["diverge the replay went its own way at frame 31"]),
         "rejected", "went its own way at frame 31"),
        ("truncated", journal(header={"token": next(t)})[:-6], "rejected", "cut short"),
        ("other version", journal(header={"rules": "0000000000000001", "token": next(t)}), "rejected",
         "another version"),
        ("other assets", journal(header={"assets": "0000000000000001", "token": next(t)}), "rejected", "other assets"),
        ("practice", journal({"practice": 1}, {"token": next(t)}), "rejected", "practice keys"),
        ("demo", journal({"autoplay": 1}, {"token": next(t)}), "rejected", "demo player"),
        ("fast clock", journal({"frames": 600, "ms": 8500}, {"token": next(t)}), "rejected", "faster than the frame pacing"),
        ("slowed clock", journal({"frames": 36000, "ms": 600000}, {"token": s.token()}), "rejected",
         "sooner after its start than its own length"),
        ("offline", journal({"score": 4}), "rejected", "played offline"),
        ("unknown token", journal({"score": 5}, {"token": "0" * 32}), "rejected", "not issued by this server"),
        ("timeout", journal({"score": 6}, {"token": next(t)}, lines=["sleep 20"]), "rejected", "did not finish within the time allowed, 3 times"),
        # Confined: no network and nothing writable outside its folder. Even
        # where the kernel refuses namespaces (--weak-sandbox), the system
        # call filter refuses sockets and the replay's own user id owns
        # nothing outside.
        ("confined", journal({"score": 7}, {"token": next(t)}, lines=["escape %s/outside %d" % (s.work, s.port)]),
         "ranked", ""),
    ]
    ids = {}
    for label, data, _, _ in cases:
        status, r = s.submit(data)
        check(status == 202 and r.get("status") == "pending", "%s: submitted, got %d %s" % (label, status, r))
        ids[label] = r.get("id", 0)
    for label, _, want, words in cases:
        g = s.wait_game(ids[label])
        check(g.get("status") == want and words in g.get("reason", ""),
              "%s: wanted %s (%s), got %s" % (label, want, words, g))
    check(not os.path.exists(os.path.join(s.work, "outside")), "the replay wrote outside its folder")

    # Token spent by the honest game; a second game with it is not ranked.
    reused = journal({"score": 8}, {"token": cases[0][1].split(b"token ")[1].split(b"\n")[0].decode()})
    g = s.wait_game(s.submit(reused)[1]["id"])
    check(g["status"] == "rejected" and "already used by game %d" % ids["honest"] in g["reason"], "reused token: %s" % g)

    hid = ids["honest"]
    g = s.json("GET", "/api/v1/games/%d" % hid)[1]
    check(g == {"id": hid, "status": "ranked", "reason": "", "name": honest_name, "score": 5150, "mode": "medium",
                "wave": 3, "rank": 1, "date": g.get("date")}, "the ranked game as the API shows it: %s" % g)
    status, body, _ = s.request("GET", "/api/v1/games/%d/journal" % hid)
    check(status == 200 and body == cases[0][1], "the journal comes back as it was sent")
    status, r = s.json("GET", "/api/v1/games/%d/journal" % ids["edited score"])
    check(status == 404 and "only ranked games" in r.get("error", ""), "a rejected game's journal: %d %s" % (status, r))
    # Same journal again: the same game.
    status, r = s.submit(cases[0][1])
    check(status == 200 and r == {"id": hid, "status": "ranked"}, "a journal sent twice: %d %s" % (status, r))
    return hid, honest_name


def tables(s, hid, name):
    status, r = s.json("GET", "/api/v1/scores?mode=medium&period=day")
    rows = r.get("scores", [])
    check(status == 200 and rows and rows[0]["id"] == hid and rows[0]["rank"] == 1 and rows[0]["name"] == name
          and rows[0]["score"] == 5150, "the day's medium table: %s" % r)
    check(all(x["mode"] == "medium" for x in rows) and len(rows) == 2, "the medium table holds the two ranked games")
    check(s.json("GET", "/api/v1/scores?mode=hard")[1] == {"scores": []}, "the hard table is empty")
    offset = s.json("GET", "/api/v1/scores?mode=medium&offset=1&limit=1")[1]["scores"]
    check(len(offset) == 1 and offset[0]["rank"] == 2, "offset and limit: %s" % offset)
    status, page, headers = s.request("GET", "/?mode=medium")
    page = page.decode()
    check(status == 200 and headers.get("Content-Type", "").startswith("text/html"), "the page is HTML")
    check("&lt;b&gt;Ann &amp; &#39;Bo&#39;&lt;/b&gt; \u00e9" in page and "<b>Ann" not in page, "the page escapes the name")
    check('href="/play/?replay=/api/v1/games/%d/journal"' % hid in page, "the page links the game's replay")


def bad_requests(s):
    """Each refused request gets its status and a JSON error, and stores nothing."""
    good = journal()
    lines = good.split(b"\n")

    def with_line(i, text):
        return b"\n".join(lines[:i] + [text] + lines[i + 1:])

    cases = [
        ("POST", "/api/v1/games", b"", 400),
        ("POST", "/api/v1/games", b"hello", 400),
        ("POST", "/api/v1/games", b"wormlob2 game 2\n" + good.split(b"\n", 1)[1], 400),
        ("POST", "/api/v1/games", with_line(3, b"mode nightmare"), 400),
        ("POST", "/api/v1/games", with_line(4, b"name 4"), 400),
        ("POST", "/api/v1/games", with_line(4, b"name 410a"), 400),
        ("POST", "/api/v1/games", with_line(4, b"name " + b"41" * 41), 400),
        ("POST", "/api/v1/games", with_line(5, b"score -1"), 400),
        ("POST", "/api/v1/games", with_line(5, b"score 0012"), 400),
        ("POST", "/api/v1/games", with_line(7, b"frames 0"), 400),
        ("POST", "/api/v1/games", with_line(7, b"frames 999999999"), 400),
        ("POST", "/api/v1/games", with_line(9, b"token a b"), 400),
        ("POST", "/api/v1/games", with_line(10, b"practice 2"), 400),
        ("POST", "/api/v1/games", b"\n".join(lines[:3] + lines[4:]), 400),
        ("POST", "/api/v1/games", good.split(b"\n\n")[0], 400),
        ("POST", "/api/v1/games", good + b"x" * (1 << 20), 413),
        ("GET", "/api/v1/games", None, 405),
        ("DELETE", "/api/v1/games/1", None, 405),
        ("GET", "/api/v1/games/abc", None, 404),
        ("GET", "/api/v1/games/0", None, 404),
        ("GET", "/api/v1/games/99999999", None, 404),
        ("GET", "/api/v1/games/99999999/journal", None, 404),
        ("GET", "/api/v1/scores", None, 400),
        ("GET", "/api/v1/scores?mode=nightmare", None, 400),
        ("GET", "/api/v1/scores?mode=easy&period=year", None, 400),
        ("GET", "/api/v1/scores?mode=easy&limit=0", None, 400),
        ("GET", "/api/v1/scores?mode=easy&limit=101", None, 400),
        ("GET", "/api/v1/scores?mode=easy&offset=-1", None, 400),
        ("GET", "/?mode=x", None, 400),
        ("GET", "/nowhere", None, 404),
        ("GET", "/play/index.html", None, 404),
    ]
    before = s.json("GET", "/api/v1/health")[1]
    last = s.submit(journal({"score": 11}))[1]["id"]
    for method, path, body, want in cases:
        status, r = s.json(method, path, body)
        check(status == want and isinstance(r.get("error"), str) and len(r["error"]) > 10,
              "%s %s (%r...): wanted %d and an error, got %d %s" % (method, path, (body or b"")[:40], want, status, r))
    # The HTTP library reads at most 8 KB of a form-encoded body: the
    # refusal says how to send a journal instead.
    status, data, _ = s.request("POST", "/api/v1/games", good + b"\0" * 9000,
                                {"Content-Type": "application/x-www-form-urlencoded"})
    check(status == 413 and b"application/octet-stream" in data, "a form-encoded journal: %d %r" % (status, data))
    nxt = s.submit(journal({"score": 12}))[1]["id"]
    check(nxt == last + 1, "a refused request stored a game (ids %d then %d)" % (last, nxt))
    check(before["status"] == "ok", "health: %s" % before)

    # Bytes that are no HTTP request, and a client that stops half-way:
    # refused or dropped, and nobody else waits for them.
    with socket.create_connection(("127.0.0.1", s.port)) as raw:
        raw.sendall(b"\x00\xffNOT HTTP AT ALL\r\n\r\n")
        raw.settimeout(5)
        reply = b""
        while b"}" not in reply:  # the headers and the body may come apart
            more = raw.recv(4096)
            if not more:
                break
            reply += more
        check(reply.startswith(b"HTTP/1.1 400") and b'"error"' in reply, "garbage: %r" % reply[:100])
    slow = socket.create_connection(("127.0.0.1", s.port))
    slow.sendall(b"POST /api/v1/games HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\nwormlob2 ga")
    start = time.time()
    ok = all(s.request("GET", "/api/v1/scores?mode=easy")[0] == 200 for _ in range(20))
    check(ok and time.time() - start < 5, "others are served while a client stalls")
    slow.close()


def restarts(args, database, work):
    """SIGTERM lets a running replay finish; a restart keeps every game and
    token and takes up the queue; a process killed mid-replay loses its
    games only until its lease runs out, and nothing is ranked twice."""
    s = Server(args, database, work)
    s.work = work
    tokens = [s.token() for _ in range(4)]
    time.sleep(1.1)
    slow = s.submit(journal({"score": 21}, {"token": tokens[0]}, lines=["sleep 1.5"]))[1]["id"]
    s.wait_log("replay game=%d started" % slow)
    rc = s.stop()
    log = s.text()
    check(rc == 0 and "stopped" in log, "SIGTERM stops cleanly (status %s)" % rc)
    check("verify game=%d result=ranked" % slow in log, "SIGTERM let the running replay finish:\n" + log[-800:])

    idle = Server(args, database, work, ["--workers", "0"])
    queued = idle.submit(journal({"score": 22}, {"token": tokens[1]}))[1]["id"]
    idle.stop()
    s = Server(args, database, work)
    check(s.wait_game(queued)["status"] == "ranked", "a restart takes up the queue")
    check(s.json("GET", "/api/v1/games/%d" % slow)[1]["status"] == "ranked", "a restart keeps the ranked games")
    late = s.wait_game(s.submit(journal({"score": 23}, {"token": tokens[2]}))[1]["id"])
    check(late["status"] == "ranked", "a token taken before a restart still counts: %s" % late)
    s.stop()

    # A process killed while it replays a game: another process on the same
    # database takes the game over once the lease (5 s) has run out.
    a = Server(args, database, work, ["--workers", "1"])
    held = a.submit(journal({"score": 25}, {"token": tokens[3]}, lines=["sleep 1"]))[1]["id"]
    check(a.wait_log("replay game=%d started" % held), "the first process took the game")
    # Killed once its replay runs in a folder it holds.
    locked = lambda: [d for d in os.listdir(work)
                      if d.startswith("replay-") and os.path.exists(os.path.join(work, d, ".lock"))]
    for _ in range(200):
        if locked():
            break
        time.sleep(0.02)
    a.stop(signal.SIGKILL)
    b = Server(args, database, work, ["--workers", "1", "--poll-ms", "100"])
    g = b.wait_game(held, timeout=30)
    b_log = b.text()
    b.stop()
    check(g["status"] == "ranked", "a killed process's game is verified by the other: %s" % g)
    check(b_log.count("verify game=%d result=ranked" % held) == 1 and "verify game=%d" % held not in a.text(),
          "the killed process's game is ranked once, by the survivor")
    # The killed process's replay folder is cleared by the next start; the
    # survivor left none of its own.
    left = [d for d in os.listdir(work) if d.startswith(("replay-", "probe-"))]
    check(not left and "removed 1 replay folders left by a stopped process" in b_log,
          "the killed process's replay folder is removed at the next start: %s" % left)


def without_namespaces(args, work):
    """Where the kernel refuses the replays their namespaces, the server
    refuses to start and says what is missing; with --weak-sandbox it starts,
    says so in its log and in its health, the replays (started as root) still
    run under ids of their own, and every verdict holds. Made here by taking
    from root the one capability namespaces need."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        check(not os.environ.get("WORMLOB_NO_SKIP"), "without namespaces: not tried (needs root and setpriv)")
        print("without namespaces: not tried (needs root and setpriv)")
        return
    keep = "-all,+setuid,+setgid,+chown,+fowner,+dac_override,+kill"
    prefix = ["setpriv", "--bounding-set", keep, "--inh-caps", "-all", "--"]
    try:
        Server(args, os.path.join(work, "refused.sqlite"), work, prefix=prefix)
        check(False, "without namespaces and without --weak-sandbox the server starts")
    except RuntimeError as e:
        check("the replays cannot be confined here" in str(e) and "unshare: Operation not permitted" in str(e)
              and "--weak-sandbox" in str(e), "without namespaces the server refuses to start with the reason: %s"
              % str(e)[-300:])
    s = Server(args, os.path.join(work, "no-namespaces.sqlite"), work, ["--weak-sandbox"], prefix=prefix)
    s.work = work
    check("weak sandbox" in s.text().splitlines()[0] and "confinement: no namespaces, own user id" in s.text(),
          "without namespaces the first log line says so: " + s.text()[-400:])
    status, health = s.json("GET", "/api/v1/health")
    check(status == 200 and "weak" in json.dumps(health) and "namespaces" in json.dumps(health),
          "without namespaces the health says so: %s" % health)
    tokens = [s.token() for _ in range(14)]
    time.sleep(1.1)
    forgeries(s, tokens)
    check(s.stop() == 0, "the server without namespaces stops cleanly")


def rate_limit(args, database, work):
    s = Server(args, database, work, ["--rate-limit", "1", "--rate-burst", "3", "--trusted-proxy", "127.0.0.1"])
    got = [s.json("POST", "/api/v1/sessions") for _ in range(4)]
    check([g[0] for g in got] == [200, 200, 200, 429] and "error" in got[3][1], "the rate limit: %s" % got)
    # Through a trusted proxy each client has its own allowance; an address
    # the client wrote itself before the proxy's does not count.
    other = [s.request("POST", "/api/v1/sessions", headers={"X-Forwarded-For": "10.9.9.%d, 192.0.2.7" % n})[0]
             for n in range(4)]
    check(other == [200, 200, 200, 429], "the rate limit behind a proxy: %s" % other)
    s.stop()


def play_real_game(game, files, work, name, extra=(), practice=False):
    """Plays a Medium game with the real program on the virtual clock from
    an input script and returns the journal it filed: start, steer a little,
    let the game end, Enter at the name prompt."""
    folder = os.path.join(work, name)
    shutil.copytree(files, folder, symlinks=True,
                    ignore=shutil.ignore_patterns("scores.dat*", "Setup.ini*", "Debug.txt", "games"))
    lines = ["100 move 400 300", "9000 mouse down 1", "9050 mouse up 1", "9600 mouse down 1", "9650 mouse up 1"]
    lines += ["%d move %d 500" % (t, 200 + (t // 7) % 400) for t in range(9300, 40000, 700)]
    if practice:
        lines += ["12000 key down 114", "12050 key up 114"]
    for t in range(20000, 150000, 3000):
        lines += ["%d key down 13" % t, "%d key up 13" % (t + 50)]
    script = os.path.join(work, name + ".txt")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([game, "--headless", "--virtual-clock", "--input", script, "--seed", "11", "--games", "1",
                    "--files", folder] + list(extra), check=True, stdout=subprocess.DEVNULL, timeout=300,
                   env=dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null"))
    games = os.listdir(os.path.join(folder, "418", "games"))
    if len(games) != 1:
        raise RuntimeError("the game filed %d journals" % len(games))
    return open(os.path.join(folder, "418", "games", games[0]), "rb").read()


def set_header(data, **values):
    head, body = data.split(b"\n\n", 1)
    lines = head.split(b"\n")
    for n, line in enumerate(lines):
        key = line.split(b" ")[0].decode()
        if key in values:
            lines[n] = ("%s %s" % (key, values[key])).encode()
    return b"\n".join(lines) + b"\n\n" + body


def header_of(data):
    return dict(l.split(" ", 1) for l in data.split(b"\n\n")[0].decode().split("\n")[1:])


def real_games(args, database, label):
    """The real game's journals: an honest one is ranked, forgeries and
    practice games refused with the game's own reasons."""
    work = tempfile.mkdtemp(prefix="wl2-real-")
    os.chmod(work, 0o755)
    try:
        honest = play_real_game(args.real_game, args.files, work, "honest")
        practice = play_real_game(args.real_game, args.files, work, "practice", practice=True)
        h = header_of(honest)
        # A sanitizer build of the game cannot start under an address-space
        # limit (it reserves its shadow memory up front).
        lift = ["--memory-limit", "0"] if args.sanitized else []
        s = Server(args, database, work, ["--game", args.real_game, "--wall-limit", "60", "--lease", "90"] + lift)
        tokens = [s.token() for _ in range(8)]
        # The game lasted h["ms"] on its clock: the tokens are made as old as
        # if it had been played since they were taken.
        backdate(database, tokens, int(h["ms"]) + 1000)
        t = iter(tokens)
        # These games start from the seed given with --seed, not from a
        # token's: each is verified, and the honest one is then refused for
        # its seed (a journal filed before tokens gave seeds still replays).
        cases = [
            ("honest real game", set_header(honest, token=next(t)), "rejected",
             "it did not start from the seed its session token gave"),
            ("real game, edited score", set_header(honest, token=next(t), score=int(h["score"]) + 1000), "rejected",
             "another record"),
            ("real game, edited name", set_header(honest, token=next(t), name="436865617465" + "72"), "rejected",
             "another record"),
            ("real game, cut short", set_header(honest, token=next(t))[:-len(honest) // 3], "rejected",
             "damaged or cut short"),
            ("real game, another version", set_header(honest, token=next(t), rules="0" * 16), "rejected",
             "another version"),
            ("real game, other assets", set_header(honest, token=next(t), assets="0" * 16), "rejected",
             "other game assets"),
            ("real game with F3", set_header(practice, token=next(t)), "rejected", "practice keys"),
            ("real game, slowed clock", set_header(honest, token=s.token(), score=h["score"]), "rejected",
             "sooner after its start"),
            ("real game, offline", set_header(honest, token="-"), "rejected", "played offline"),
        ]
        ids = {label_: s.submit(data)[1].get("id", 0) for label_, data, _, _ in cases}
        for case, _, want, words in cases:
            g = s.wait_game(ids[case], timeout=120)
            check(g.get("status") == want and words in g.get("reason", ""),
                  "%s: wanted %s (%s), got %s" % (case, want, words, g))
        g = s.json("GET", "/api/v1/games/%d" % ids["honest real game"])[1]
        # Played from a seed of its own, it is verified but not ranked: what
        # it filed is shown only as claimed.
        rec = g if g.get("status") == "ranked" else g.get("claimed", {})
        check(rec.get("score") == int(h["score"]) and rec.get("wave") == int(h["wave"]) and rec.get("mode") == h["mode"],
              "the real game's record: %s against %s" % (g, h))
        log = s.text()
        s.stop()
        print("%s: %s" % (label, [l for l in log.splitlines() if l.startswith("verify game=%d " % ids["honest real game"])]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def backdate(database, tokens, ms):
    sql = "UPDATE sessions SET issued_ms = issued_ms - %d WHERE token IN (%s)" % (
        ms, ",".join("'%s'" % t for t in tokens))
    if database.startswith("postgresql://"):
        subprocess.run(["psql", "-q", database, "-c", sql], check=True, stdout=subprocess.DEVNULL)
    else:
        import sqlite3
        with sqlite3.connect(database) as db:
            db.execute(sql)


def suite(args, database, label):
    global passed, failed
    before = (passed, failed)
    work = tempfile.mkdtemp(prefix="wl2-server-test-")
    os.chmod(work, 0o755)
    try:
        s = Server(args, database, work)
        s.work = work
        tokens = [s.token() for _ in range(14)]
        time.sleep(1.1)  # the honest games last 1 s on their clock
        hid, name = forgeries(s, tokens)
        tables(s, hid, name)
        bad_requests(s)
        log = s.text()
        check(s.stop() == 0, "the server stops cleanly")
        check("GET /api/v1/health 200" in log and "verify game=%d result=ranked" % hid in log,
              "one log line per request and per verification")
        confinement = [l for l in log.splitlines() if "confinement:" in l]
        print("%s: %s" % (label, confinement[0].split("confinement: ")[1] if confinement else "?"))
        restarts(args, database, work)
        rate_limit(args, database, work)
        if label == "sqlite":
            without_namespaces(args, work)
        if args.real_game:
            real_games(args, database, label)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%s: %d passed, %d failed" % (label, passed - before[0], failed - before[1]), flush=True)


class Postgres:
    """A cluster of its own in a temporary folder, run by an unprivileged
    user, on a free port; removed afterwards."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="wl2-pg-")
        self.port = free_port()
        self.as_user = []
        if os.geteuid() == 0:
            os.chown(self.dir, pwd.getpwnam("nobody").pw_uid, -1)
            self.as_user = ["runuser", "-u", "nobody", "--"]
        data = os.path.join(self.dir, "data")
        self.run([PG_BIN + "/initdb", "-D", data, "-A", "trust", "-U", "wormlob", "--no-sync", "-E", "UTF8"])
        self.run([PG_BIN + "/pg_ctl", "-D", data, "-l", os.path.join(self.dir, "log"), "-w", "-o",
                  "-k %s -p %d -h 127.0.0.1 -F" % (self.dir, self.port), "start"])
        self.data = data
        self.address = "postgresql://wormlob@127.0.0.1:%d/postgres" % self.port

    def run(self, cmd):
        subprocess.run(self.as_user + cmd, check=True, cwd=self.dir, stdout=subprocess.DEVNULL)

    def close(self):
        try:
            self.run([PG_BIN + "/pg_ctl", "-D", self.data, "-m", "immediate", "stop"])
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--server", required=True)
    p.add_argument("--game", required=True)
    p.add_argument("--files", required=True)
    p.add_argument("--no-postgres", action="store_true")
    p.add_argument("--real-game", help="the game binary, to replay journals it files itself as well")
    p.add_argument("--sanitized", action="store_true", help="the game is a sanitizer build")
    args = p.parse_args()
    args.server = os.path.abspath(args.server)
    args.game = os.path.abspath(args.game)
    args.files = os.path.abspath(args.files)
    if args.real_game:
        args.real_game = os.path.abspath(args.real_game)

    shared = None
    if os.geteuid() == 0 and not reachable_by_nobody([args.game, os.path.join(args.files, "418"),
                                                     args.real_game or args.game]):
        # A server run as root replays under an id of no account, which cannot reach a checkout
        # in a private folder: the programs and assets go where it can.
        shared = tempfile.mkdtemp(prefix="wl2-shared-")
        os.chmod(shared, 0o755)
        for attr in ("game", "real_game"):
            if getattr(args, attr):
                dest = os.path.join(shared, attr + "-" + os.path.basename(getattr(args, attr)))
                shutil.copy2(getattr(args, attr), dest)
                setattr(args, attr, dest)
        shutil.copytree(args.files, os.path.join(shared, "Files"), symlinks=True,
                        ignore=shutil.ignore_patterns("scores.dat*", "Setup.ini*", "Debug.txt", "games"))
        args.files = os.path.join(shared, "Files")
        subprocess.run(["chmod", "-R", "a+rX", shared], check=True)
    try:
        return run_suites(args)
    finally:
        if shared:
            shutil.rmtree(shared, ignore_errors=True)


def reachable_by_nobody(paths):
    return subprocess.run(["runuser", "-u", "nobody", "--", "sh", "-c", 'for p; do [ -r "$p" ] || exit 1; done',
                           "sh"] + paths, cwd="/").returncode == 0


def on_both_databases(run, args):
    """Runs run(args, database, label) on a fresh SQLite file, then (unless
    --no-postgres) on a throwaway PostgreSQL cluster; the script's status:
    1 when a check failed or none ran."""
    sqlite_dir = tempfile.mkdtemp(prefix="wl2-sqlite-")
    try:
        run(args, os.path.join(sqlite_dir, "scores.sqlite"), "sqlite")
    finally:
        shutil.rmtree(sqlite_dir, ignore_errors=True)
    if not getattr(args, "no_postgres", False):
        pg = Postgres()
        try:
            run(args, pg.address, "postgresql")
        finally:
            pg.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


def run_suites(args):
    return on_both_databases(suite, args)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Hostile journals and the server's own troubles, through the real server
(on SQLite and on PostgreSQL) and the real game:

- a journal whose starting state holds a number named "input.0\\xff\\xfe" out
  of the 32-bit range: the game refuses it printing those raw bytes; the
  game must be rejected with a quoted, valid reason, shown by the API, and
  the queue must go on;
- journals that would keep a replay running (a clock run of 2^32 readings,
  a game that goes on past its claimed frames): refused quickly;
- a journal whose tables claim more items than its bytes hold: the game
  refuses it without allocating for them (its peak memory is measured);
- replays that cannot start because the server's work folder is gone: the
  honest game waits (never rejected), /api/v1/health answers 503 with the
  reason, and the game is ranked once the folder is back.

    e2e_journals_test.py --server BIN --game fake_game.py --files DIR --real-game BIN [--sanitized]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402


# ---- the game journal's body (media/gamejournal.cpp) ----

def get_var(b, pos):
    v, shift = 0, 0
    while True:
        c = b[pos]
        pos += 1
        v |= (c & 0x7F) << shift
        if not c & 0x80:
            return v, pos
        shift += 7


def put_var(v):
    out = bytearray()
    while v >= 0x80:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    out.append(v)
    return bytes(out)


def put_signed(v):
    return put_var((v << 1) ^ (v >> 63))  # zigzag: 0, -1, 1, -2 ... as 0, 1, 2, 3 ...


def split(data):
    head, packed = data.split(b"\n\n", 1)
    return head + b"\n\n", zlib.decompress(packed)


def with_body(head, body):
    return head + zlib.compress(body, 9)


def with_state_number(data, name, value):
    """The journal with one more named number in its starting state."""
    head, body = split(data)
    n, pos = get_var(body, 0)
    entry = put_var(len(name)) + name + put_signed(value)
    return with_body(head, put_var(n + 1) + entry + body[pos:])


def clock_section(body):
    """Where the clock runs start: after the state, the clock base and the
    frame count. Returns (start of the frame count, start of the runs)."""
    pos = 0
    n, pos = get_var(body, pos)
    for _ in range(n):
        size, pos = get_var(body, pos)
        pos += size
        _, pos = get_var(body, pos)
    n, pos = get_var(body, pos)
    for _ in range(2 * n):
        size, pos = get_var(body, pos)
        pos += size
    _, pos = get_var(body, pos)  # clock base
    frames_at = pos
    _, pos = get_var(body, pos)
    return frames_at, pos


def with_still_clock(data, readings):
    """The journal with a run of `readings` clock readings that do not move,
    put before its first: the frame's wait reads the clock until it does."""
    head, body = split(data)
    _, at = clock_section(body)
    n, pos = get_var(body, at)
    deltas, counts = [], []
    for _ in range(n):
        d, pos = get_var(body, pos)
        deltas.append(d)
    for _ in range(n):
        c, pos = get_var(body, pos)
        counts.append(c)
    runs = put_var(n + 1) + put_var(0) + b"".join(put_var(d) for d in deltas) + put_var(readings) + \
        b"".join(put_var(c) for c in counts)
    return with_body(head, body[:at] + runs + body[pos:])


def skip_vars(body, pos, n):
    for _ in range(n):
        _, pos = get_var(body, pos)
    return pos


def with_frames(data, frames):
    """The journal claiming `frames` frames in its header and its body, its
    checkpoints past them left out: the streams go on as they were."""
    head, body = split(data)
    frames_at, pos = clock_section(body)
    n, pos = get_var(body, pos)
    pos = skip_vars(body, pos, 2 * n)  # the clock runs
    n, pos = get_var(body, pos)
    pos = skip_vars(body, pos, 5 * n)  # the events
    n, pos = get_var(body, pos)
    pos = skip_vars(body, pos, n)  # the device answers
    checks_at = pos
    n, pos = get_var(body, pos)
    kept, frame = [], 0
    for _ in range(n):
        step, pos = get_var(body, pos)
        frame += step
        if frame <= frames:
            kept.append(put_var(step) + body[pos:pos + 8])
        pos += 8
    head = st.set_header(head + b"x", frames=frames)[:-1]
    streams = body[frames_at:checks_at]
    streams = put_var(frames) + streams[len(put_var(get_var(body, frames_at)[0])):]
    return with_body(head, body[:frames_at] + streams + put_var(len(kept)) + b"".join(kept))


def oversized_tables(data, share):
    """A body of zeros whose event table claims one item for every `share`
    bytes that follow its count: a small file (zeros compress well) that
    inflates to the reader's 16 MB."""
    head, _ = split(data)
    start = put_var(0) + put_var(0) + put_var(0) + put_var(int(st.header_of(data)["frames"])) + put_var(0)
    left = (16 << 20) - len(start) - 8 - 4  # the count takes 4 bytes
    events = left // share
    assert len(put_var(events)) == 4
    return with_body(head, start + put_var(events) + b"\0" * left), events


# ---- checks ----

def valid_reason(reason):
    return isinstance(reason, str) and len(reason.encode("utf-8")) <= 300 and all(ord(c) >= 32 for c in reason)


def log_bytes(s):
    if not s.log.closed:
        s.log.flush()
    return open(s.log_path, "rb").read()


def log_is_clean(s):
    raw = log_bytes(s)
    return all(32 <= b < 127 or b in (9, 10) for b in raw)


def verify_line(s, gid):
    # Read as bytes: a log that holds raw bytes is a failure of its own
    # (log_is_clean), not a reason for this script to stop.
    log = log_bytes(s).decode("latin-1")
    lines = [l for l in log.splitlines() if l.startswith("verify game=%d " % gid)]
    return lines[-1] if lines else ""


def replay_cpu(line):
    for word in line.split():
        if word.startswith("cpu="):
            return float(word[4:-1])
    return 999.0


def hostile_journals(args, database, label, honest, work):
    h = st.header_of(honest)
    lift = ["--memory-limit", "0"] if args.sanitized else []
    s = st.Server(args, database, work, ["--game", args.real_game, "--wall-limit", "100", "--lease", "120",
                                         "--cpu-limit", "60"] + lift)
    try:
        tokens = [s.token() for _ in range(6)]
        st.backdate(database, tokens, int(h["ms"]) + 1000)
        t = iter(tokens)
        stall = with_state_number(st.set_header(honest, token=next(t)), b"input.0\xff\xfe", 1 << 40)
        cases = [
            ("a state number named with raw bytes", stall, "the journal cannot be replayed: \"", "input.0"),
            ("a clock run of 2^32 still readings", with_still_clock(st.set_header(honest, token=next(t)), 2**32 - 1),
             "the journal cannot be replayed: \"", "damaged"),
            ("a frame that reads the clock for ever", with_still_clock(st.set_header(honest, token=next(t)), 3000000),
             "the replay does not match the journal: \"", "more often within one frame"),
            ("a game longer than its claimed frames", with_frames(st.set_header(honest, token=next(t)), 100),
             "the replay does not match the journal: \"", "ran past the 100 frames"),
        ]
        ids = {}
        for case, data, _, _ in cases:
            status, answer = s.submit(data)
            st.check(status == 202, "%s %s: submitted (%d %s)" % (label, case, status, answer))
            ids[case] = answer.get("id", 0)
        # The queue goes on past them: an honest game sent after them is
        # replayed to its end. It started from --seed's seed, not from its
        # token's, so that is all that refuses it.
        status, answer = s.submit(st.set_header(honest, token=next(t)))
        honest_id = answer.get("id", 0)
        for case, _, starts, words in cases:
            g = s.wait_game(ids[case], timeout=150)
            line = verify_line(s, ids[case])
            st.check(g.get("status") == "rejected" and g.get("reason", "").startswith(starts) and
                     words in g.get("reason", "") and valid_reason(g.get("reason")),
                     "%s %s: wanted rejected (%s...%s), got %s" % (label, case, starts, words, g))
            status, body, _ = s.request("GET", "/api/v1/games/%d" % ids[case])
            st.check(status == 200 and body.startswith(b"{"), "%s %s: the API answers %d" % (label, case, status))
            # Refused at once, not at the end of a CPU limit: a few seconds of
            # start-up at most (more under a sanitizer).
            most = 30.0 if args.sanitized else 8.0
            st.check(replay_cpu(line) < most, "%s %s: the replay took %s" % (label, case, line))
        g = s.wait_game(honest_id, timeout=150)
        st.check(g.get("status") == "rejected" and
                 g.get("reason") == "it did not start from the seed its session token gave",
                 "%s: the honest game after the hostile ones: %s" % (label, g))
        st.check(log_is_clean(s), "%s: the log holds only printable text" % label)
    finally:
        s.stop()


def peak_memory(args, data, work, name):
    """The game's peak resident memory (KB) and status replaying data."""
    path = os.path.join(work, name + ".w2g")
    with open(path, "wb") as f:
        f.write(data)
    folder = os.path.join(work, name)
    shutil.copytree(args.files, folder, symlinks=True,
                    ignore=shutil.ignore_patterns("scores.dat*", "Setup.ini*", "Debug.txt", "games"))
    # GNU time measures the game alone (a child forked from this script
    # would count the script's own memory from before its exec).
    peak = os.path.join(work, name + ".rss")
    p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak, args.real_game, "--headless", "--files", folder,
                        "--replay", path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       env=dict(os.environ, SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null"))
    lines = p.stderr.decode("latin-1").strip().splitlines()
    rss = int(open(peak).read().split()[-1])
    return rss, p.returncode, lines[-1] if lines else ""


def oversized(args, honest, work):
    if args.sanitized:
        return  # a sanitizer's own memory hides the figure
    base, _, _ = peak_memory(args, st.set_header(honest, token="-", score=0), work, "baseline")
    # 16 MB of body: a count of every byte left (what the reader took
    # before), and of a fifth of them (each event takes five bytes at least).
    for label, share in (("every byte an event", 1), ("an event every five bytes", 5)):
        data, events = oversized_tables(honest, share)
        rss, rc, err = peak_memory(args, data, work, "oversized")
        shutil.rmtree(os.path.join(work, "oversized"), ignore_errors=True)
        print("oversized tables (%s, %d bytes): peak %d KB (a refused honest header: %d KB), status %d: %s" % (
            label, len(data), rss, base, rc, err))
        st.check(rc == 2 and rss - base < 160 * 1024,
                 "a %d-byte journal claiming %d events made the game use %d KB more than an ordinary refusal" % (
                     len(data), events, rss - base))


def server_trouble(args, database, label, work):
    """The replays' work folder is gone (a file stands in its place): no
    replay can start. The honest game waits, health says why, and it is
    ranked once the folder is back."""
    replays = os.path.join(work, "replays")
    os.makedirs(replays)
    os.chmod(replays, 0o755)
    s = st.Server(args, database, work, ["--work-dir", replays])
    try:
        token = s.token()
        time.sleep(1.1)  # the stand-in's game lasts 1 s on its clock
        shutil.rmtree(replays)
        with open(replays, "w") as f:
            f.write("not a folder\n")
        status, answer = s.submit(st.journal(header={"token": token}))
        gid = answer.get("id", 0)
        st.check(status == 202, "%s: submitted while replays cannot start (%d)" % (label, status))
        st.check(s.wait_log("replays cannot run", 20), "%s: the log says replays cannot run" % label)
        # Longer than three leases (5 s each here): the old server rejected it by then.
        time.sleep(17)
        code, health = s.json("GET", "/api/v1/health")
        st.check(code == 503 and "cannot make a folder" in str(health),
                 "%s: health while replays cannot start: %d %s" % (label, code, health))
        code, g = s.json("GET", "/api/v1/games/%d" % gid)
        st.check(code == 200 and g.get("status") == "pending", "%s: the honest game waits: %s" % (label, g))
        os.remove(replays)
        os.makedirs(replays)
        os.chmod(replays, 0o755)
        g = s.wait_game(gid, timeout=90)
        st.check(g.get("status") == "ranked", "%s: ranked once replays run again: %s" % (label, g))
        code, health = s.json("GET", "/api/v1/health")
        st.check(code == 200, "%s: health once replays run again: %d %s" % (label, code, health))
    finally:
        s.stop()
        if os.path.isfile(replays):
            os.remove(replays)


def suites(args):
    work = tempfile.mkdtemp(prefix="wl2-journals-")
    os.chmod(work, 0o755)
    pg = None
    try:
        honest = st.play_real_game(args.real_game, args.files, work, "honest")
        oversized(args, honest, work)
        sqlite_dir = tempfile.mkdtemp(prefix="wl2-sqlite-", dir=work)
        databases = [("sqlite", os.path.join(sqlite_dir, "scores.sqlite"))]
        if not args.no_postgres:
            pg = st.Postgres()
            databases.append(("postgresql", pg.address))
        for label, database in databases:
            trouble = tempfile.mkdtemp(prefix="trouble-", dir=work)
            os.chmod(trouble, 0o755)  # the replays' user goes through it
            server_trouble(args, database, label, trouble)
            hostile_journals(args, database, label, honest, work)
    finally:
        if pg:
            pg.close()
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (st.passed, st.failed))
    return 1 if st.failed or not st.passed else 0


if __name__ == "__main__":
    # server_test's main parses the arguments and makes the programs and
    # assets readable by the replays' user; the suites are this file's.
    st.run_suites = suites
    if "--real-game" not in sys.argv:
        print("FAILED: these attacks need the real game (--real-game)")
        sys.exit(1)
    sys.exit(st.main())

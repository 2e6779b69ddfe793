#!/usr/bin/python3
"""Fair play on the shared tables, end to end through the real server on
SQLite and on PostgreSQL, with the stand-in game: a downloaded journal sent
again (renamed under a fresh token, with only its token swapped, or the same
game under two tokens) is refused with its reason while the honest game
stays ranked once; a game that did not start from its token's seed is not
ranked; daily challenges' seeds are shared by every process on a database
and differ per mode and day; daily games rank in their day's table (even
when they arrive after it) and never in the ordinary ones.

    e2e_fairplay_test.py --server BIN --game fake_game.py --files DIR [--real-game GAME]
"""
import json
import os
import re
import sys
import tempfile
import shutil
import threading
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402
from server_test import check, hexname, journal, set_header  # noqa: E402

SEED_FAULT = "it did not start from the seed its session token gave"
MODE_FAULT = "it was not played in the mode of its daily challenge"
DAY = 86400


def daily(mode):
    return {"challenge": "daily", "mode": mode}


def edited(data, token=None, name=None):
    """A downloaded journal as a thief sends it again: another token in the
    header and, when renamed, another name in the header and in the game's
    starting state (the stand-in's record)."""
    head, body = data.split(b"\n\n", 1)
    if name is not None:
        text = zlib.decompress(body).decode()
        text = re.sub(r"name=\S+", "name=" + name, text)
        body = zlib.compress(text.encode())
        head = set_header(head + b"\n\n", name=name).split(b"\n\n")[0]
    changes = {"token": token} if token else {}
    return set_header(head + b"\n\n" + body, **changes)


def game_of(s, gid):
    return s.json("GET", "/api/v1/games/%d" % gid)[1]


def table(s, query):
    status, r = s.json("GET", "/api/v1/scores?" + query)
    check(status == 200, "the table %s answers: %d %s" % (query, status, r))
    return r


def run_cases(s, cases):
    """Sends each journal, then waits for each verdict: status and reason
    (the whole reason, or the words it must hold). Returns the ids."""
    ids = {}
    for label, data, _, _ in cases:
        status, r = s.submit(data)
        check(status == 202, "%s: taken, got %d %s" % (label, status, r))
        ids[label] = r.get("id", 0)
    for label, _, want, reason in cases:
        g = s.wait_game(ids[label])
        ok = g.get("status") == want and (reason(ids) if callable(reason) else reason) in g.get("reason", "")
        check(ok, "%s: wanted %s (%s), got %s" % (label, want, reason(ids) if callable(reason) else reason, g))
    return ids


def thefts(s):
    """The ways a downloaded journal was ranked again, each refused with
    its reason; the honest games stay ranked, once."""
    ann = hexname("Ann")
    owner = s.token()
    daily_owner = s.token(daily("hard"))
    time.sleep(1.1)  # the games last 1 s on their clock
    honest = run_cases(s, [
        ("honest", journal({"name": ann, "score": 4321}, {"token": owner}), "ranked", ""),
        ("honest daily", journal({"name": ann, "score": 8765, "mode": "hard"}, {"token": daily_owner}), "ranked", ""),
    ])
    status, stolen, _ = s.request("GET", "/api/v1/games/%d/journal" % honest["honest"])
    check(status == 200, "a ranked game's journal can be downloaded")
    status, stolen_daily, _ = s.request("GET", "/api/v1/games/%d/journal" % honest["honest daily"])
    mal = hexname("Mallory")
    fresh = [s.token() for _ in range(4)]
    # A daily challenge's tokens all give the day's seed: only the
    # fingerprint tells a copy from a game.
    fresh_daily = [s.token(daily("hard")) for _ in range(2)]
    time.sleep(1.1)
    same_as = lambda label: lambda ids: "the same game as game %d" % honest[label]  # noqa: E731
    run_cases(s, [
        ("renamed under a fresh token", edited(stolen, fresh[0], mal), "rejected", SEED_FAULT),
        ("its token swapped", edited(stolen, fresh[1]), "rejected", SEED_FAULT),
        ("the same game under its own token again, renamed", edited(stolen, None, mal), "rejected",
         same_as("honest")),
        ("the same game under a second token", edited(stolen, fresh[2]), "rejected", SEED_FAULT),
        ("a daily game renamed under a fresh daily token", edited(stolen_daily, fresh_daily[0], mal), "rejected",
         same_as("honest daily")),
        ("a daily game under a second daily token", edited(stolen_daily, fresh_daily[1]), "rejected",
         same_as("honest daily")),
    ])
    rows = table(s, "mode=medium&period=all&limit=100")["scores"]
    check([r["name"] for r in rows if r["score"] == 4321] == ["Ann"], "the honest game is ranked once: %s" % rows)
    rows = table(s, "mode=hard&challenge=daily")["scores"]
    check([(r["name"], r["id"]) for r in rows if r["score"] == 8765] == [("Ann", honest["honest daily"])],
          "the honest daily game is ranked once: %s" % rows)
    # One game sent under two daily tokens at once: whichever verdict is
    # filed first ranks, the other is the copy; never both.
    pair = [s.token(daily("hard")) for _ in range(2)]
    time.sleep(1.1)
    twin = journal({"name": hexname("Twin"), "score": 3333, "mode": "hard"}, {"token": pair[0]})
    got = []
    threads = [threading.Thread(target=lambda d: got.append(s.submit(d)[1].get("id", 0)), args=(d,))
               for d in (twin, edited(twin, pair[1]))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    verdicts = sorted((s.wait_game(gid).get("status"), s.wait_game(gid).get("reason"), gid) for gid in got)
    ok = len(verdicts) == 2 and verdicts[0][0] == "ranked" and verdicts[1][0] == "rejected"
    check(ok and verdicts[1][1] == "the same game as game %d" % verdicts[0][2],
          "one game sent twice at once ranks once: %s" % verdicts)


def seeds(s):
    """A game ranks only from the seed its token gave."""
    tokens = [s.token() for _ in range(5)]
    dailies = [s.token(daily("easy")) for _ in range(2)]
    time.sleep(1.1)
    seed = st.SEEDS[tokens[1]]
    run_cases(s, [
        ("from its token's seed", journal({"score": 101}, {"token": tokens[0]}), "ranked", ""),
        ("from another seed", journal({"score": 102, "seed": (seed + 1) % 2147483648}, {"token": tokens[1]}),
         "rejected", SEED_FAULT),
        ("from a seed of its own choosing", journal({"score": 103, "seed": "-"}, {"token": tokens[2]}), "rejected",
         SEED_FAULT),
        ("from another token's seed", journal({"score": 104, "seed": st.SEEDS[tokens[4]]}, {"token": tokens[3]}),
         "rejected", SEED_FAULT),
        # A journal from a game older than seeds given by the server still
        # replays; the reason it is not ranked is shown.
        ("a journal from before seeds", journal({"score": 105}, {"token": tokens[4]}, lines=["old-line"]),
         "rejected", SEED_FAULT),
        ("a daily game in another mode", journal({"score": 106, "mode": "hard"}, {"token": dailies[0]}), "rejected",
         MODE_FAULT),
        ("a daily game from an ordinary seed", journal({"score": 107, "mode": "easy", "seed": seed},
                                                       {"token": dailies[1]}), "rejected", SEED_FAULT),
    ])


def daily_tables(s):
    """A daily game ranks in its day's table, one row per name, and never in
    the ordinary tables; an ordinary game never in a daily one."""
    first = s.json("POST", "/api/v1/sessions", json.dumps(daily("medium")))[1]
    today = first["date"]
    st.SEEDS[first["token"]] = first["seed"]
    check(set(first) == {"token", "seed", "challenge", "date", "mode"} and first["challenge"] == "daily"
          and first["mode"] == "medium" and re.fullmatch(r"\d{4}-\d\d-\d\d", today)
          and time.strftime("%Y-%m-%d", time.gmtime()) == today, "a daily token's answer: %s" % first)
    plain = s.json("POST", "/api/v1/sessions", "{}")[1]
    check(set(plain) == {"token", "seed"} and 0 <= plain["seed"] <= 2147483647, "{} gives an ordinary token: %s" % plain)
    tokens = [first["token"]] + [s.token(daily("medium")) for _ in range(3)]
    ordinary = s.token()
    time.sleep(1.1)
    bo, cy = hexname("Bo"), hexname("Cy")
    ids = run_cases(s, [
        ("Bo's first", journal({"name": bo, "score": 700}, {"token": tokens[0]}), "ranked", ""),
        ("Bo's best", journal({"name": bo, "score": 900}, {"token": tokens[1]}), "ranked", ""),
        ("Cy's", journal({"name": cy, "score": 800}, {"token": tokens[2]}), "ranked", ""),
        ("Bo's worst", journal({"name": bo, "score": 600}, {"token": tokens[3]}), "ranked", ""),
        ("ordinary", journal({"name": cy, "score": 50000}, {"token": ordinary}), "ranked", ""),
    ])
    r = table(s, "mode=medium&challenge=daily")
    check(r["date"] == today and 0 < r["ends_in_s"] <= DAY, "today's daily table's day and time left: %s" % r)
    check([(x["name"], x["score"], x["rank"], x["id"]) for x in r["scores"]] ==
          [("Bo", 900, 1, ids["Bo's best"]), ("Cy", 800, 2, ids["Cy's"])],
          "the daily table has each name's best game: %s" % r)
    check(set(r["scores"][0]) == {"rank", "id", "name", "score", "wave", "mode", "date"}, "a daily row's fields")
    check(table(s, "mode=medium&challenge=daily&date=" + today) == r, "the date named is today's table")
    for period in ("day", "week", "all"):
        rows = table(s, "mode=medium&limit=100&period=" + period)["scores"]
        check(ids["ordinary"] in [x["id"] for x in rows] and not {ids[k] for k in ids if k != "ordinary"} &
              {x["id"] for x in rows}, "the %s table holds the ordinary game and no daily one" % period)
    g = game_of(s, ids["Cy's"])
    check(g.get("challenge") == "daily" and g.get("challenge_date") == today and g.get("rank") == 2,
          "a daily game as the API shows it: %s" % g)
    g = game_of(s, ids["ordinary"])
    check("challenge" not in g and "challenge_date" not in g and g.get("rank") == 1, "an ordinary game: %s" % g)
    # The page's Daily tab: today's table, its time left, the last days.
    status, page, _ = s.request("GET", "/?mode=medium&challenge=daily")
    page = page.decode()
    yesterday = time.strftime("%Y-%m-%d", time.gmtime(time.time() - DAY))
    check(status == 200 and "Daily challenge of %s: ends in" % today in page
          and 'href="/play/?replay=/api/v1/games/%d/journal"' % ids["Bo's best"] in page
          and "/api/v1/games/%d/journal" % ids["ordinary"] not in page
          and "/api/v1/games/%d/journal" % ids["Bo's first"] not in page
          and "challenge=daily&amp;date=%s" % yesterday in page, "the page's Daily tab:\n" + page[-1500:])
    status, page, _ = s.request("GET", "/?mode=medium&period=all")
    page = page.decode()
    check("/api/v1/games/%d/journal" % ids["Bo's best"] not in page and 'challenge=daily"' in page,
          "the all-time tab leaves daily games out and links the Daily tab")


def bad_requests(s):
    """Anything but an empty body, {} or a daily challenge's request is
    refused, and a daily table's day is a real one that has begun."""
    tomorrow = time.strftime("%Y-%m-%d", time.gmtime(time.time() + DAY + 60))
    cases = [
        ("POST", "/api/v1/sessions", "[]"),
        ("POST", "/api/v1/sessions", "not json"),
        ("POST", "/api/v1/sessions", "{} {}"),
        ("POST", "/api/v1/sessions", '{"challenge": "weekly", "mode": "easy"}'),
        ("POST", "/api/v1/sessions", '{"challenge": "daily"}'),
        ("POST", "/api/v1/sessions", '{"challenge": "daily", "mode": "nightmare"}'),
        ("POST", "/api/v1/sessions", '{"challenge": "daily", "mode": 5}'),
        ("POST", "/api/v1/sessions", '{"mode": "easy"}'),
        ("POST", "/api/v1/sessions", '{"challenge": "daily", "mode": "easy", "seed": 1}'),
        ("POST", "/api/v1/sessions", '{"challenge": "daily", "mode": "easy"' + ' ' * 2000 + '}'),
        ("GET", "/api/v1/scores?mode=easy&challenge=weekly", None),
        ("GET", "/api/v1/scores?mode=easy&challenge=daily&date=2026-13-01", None),
        ("GET", "/api/v1/scores?mode=easy&challenge=daily&date=2026-02-30", None),
        ("GET", "/api/v1/scores?mode=easy&challenge=daily&date=26-12-08", None),
        ("GET", "/api/v1/scores?mode=easy&challenge=daily&date=" + tomorrow, None),
        ("GET", "/api/v1/scores?challenge=daily", None),
        ("GET", "/?mode=easy&challenge=daily&date=1969-12-31", None),
    ]
    for method, path, body in cases:
        status, r = s.json(method, path, body)
        check(status == 400 and "error" in r, "%s %s %s: wanted 400, got %d %s" % (method, path, body, status, r))
    r = table(s, "mode=easy&challenge=daily&date=2020-02-29")
    check(r == {"date": "2020-02-29", "ends_in_s": 0, "scores": []}, "a past day's table: %s" % r)


def shared_seeds(args, database, work, s):
    """Every process on one database gives the same seed for a day and
    mode, even asked at the same moment on a day nobody has played yet;
    modes and days have seeds of their own. Other days are reached by the
    servers' test clock."""
    days = [DAY * 3, DAY * 4]
    others = [st.Server(args, database, work, ["--workers", "0", "--test-clock-offset", str(d)]) for d in days]
    twins = [st.Server(args, database, work, ["--workers", "0", "--test-clock-offset", str(days[0])])]
    got = []
    lock = threading.Lock()

    def ask(server, mode):
        r = server.json("POST", "/api/v1/sessions", json.dumps(daily(mode)))[1]
        with lock:
            got.append((server.port, r.get("date"), mode, r.get("seed")))

    threads = [threading.Thread(target=ask, args=(server, mode))
               for _ in range(4) for server in (others[0], twins[0]) for mode in ("easy", "medium", "hard")]
    threads += [threading.Thread(target=ask, args=(others[1], mode)) for mode in ("easy", "medium", "hard")]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for server in others + twins:
        server.stop()
    want_days = [time.strftime("%Y-%m-%d", time.gmtime(time.time() + d)) for d in days]
    by_day_mode = {}
    for _, date, mode, seed in got:
        by_day_mode.setdefault((date, mode), set()).add(seed)
    check(len(got) == 27 and all(isinstance(x[3], int) for x in got), "every daily token has a seed: %s" % got)
    check(sorted(by_day_mode) == sorted((d, m) for d in want_days for m in ("easy", "medium", "hard")),
          "the tokens are of the servers' days: %s" % sorted(by_day_mode))
    check(all(len(v) == 1 for v in by_day_mode.values()),
          "two processes asked at once give one seed per day and mode: %s" % by_day_mode)
    firsts = [next(iter(v)) for v in by_day_mode.values()]
    check(len(set(firsts)) == 6, "the seeds differ per mode and per day: %s" % by_day_mode)
    # Today's seed is not the day's after, and a later process gives the
    # one stored.
    today = s.json("POST", "/api/v1/sessions", json.dumps(daily("easy")))[1]
    check(today["seed"] not in firsts, "today's seed is its own")
    again = st.Server(args, database, work, ["--workers", "0", "--test-clock-offset", str(days[1])])
    r = again.json("POST", "/api/v1/sessions", json.dumps(daily("hard")))[1]
    again.stop()
    check(by_day_mode.get((want_days[1], "hard")) == {r["seed"]}, "a restarted process gives the stored seed")


def late_daily(args, database, work, s):
    """A daily game started just before midnight and sent after it ranks in
    the day it was started (its token's), not the day it arrived."""
    now = int(time.time())
    before_midnight = -(now % DAY) - 90  # yesterday, 23:58:30
    old = st.Server(args, database, work, ["--workers", "0", "--test-clock-offset", str(before_midnight)])
    token = old.token(daily("easy"))
    old.stop()
    yesterday = time.strftime("%Y-%m-%d", time.gmtime(now + before_midnight))
    ids = run_cases(s, [("late daily", journal({"name": hexname("Dee"), "score": 4444, "mode": "easy"},
                                               {"token": token}), "ranked", "")])
    g = game_of(s, ids["late daily"])
    check(g.get("challenge_date") == yesterday and g.get("rank") == 1, "the late game is of its day: %s" % g)
    past = table(s, "mode=easy&challenge=daily&date=" + yesterday)
    check(past["ends_in_s"] == 0 and [x["id"] for x in past["scores"]] == [ids["late daily"]],
          "yesterday's table holds the late game: %s" % past)
    check(ids["late daily"] not in [x["id"] for x in table(s, "mode=easy&challenge=daily")["scores"]],
          "today's table does not")


def suite(args, database, label):
    before = (st.passed, st.failed)
    work = tempfile.mkdtemp(prefix="wl2-fairplay-")
    os.chmod(work, 0o755)
    try:
        s = st.Server(args, database, work)
        s.work = work
        thefts(s)
        seeds(s)
        daily_tables(s)
        bad_requests(s)
        shared_seeds(args, database, work, s)
        late_daily(args, database, work, s)
        check(s.stop() == 0, "the server stops cleanly")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%s: %d passed, %d failed" % (label, st.passed - before[0], st.failed - before[1]), flush=True)


def run_suites(args):
    return st.on_both_databases(suite, args)


if __name__ == "__main__":
    # server_test's main reads the same arguments and copies the programs
    # where a server run as root (replaying as nobody) can reach them; the
    # suites run are these.
    st.run_suites = run_suites
    sys.exit(st.main())

#!/usr/bin/python3
"""The score server's word to its clients on a refused upload: an error it
will never change its mind on (the bytes are not a journal, too large, a name
it refuses) carries "permanent": true, and a client may drop that game; any
other refusal (too many requests, a full queue) does not, and the client
keeps the game. Run on SQLite and on PostgreSQL.

    e2e_clients_test.py --server BIN --game GAME --files DIR [--no-postgres]
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402


def refusals(args, database, label):
    work = tempfile.mkdtemp(prefix="wl2-clients-test-")
    os.chmod(work, 0o755)
    try:
        good = st.journal()
        lines = good.split(b"\n")
        long_name = b"\n".join(lines[:4] + [b"name " + b"41" * 41] + lines[5:])
        s = st.Server(args, database, work, ["--max-journal", "4096"])
        for what, body, status in [
            ("an empty body", b"", 400),
            ("bytes that are no journal", b"hello", 400),
            ("a journal of another format", b"wormlob2 game 2\n" + good.split(b"\n", 1)[1], 400),
            ("a name of 41 bytes", long_name, 400),
            # One byte over reaches the API; larger bodies are cut off by
            # the HTTP front before it sees them, which says the same.
            ("a journal larger than the server takes", good + b"x" * (4097 - len(good)), 413),
            ("a journal far larger than the server takes", good + b"x" * 20000, 413),
        ]:
            got, r = s.submit(body)
            st.check(got == status and isinstance(r.get("error"), str) and r.get("permanent") is True,
                     "%s: %s wants %d with \"permanent\": true, got %d %s" % (label, what, status, got, r))
        got, r = s.submit(good)
        st.check(got == 202 and "permanent" not in r, "%s: a good journal is taken: %d %s" % (label, got, r))
        s.stop()

        # Refusals of the moment: the game is not refused for good.
        s = st.Server(args, database, work, ["--rate-limit", "1", "--rate-burst", "1"])
        answers = [s.submit(st.journal({"score": 100 + i})) for i in range(2)]
        st.check(answers[1][0] == 429 and "error" in answers[1][1] and "permanent" not in answers[1][1],
                 "%s: too many requests is not permanent: %s" % (label, answers))
        s.stop()
        s = st.Server(args, database, work, ["--max-queue", "1", "--poll-ms", "600000"])
        answers = [s.submit(st.journal({"score": 200 + i})) for i in range(3)]
        full = [a for a in answers if a[0] == 503]
        st.check(bool(full) and all("error" in a[1] and "permanent" not in a[1] for a in full),
                 "%s: a full queue is not permanent: %s" % (label, answers))
        s.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    p = st.argparse.ArgumentParser()
    p.add_argument("--server", required=True)
    p.add_argument("--game", required=True)
    p.add_argument("--files", required=True)
    p.add_argument("--no-postgres", action="store_true")
    p.add_argument("--real-game")
    p.add_argument("--sanitized", action="store_true")
    args = p.parse_args()
    args.server = os.path.abspath(args.server)
    args.game = os.path.abspath(args.game)
    args.files = os.path.abspath(args.files)
    return st.on_both_databases(refusals, args)


if __name__ == "__main__":
    sys.exit(main())

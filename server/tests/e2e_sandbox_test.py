#!/usr/bin/python3
"""The replay sandbox under attack: the real server replays journals with a
hostile stand-in for the game (escape_game.py), which tries every way out it
is told of, while this script checks from outside that none worked: no
process it started outlives the verdict or the server, nothing connected to
a Unix socket listening outside the replay's folder nor to the server's
port, the server and processes of the users the replay might share (the
server's own, nobody) got no signal and kept their environment and working
folders to themselves, the database's folder took no file. Run on SQLite and
PostgreSQL; as root (replays under ids of their own), as an ordinary user
(replays in a user namespace) and, as root, with --weak-sandbox where the
kernel refuses the namespaces.

    e2e_sandbox_test.py --server BIN --game GAME --files DIR [--no-postgres]
"""
import argparse
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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402

STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "escape_game.py")

# A process the replay could share a user with: it notes a SIGUSR1 in its
# folder, and holds a secret in its environment.
VICTIM = """
import os, signal, time
signal.signal(signal.SIGUSR1, lambda *a: open("signalled", "w").close())
open("ready", "w").close()
for _ in range(600):
    time.sleep(1)
"""


def survivors(marker):
    """Processes anywhere on the machine with the marker in their arguments."""
    found = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % d, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if marker.encode() in args:
            found.append("%s (%s)" % (d, args[-2].decode(errors="replace")))
    return found


def wait_gone(marker, seconds):
    end = time.time() + seconds
    while survivors(marker) and time.time() < end:
        time.sleep(0.1)
    return survivors(marker)


def kill_marked(marker):
    for entry in survivors(marker):
        try:
            os.kill(int(entry.split()[0]), signal.SIGKILL)
        except OSError:
            pass


def as_user(user):
    if user is None:
        return []
    return ["setpriv", "--reuid", user, "--regid", str(pwd.getpwnam(user).pw_gid), "--clear-groups", "--"]


def own_folder(parent, prefix, user):
    folder = tempfile.mkdtemp(dir=parent, prefix=prefix)
    if user is not None:
        os.chown(folder, pwd.getpwnam(user).pw_uid, pwd.getpwnam(user).pw_gid)
    return folder


class Victim:
    def __init__(self, work, user, secret):
        self.folder = own_folder(work, "victim-", user)
        os.chmod(self.folder, 0o700)
        self.proc = subprocess.Popen(as_user(user) + [sys.executable, "-c", VICTIM], cwd=self.folder,
                                     env={"PATH": "/usr/bin:/bin", "VICTIM_SECRET": secret})
        end = time.time() + 10
        while not os.path.exists(os.path.join(self.folder, "ready")) and time.time() < end:
            time.sleep(0.05)

    def harmed(self, marker):
        what = [n for n in os.listdir(self.folder) if n == "signalled" or marker in n]
        if self.proc.poll() is not None:
            what.append("ended with %s" % self.proc.returncode)
        return what

    def close(self):
        self.proc.kill()
        self.proc.wait()


def accepted(listener):
    got = []
    while True:
        try:
            c, _ = listener.accept()
        except (BlockingIOError, socket.timeout):
            return got
        got.append(c.recv(100))
        c.close()


def attack(args, database, db_folder, pg_socket, label, user, extra=(), prefix=()):
    """One server, two hostile journals: one that tries every escape and
    ends, one that leaves processes and is still running when the server is
    killed."""
    work = own_folder(args.tmp, "work-", user)
    os.chmod(work, 0o755)
    outside = tempfile.mkdtemp(dir=args.tmp, prefix="outside-")
    os.chmod(outside, 0o777)
    path = os.path.join(outside, "listening.sock")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    os.chmod(path, 0o777)
    listener.listen(8)
    listener.setblocking(False)
    marker = "wl2-escape-%d-%s" % (os.getpid(), label.replace(" ", "-").replace(",", ""))
    secret = "secret-%d" % time.time_ns()
    victims = [Victim(args.tmp, user, secret)]
    if os.geteuid() == 0 and user != "nobody":
        victims.append(Victim(args.tmp, "nobody", secret))  # another service's nobody
    s = None
    try:
        s = st.Server(args, database, work, ["--wall-limit", "20", "--lease", "30"] + list(extra),
                      prefix=list(prefix) + as_user(user))
        targets = ["marker " + marker, "unix " + path, "tcp %d" % s.port, "server %d" % s.proc.pid,
                   "folder " + db_folder]
        if os.path.isfile(database):
            targets.append("file " + database)
        if pg_socket:
            targets.append("unix " + pg_socket)
        targets += ["victim %d %s" % (v.proc.pid, secret) for v in victims]
        token = s.token()
        time.sleep(1.1)  # the game lasts 1 s on its clock
        status, r = s.submit(st.journal({"score": 4321}, {"token": token}, lines=targets))
        st.check(status == 202, "%s: the escape journal is taken: %d %s" % (label, status, r))
        g = s.wait_game(r.get("id", 0), timeout=60)
        st.check(g.get("status") == "ranked",
                 "%s: the stand-in got nowhere: %s %s" % (label, g, [l for l in s.text().splitlines() if "verify" in l]))
        st.check(wait_gone(marker, 3) == [],
                 "%s: processes of the replay outlive its verdict: %s" % (label, survivors(marker)))
        st.check(accepted(listener) == [], "%s: the replay reached a Unix socket outside" % label)
        st.check("/from-the-replay-" + marker not in s.text(), "%s: the replay reached the server's port" % label)
        st.check(s.proc.poll() is None and s.request("GET", "/api/v1/health")[0] in (200, 503),
                 "%s: the server lives on" % label)
        for v in victims:
            st.check(v.harmed(marker) == [], "%s: the replay reached a process of its user: %s" %
                     (label, v.harmed(marker)))
        st.check([n for n in os.listdir(db_folder) if marker in n] == [],
                 "%s: the replay wrote beside the database" % label)

        # A replay stopped at its time limit goes with all it started.
        token = s.token()
        time.sleep(1.1)
        slow = marker + "-slow"
        status, r = s.submit(st.journal({"score": 4323}, {"token": token}, lines=["marker " + slow, "sleep 60"]))
        # Its first time-out is enough here: a time-out is tried again (each
        # spending an attempt), and what matters is what the stop leaves.
        stopped = s.wait_log("verify game=%d result=retry later" % r.get("id", 0), timeout=60)
        st.check(stopped and "exit=timeout" in s.text(),
                 "%s: the slow replay is stopped at its time limit: %s" % (label, s.text()[-600:]))
        st.check(wait_gone(slow, 3) == [],
                 "%s: processes of a replay outlive its time limit: %s" % (label, survivors(slow)))

        # A replay still running when the server dies goes with it, and so
        # does everything it started. Without namespaces (--weak-sandbox)
        # that holds only for a stop, which waits for the replay's end: a
        # server killed outright leaves them.
        weak = "--weak-sandbox" in extra
        token = s.token()
        time.sleep(1.1)
        late = marker + "-late"
        status, r = s.submit(st.journal({"score": 4322}, {"token": token}, lines=["marker " + late, "sleep 15"]))
        end = time.time() + 20
        while not any("setsid" in p for p in survivors(late)) and time.time() < end:
            time.sleep(0.1)
        st.check(any("setsid" in p for p in survivors(late)), "%s: the stand-in started its processes" % label)
        if weak:
            st.check(s.stop() == 0, "%s: the server stops cleanly" % label)
        else:
            s.proc.kill()
            s.proc.wait()
            s.log.close()
        st.check(wait_gone(late, 3) == [],
                 "%s: processes of a replay outlive the server: %s" % (label, survivors(late)))
        # And one more start and stop: nothing of the first replay has come
        # back, none was left behind by the stop.
        s = st.Server(args, database, work, ["--wall-limit", "20", "--lease", "30"] + list(extra),
                      prefix=list(prefix) + as_user(user))
        st.check(s.stop() == 0, "%s: the server stops cleanly" % label)
        st.check(survivors(marker) == [] and survivors(late) == [] and survivors(slow) == [],
                 "%s: processes of the replays outlive the server's stop: %s" %
                 (label, survivors(marker) + survivors(late) + survivors(slow)))
        s = None
    except (OSError, RuntimeError, ValueError, KeyError) as e:
        # The server gone or not answering is itself what an escape did.
        st.check(False, "%s: %s: %s" % (label, type(e).__name__, e))
        if s is not None:
            st.check(False, "%s: the server's last words: %s" % (label, s.text()[-300:]))
    finally:
        if s is not None:
            s.stop(signal.SIGKILL)
        for m in (marker, marker + "-slow", marker + "-late"):
            kill_marked(m)
        listener.close()
        for v in victims:
            v.close()


def run(args, database, db_folder, pg_socket, label):
    """database: a postgresql:// address, or a SQLite file name in db_folder
    (then each server gets its own, made by the user it runs as)."""
    before = (st.passed, st.failed)
    given = database

    def database(mode):
        return given if pg_socket else os.path.join(db_folder, mode + "-" + given)

    def not_tried(what):
        print("%s: %s: not tried" % (label, what))
        st.check(not os.environ.get("WORMLOB_NO_SKIP"), "%s: %s: not tried" % (label, what))

    if os.geteuid() != 0:
        attack(args, database("user"), db_folder, pg_socket, label + ", as an ordinary user", None)
        not_tried("as root, as nobody, with /proc covered, with --weak-sandbox (need root)")
    else:
        attack(args, database("root"), db_folder, pg_socket, label + ", as root", None)
        attack(args, database("nobody"), db_folder, pg_socket, label + ", as nobody", "nobody")
    if os.geteuid() == 0 and not pg_socket:
        if shutil.which("unshare"):
            # The packaged service's systemd unit covers parts of /proc
            # (ProtectKernelTunables), which keeps the kernel from giving the
            # replay a /proc of its own in a user namespace.
            empty = tempfile.mkdtemp(dir=args.tmp, prefix="empty-")
            cover = ["unshare", "--mount", "sh", "-c",
                     'mount --make-rprivate / && mount --bind "$0" /proc/sys && exec "$@"', empty]
            attack(args, database("covered"), db_folder, pg_socket, label + ", as nobody, /proc covered", "nobody",
                   prefix=cover)
        else:
            not_tried("with /proc covered (no unshare)")
        if shutil.which("setpriv"):
            # Where the kernel refuses namespaces, a server run as root still
            # gives each replay its own id, the filter and the process limit.
            keep = "-all,+setuid,+setgid,+chown,+fowner,+dac_override,+kill"
            attack(args, database("weak"), db_folder, pg_socket, label + ", as root, weak sandbox", None,
                   ["--weak-sandbox"], ["setpriv", "--bounding-set", keep, "--inh-caps", "-all", "--"])
        else:
            not_tried("with --weak-sandbox (no setpriv)")
    print("%s: %d passed, %d failed" % (label, st.passed - before[0], st.failed - before[1]), flush=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--server", required=True)
    p.add_argument("--game", required=True)  # the table's stand-in; this test brings its own
    p.add_argument("--files", required=True)
    p.add_argument("--no-postgres", action="store_true")
    p.add_argument("--real-game")
    p.add_argument("--sanitized", action="store_true")
    args = p.parse_args()
    # Everything the server and its replays read goes where every user can
    # read it: the server may run as nobody, the replays under ids no
    # account has.
    args.tmp = tempfile.mkdtemp(prefix="wl2-sandbox-")
    os.chmod(args.tmp, 0o755)
    try:
        for name, source in (("server", args.server), ("game", STAND_IN)):
            dest = os.path.join(args.tmp, os.path.basename(source))
            shutil.copy2(source, dest)
            os.chmod(dest, 0o755)
            setattr(args, name, dest)
        files = os.path.join(args.tmp, "Files")
        os.makedirs(os.path.join(files, "418"))
        args.files = files
        subprocess.run(["chmod", "-R", "a+rX", files], check=True)

        sqlite_dir = tempfile.mkdtemp(dir=args.tmp, prefix="sqlite-")
        if os.geteuid() == 0:
            os.chown(sqlite_dir, pwd.getpwnam("nobody").pw_uid, -1)  # the server may run as nobody
        run(args, "scores.sqlite", sqlite_dir, None, "sqlite")
        if not args.no_postgres:
            pg = st.Postgres()
            try:
                # The cluster's files and socket belong to nobody, which a
                # replay run as nobody could reach.
                run(args, pg.address, pg.data, os.path.join(pg.dir, ".s.PGSQL.%d" % pg.port), "postgresql")
            finally:
                pg.close()
    finally:
        shutil.rmtree(args.tmp, ignore_errors=True)
    print("%d passed, %d failed" % (st.passed, st.failed))
    return 1 if st.failed else 0


if __name__ == "__main__":
    sys.exit(main())

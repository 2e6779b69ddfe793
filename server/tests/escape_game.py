#!/usr/bin/python3
"""A hostile stand-in for the game, for the sandbox's test: run by the server
the way it runs the game (--headless --files DIR --replay FILE), it tries
every way out of its confinement it is told of, then ends as the game does:
with the "verified" line when nothing worked, or with status 3 and the list
of what did. The journal's zlib body holds a record line (as for
fake_game.py) and the targets, one a line:

    marker TEXT          a word the test looks for among the processes left
    unix PATH            a Unix socket someone listens on outside the folder
    tcp PORT             the server's port on 127.0.0.1
    server PID           the server's process
    victim PID SECRET    a process of a user the replay may share: signal it,
                         read its environment (holding SECRET), write into
                         its working folder
    file PATH            a file outside the folder to open for writing
    folder PATH          a folder outside the folder to create a file in
    sleep SECONDS        then takes that long

It also sends SIGTERM to its own process group. Processes it leaves (a setsid child, a double-forked one, as many as it can
make) only sleep, each with the marker in its arguments: the test looks for
them after the verdict and after the server's stop."""
import ctypes
import hashlib
import os
import signal
import socket
import subprocess
import sys
import time
import zlib


def sleeper(marker, how):
    return [sys.executable, "-c", "import time\nfor _ in range(600): time.sleep(1)", marker, how]


def let_go_of_output():
    # What it leaves must not hold the replay's output open: the server
    # would wait for that, and this test is about what outlives the replay.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)


def leave_processes(marker, escaped):
    # A child in a session of its own, out of the replay's process group.
    try:
        subprocess.Popen(sleeper(marker, "setsid"), start_new_session=True, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, close_fds=True)
    except OSError:
        pass
    # A grandchild whose parent has gone: it belongs to no one.
    try:
        pid = os.fork()
        if pid == 0:
            try:
                os.setsid()
                if os.fork() == 0:
                    let_go_of_output()
                    os.execv(sys.executable, sleeper(marker, "double-fork"))
            finally:
                os._exit(0)
        os.waitpid(pid, 0)
    except OSError:
        pass
    # As many processes as it can make, up to 300.
    made = 0
    for _ in range(300):
        try:
            pid = os.fork()
        except OSError:
            break
        if pid == 0:
            let_go_of_output()
            time.sleep(30)
            os._exit(0)
        made += 1
    if made == 300:
        escaped.append("made 300 processes")


def attempt(escaped, what, action):
    try:
        if action() is not False:
            escaped.append(what)
    except OSError:
        pass


def unix(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(2)
    s.connect(path)
    s.sendall(b"from the replay\n")
    s.close()


def tcp(port, marker):
    s = socket.create_connection(("127.0.0.1", port), timeout=2)
    s.sendall(("GET /from-the-replay-%s HTTP/1.0\r\n\r\n" % marker).encode())
    s.recv(100)
    s.close()


def read_environ(pid, secret):
    with open("/proc/%d/environ" % pid, "rb") as f:
        return secret.encode() in f.read()


def write_cwd(pid, marker):
    if os.path.samefile("/proc/%d/cwd" % pid, os.getcwd()):
        return False  # a process of its own that happens to have that number
    with open("/proc/%d/cwd/escaped-%s" % (pid, marker), "w") as f:
        f.write("out")


def trace(pid):
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
    if libc.ptrace(16, pid, None, None) != 0:  # PTRACE_ATTACH
        raise OSError(ctypes.get_errno(), "ptrace")
    libc.ptrace(17, pid, None, None)  # PTRACE_DETACH


def verified_line(record):
    """The verified line for a record line's fields, as fake_game.py prints
    it (kept here too: the server may run this file copied on its own)."""
    fields = dict(f.split("=", 1) for f in record.split() if "=" in f)
    line = " ".join("%s=%s" % (k, fields.get(k, "")) for k in
                    ("mode", "score", "wave", "frames", "ms", "practice", "autoplay", "name"))
    seed = fields.get("seed", "-")
    made = hashlib.sha256(("%s %s %s/%s/%s" % (fields.get("mode"), fields.get("frames"), fields.get("score"),
                                               fields.get("wave"), seed)).encode())
    return line + " seed=%s fingerprint=%s" % (seed, fields.get("fingerprint", made.hexdigest()[:16]))


def main():
    args = sys.argv[1:]
    if len(args) != 5 or args[0] != "--headless" or args[1] != "--files" or args[3] != "--replay":
        print("wormlob2: bad arguments", file=sys.stderr)
        sys.exit(2)
    data = open(args[4], "rb").read()
    body = zlib.decompress(data[data.find(b"\n\n") + 2:]).decode()
    record, marker, escaped = None, "none", []
    targets = []
    for line in body.splitlines():
        word, _, rest = line.partition(" ")
        if word == "record":
            record = rest
        elif word == "marker":
            marker = rest
        else:
            targets.append((word, rest.split()))
    leave_processes(marker, escaped)
    for word, a in targets:
        if word == "unix":
            attempt(escaped, "connected to " + a[0], lambda: unix(a[0]))
        elif word == "tcp":
            attempt(escaped, "reached port " + a[0], lambda: tcp(int(a[0]), marker))
        elif word == "server":
            attempt(escaped, "signalled the server", lambda: os.kill(int(a[0]), signal.SIGTERM))
        elif word == "victim":
            pid = int(a[0])
            attempt(escaped, "signalled %d" % pid, lambda: os.kill(pid, signal.SIGUSR1))
            attempt(escaped, "read the environment of %d" % pid, lambda: read_environ(pid, a[1]))
            attempt(escaped, "wrote into the folder of %d" % pid, lambda: write_cwd(pid, marker))
            attempt(escaped, "traced %d" % pid, lambda: trace(pid))
        elif word == "file":
            attempt(escaped, "opened %s for writing" % a[0], lambda: open(a[0], "r+b").close())
        elif word == "folder":
            attempt(escaped, "wrote in " + a[0],
                    lambda: open(os.path.join(a[0], "escaped-" + marker), "w").close())
        elif word == "sleep":
            time.sleep(float(a[0]))
    # Its process group holds what confines it: a SIGTERM there would pass
    # for the service being stopped, and the game would be tried again.
    attempt(escaped, "signalled its process group", lambda: os.kill(0, signal.SIGTERM))
    if escaped:
        print("wormlob2: escaped: " + "; ".join(escaped), file=sys.stderr)
        sys.exit(3)
    print("replayed")
    print("verified " + verified_line(record))


if __name__ == "__main__":
    main()

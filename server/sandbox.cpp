#include "server/sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <seccomp.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <random>
#include <set>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {
// Files the game writes in its data folder: each replay starts without them.
bool IsPlayersFile(const std::string& name) {
    return name.rfind("scores.dat", 0) == 0 || name.rfind("Setup.ini", 0) == 0 || name == "Debug.txt";
}

// Folders are made, files linked: the replay reads the real assets and
// writes only into its own folder.
bool MirrorAssets(const fs::path& from, const fs::path& to, int depth, std::string& error) {
    std::error_code ec;
    fs::create_directories(to, ec);
    if (ec) {
        error = "cannot make \"" + to.string() + "\": " + ec.message();
        return false;
    }
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (depth < 4 && name != "games" && !MirrorAssets(it->path(), to / name, depth + 1, error)) return false;
        } else if (depth > 0 && it->is_regular_file(typeEc) && !IsPlayersFile(name)) {
            fs::create_symlink(fs::absolute(it->path()), to / name, typeEc);
        }
    }
    if (ec) {
        error = "cannot read the assets folder \"" + from.string() + "\": " + ec.message();
        return false;
    }
    return true;
}

std::string LastLine(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

// Keeps the last `keep` bytes of a stream: a child that floods its output
// costs the server no memory.
void Append(std::string& buf, const char* data, size_t n, size_t keep = 8192) {
    buf.append(data, n);
    if (buf.size() > 2 * keep) buf.erase(0, buf.size() - keep);
}

struct Spawned {
    pid_t pid = -1;
    int out = -1, err = -1, status = -1;
    std::string error;
};

Spawned SpawnConfined(const std::string& self, const std::string& dir, const SandboxLimits& lim, uint32_t uid,
                      bool weak, const std::vector<std::string>& command) {
    Spawned s;
    int out[2], err[2], st[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) || pipe2(st, O_CLOEXEC)) {
        s.error = std::string("no pipes: ") + std::strerror(errno);
        return s;
    }
    std::vector<std::string> args = {self,
                                     "--sandbox",
                                     dir,
                                     std::to_string(lim.cpuSeconds),
                                     std::to_string(lim.memoryBytes),
                                     std::to_string(lim.fileBytes),
                                     std::to_string(lim.openFiles),
                                     std::to_string(getpid()),
                                     std::to_string(uid),
                                     weak ? "1" : "0",
                                     "--"};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_adddup2(&fa, st[1], 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so a time-out kills whatever it started; the
    // server's blocked and ignored signals are not passed on.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawn(&s.pid, self.c_str(), &fa, &attr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    close(st[1]);
    if (rc != 0) {
        s.pid = -1;
        s.error = "cannot start \"" + self + "\": " + std::strerror(rc);
        close(out[0]);
        close(err[0]);
        close(st[0]);
        return s;
    }
    s.out = out[0];
    s.err = err[0];
    s.status = st[0];
    return s;
}

// Reads the child's three pipes until they close or the wall time runs out
// (then the whole group is killed), and reaps it.
ReplayOutcome Collect(Spawned& s, int wallSeconds, std::string* missing = nullptr) {
    ReplayOutcome o;
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::seconds(wallSeconds);
    std::string out, err, status;
    bool timedOut = false;
    int fds[3] = {s.out, s.err, s.status};
    std::string* bufs[3] = {&out, &err, &status};
    int open = 3;
    while (open > 0) {
        pollfd p[3];
        int n = 0, which[3];
        for (int i = 0; i < 3; i++) {
            if (fds[i] < 0) continue;
            p[n] = {fds[i], POLLIN, 0};
            which[n++] = i;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !timedOut) {
            timedOut = true;
            kill(-s.pid, SIGKILL);
            // The pipes close once the group is gone.
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            continue;
        }
        if (left.count() <= 0) break;  // something still holds a pipe open: give up on it
        int r = poll(p, n, (int)std::min<int64_t>(left.count(), 1000));
        if (r < 0 && errno != EINTR) break;
        for (int k = 0; k < n && r > 0; k++) {
            if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t got = read(p[k].fd, buf, sizeof buf);
            if (got > 0) {
                Append(*bufs[which[k]], buf, (size_t)got);
            } else if (got == 0 || errno != EINTR) {
                close(p[k].fd);
                fds[which[k]] = -1;
                open--;
            }
        }
    }
    for (int fd : fds) {
        if (fd >= 0) close(fd);
    }
    int ws = 0;
    kill(-s.pid, SIGKILL);  // anything the game left behind in its group
    rusage ru{};
    while (wait4(s.pid, &ws, 0, &ru) < 0 && errno == EINTR) {
    }
    o.cpuSeconds = (double)ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + (double)ru.ru_stime.tv_sec +
                   ru.ru_stime.tv_usec / 1e6;
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.lastOut = LastLine(out);
    o.lastErr = LastLine(err);
    // The confining side writes "sandbox <how>" and, if it could not start
    // the game, "error <why>"; a started game closed the pipe on exec.
    std::istringstream lines(status);
    std::string line, error;
    while (std::getline(lines, line)) {
        if (line.rfind("sandbox ", 0) == 0) o.sandbox = line.substr(8);
        if (line.rfind("missing ", 0) == 0 && missing) *missing = line.substr(8);
        if (line.rfind("error ", 0) == 0) error = line.substr(6);
    }
    if (!error.empty()) {
        o.kind = ReplayOutcome::NOT_STARTED;
        o.lastErr = error;
    } else if (timedOut) {
        o.kind = ReplayOutcome::TIMED_OUT;
    } else if (WIFSIGNALED(ws)) {
        o.kind = ReplayOutcome::SIGNALED;
        o.code = WTERMSIG(ws);
    } else {
        o.kind = ReplayOutcome::EXITED;
        o.code = WEXITSTATUS(ws);
    }
    return o;
}

// ---- the child's side: single-threaded, between the server and the game ----

void Status(const std::string& line) {
    std::string l = line + "\n";
    ssize_t ignored = write(3, l.data(), l.size());
    (void)ignored;
}

[[noreturn]] void Fail(const std::string& why) {
    Status("error " + why);
    _exit(125);
}

bool WriteFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size();
    close(fd);
    return ok;
}

std::string Unescape(const std::string& s) {  // mountinfo writes " " as "\040"
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            out.push_back((char)((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// In a private mount namespace: every mount becomes read-only except the
// child's folder. Returns "" or what stayed writable.
std::string ReadOnlyExcept(const std::string& dir) {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mounts left as they were (") + std::strerror(errno) + ")";
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return std::string("mounts left as they were (") + std::strerror(errno) + ")";
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    std::vector<std::string> points;
    while (std::getline(info, line)) {
        std::istringstream f(line);
        std::string id, parent, dev, root, point;
        if (f >> id >> parent >> dev >> root >> point) points.push_back(Unescape(point));
    }
    int failed = 0;
    for (const std::string& p : points) {
        if (p == dir || p.rfind(dir + "/", 0) == 0) continue;
        struct statvfs sv;
        if (statvfs(p.c_str(), &sv) != 0) continue;  // hidden under another mount
        unsigned long flags = MS_REMOUNT | MS_BIND | MS_RDONLY;
        // In a user namespace these flags are locked to their values: a
        // remount must repeat them.
        if (sv.f_flag & ST_NOSUID) flags |= MS_NOSUID;
        if (sv.f_flag & ST_NODEV) flags |= MS_NODEV;
        if (sv.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
        if (sv.f_flag & ST_NOATIME) flags |= MS_NOATIME;
        if (sv.f_flag & ST_NODIRATIME) flags |= MS_NODIRATIME;
        if (sv.f_flag & ST_RELATIME) flags |= MS_RELATIME;
        if (mount(nullptr, p.c_str(), nullptr, flags, nullptr) != 0) failed++;
    }
    return failed ? std::to_string(failed) + " of " + std::to_string(points.size()) + " mounts stayed writable" : "";
}

void ChownTree(const fs::path& dir, uid_t uid, gid_t gid) {
    if (lchown(dir.c_str(), uid, gid) != 0)
        Fail("the sandbox cannot hand the replay's folder to its user: " + std::string(std::strerror(errno)));
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (lchown(it->path().c_str(), uid, gid) != 0)
            Fail("the sandbox cannot hand the replay's folder to its user: " + std::string(std::strerror(errno)));
    }
}

void Limit(int resource, rlim_t soft, rlim_t hard) {
    rlimit r{soft, hard};
    if (setrlimit(resource, &r) != 0) Fail("the sandbox cannot set a limit: " + std::string(std::strerror(errno)));
}

// Closes every descriptor from first up; one by one where close_range is
// missing (kernels before 5.9) or fails.
void CloseFrom(int first) {
    if (close_range((unsigned)first, ~0U, 0) == 0) return;
    rlimit r{};
    long last = 65536;
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY) last = (long)std::min<rlim_t>(r.rlim_cur, 1 << 20);
    for (long fd = first; fd < last; fd++) close((int)fd);
}
}  // namespace

namespace {
// A replay's folder is held with a lock on its ".lock" file for as long as
// the process that made it works in it. The kernel lets go of the lock when
// that process dies, however it dies, so a later start can tell a folder
// left by a killed process from one a live process (another server on the
// same work folder) is using.
const char* const LockName = ".lock";

int HoldFolder(const fs::path& dir) {
    int fd = open((dir / LockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

void DropFolder(const fs::path& dir, int lockFd) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (lockFd >= 0) close(lockFd);
}
}  // namespace

int SweepStaleFolders(const std::string& workDir) {
    int removed = 0;
    std::error_code ec;
    auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(workDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind("replay-", 0) != 0 && name.rfind("probe-", 0) != 0) continue;
        std::error_code e2;
        if (!it->is_directory(e2) || it->is_symlink(e2)) continue;
        bool stale;
        if (fs::exists(it->path() / LockName, e2)) {
            int fd = open((it->path() / LockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            stale = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (fd >= 0) close(fd);
        } else {
            // Made but not yet locked, or left by a process killed in that
            // moment: only an old one is taken for stale.
            auto at = fs::last_write_time(it->path(), e2);
            stale = !e2 && now - at > std::chrono::hours(1);
        }
        if (!stale) continue;
        fs::remove_all(it->path(), e2);
        if (!e2) removed++;
    }
    return removed;
}

namespace {
std::mutex setupLock;
SandboxSetup setup;
std::set<uint32_t> idsInUse;

// A user id of the reserved range no replay of this process holds now,
// picked at random so that two servers on one machine seldom meet.
uint32_t TakeReplayId() {
    std::lock_guard<std::mutex> lock(setupLock);
    static std::mt19937 pick(std::random_device{}());
    uint32_t id;
    do {
        id = setup.replayUid + (uint32_t)(pick() % kReplayIds);
    } while (idsInUse.count(id));
    idsInUse.insert(id);
    return id;
}

void GiveBackReplayId(uint32_t id) {
    std::lock_guard<std::mutex> lock(setupLock);
    idsInUse.erase(id);
}

bool probedFull = true;

bool WeakAllowed() {
    std::lock_guard<std::mutex> lock(setupLock);
    return setup.weakAllowed;
}

// Without a PID namespace, what a replay left running (a setsid child, a
// replay killed at its time limit) is found by its user id, which is the
// replay's alone: killed as that user, which can signal nothing else. The
// child of a threaded process changes only its own ids with the raw calls.
void KillReplayUser(uint32_t uid) {
    pid_t k = fork();
    if (k == 0) {
        if (syscall(SYS_setgroups, 0, nullptr) == 0 && syscall(SYS_setresgid, uid, uid, uid) == 0 &&
            syscall(SYS_setresuid, uid, uid, uid) == 0)
            kill(-1, SIGKILL);
        _exit(0);
    }
    if (k > 0) {
        while (waitpid(k, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}
}  // namespace

ReplayOutcome RunReplay(const ReplayJob& job) {
    ReplayOutcome o;
    std::string tmpl = (fs::path(job.workDir) / "replay-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        o.lastErr = "cannot make a folder in \"" + job.workDir + "\": " + std::strerror(errno);
        return o;
    }
    fs::path dir = tmpl;
    int lockFd = HoldFolder(dir);
    std::string error;
    bool ready = MirrorAssets(job.filesDir, dir / "data", 0, error);
    if (ready) {
        std::ofstream f(dir / "game.w2g", std::ios::binary);
        f.write(job.journal.data(), (std::streamsize)job.journal.size());
        ready = (bool)f.flush();
        if (!ready) error = "cannot write the journal into \"" + dir.string() + "\"";
    }
    if (ready) {
        uint32_t uid = TakeReplayId();
        Spawned s = SpawnConfined(job.self, dir.string(), job.limits, uid, WeakAllowed(),
                                  {job.game, "--headless", "--files", (dir / "data").string(), "--replay",
                                   (dir / "game.w2g").string()});
        if (s.pid > 0) {
            o = Collect(s, job.limits.wallSeconds);
        } else {
            o.lastErr = s.error;
        }
        bool leftovers;
        {
            std::lock_guard<std::mutex> lock(setupLock);
            leftovers = !probedFull;
        }
        if (leftovers && geteuid() == 0) KillReplayUser(uid);
        GiveBackReplayId(uid);
    } else {
        o.lastErr = error;
    }
    DropFolder(dir, lockFd);
    return o;
}

SandboxProbe ProbeSandbox(const std::string& self, const std::string& workDir, const SandboxSetup& given) {
    {
        std::lock_guard<std::mutex> lock(setupLock);
        setup = given;
    }
    SandboxProbe probe;
    std::string tmpl = (fs::path(workDir) / "probe-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        probe.missing = std::string("no folder can be made in the work folder (") + std::strerror(errno) + ")";
        probe.how = "none: " + probe.missing;
        return probe;
    }
    int lockFd = HoldFolder(tmpl);
    SandboxLimits lim;
    lim.wallSeconds = 10;
    uint32_t uid = TakeReplayId();
    // Run allowing the weak form, so that it says what it lacks.
    Spawned s = SpawnConfined(self, tmpl, lim, uid, true, {"/bin/true"});
    if (s.pid <= 0) {
        probe.missing = s.error;
    } else {
        std::string missing;
        ReplayOutcome o = Collect(s, lim.wallSeconds, &missing);
        if (o.kind == ReplayOutcome::NOT_STARTED) probe.missing = o.lastErr;
        else if (o.kind != ReplayOutcome::EXITED || o.code != 0)
            probe.missing = "/bin/true did not run to its end under the confinement";
        else probe.missing = missing;
        probe.how = o.sandbox;
    }
    GiveBackReplayId(uid);
    probe.full = probe.missing.empty();
    {
        std::lock_guard<std::mutex> lock(setupLock);
        probedFull = probe.full;
    }
    if (probe.how.empty()) probe.how = "none: " + probe.missing;
    DropFolder(tmpl, lockFd);
    return probe;
}

namespace {
struct Confinement {
    std::string dir;
    rlim_t cpu = 0, mem = 0, fsize = 0, nofile = 0;
    bool root = false;        // started as root: the game drops to uid
    uid_t uid = 0;
    gid_t gid = 0;
    bool namespaces = false;  // PID, network, mount and IPC (and user, unless root)
    bool weak = false;        // what the kernel refuses is done without
};

// The most processes and threads the replay may have at once: the game
// needs a few threads; a fork bomb stops here.
constexpr rlim_t kMaxProcesses = 128;

std::string Join(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts) s += (s.empty() ? "" : "; ") + p;
    return s;
}

// What a replay never needs, refused with EPERM (not killed: a library that
// tries something on the way, such as a socket to a desktop service, gets
// an error it copes with). Every other call is allowed: the filter takes
// away whole families of calls, it does not list what the game makes.
const int kRefused[] = {
    // the network and every socket on the file system
    SCMP_SYS(socket), SCMP_SYS(socketpair),
    // other processes' memory
    SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(kcmp),
    SCMP_SYS(pidfd_getfd), SCMP_SYS(process_madvise),
    // signals by handle or to a thread named without its process
    SCMP_SYS(pidfd_send_signal), SCMP_SYS(tkill),
    // the file system tree and the namespaces
    SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(unshare),
    SCMP_SYS(setns), SCMP_SYS(fsopen), SCMP_SYS(fsconfig), SCMP_SYS(fsmount), SCMP_SYS(fspick),
    SCMP_SYS(move_mount), SCMP_SYS(open_tree), SCMP_SYS(mount_setattr), SCMP_SYS(open_by_handle_at),
    SCMP_SYS(name_to_handle_at),
    // kernel interfaces with a record of holes
    SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(bpf), SCMP_SYS(perf_event_open),
    SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register),
    SCMP_SYS(fanotify_init), SCMP_SYS(lookup_dcookie),
    // the machine itself
    SCMP_SYS(init_module), SCMP_SYS(finit_module), SCMP_SYS(delete_module), SCMP_SYS(kexec_load),
    SCMP_SYS(kexec_file_load), SCMP_SYS(reboot), SCMP_SYS(swapon), SCMP_SYS(swapoff), SCMP_SYS(acct),
    SCMP_SYS(quotactl), SCMP_SYS(syslog), SCMP_SYS(settimeofday), SCMP_SYS(clock_settime),
    SCMP_SYS(clock_adjtime), SCMP_SYS(adjtimex), SCMP_SYS(sethostname), SCMP_SYS(setdomainname),
    SCMP_SYS(vhangup), SCMP_SYS(iopl), SCMP_SYS(ioperm),
};

// Loaded last before the game starts; self is this process's id, the only
// one its signals may name.
std::string InstallFilter(pid_t self) {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) return "seccomp_init failed";
    const uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    int rc = 0;
    for (int call : kRefused) {
        if (rc == 0) rc = seccomp_rule_add(ctx, deny, call, 0);
    }
    // Signals: to itself only (raise and abort name their own process).
    for (int call : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo), SCMP_SYS(rt_tgsigqueueinfo)}) {
        if (rc == 0) rc = seccomp_rule_add(ctx, deny, call, 1, SCMP_A0_32(SCMP_CMP_NE, (uint32_t)self));
    }
    // New processes and threads, but in no new namespace. clone3 passes its
    // flags in memory a filter cannot read: "not there" makes the C library
    // fall back to clone.
    for (int flag : {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWIPC, CLONE_NEWUTS,
                     CLONE_NEWCGROUP, CLONE_NEWTIME}) {
        if (rc == 0) rc = seccomp_rule_add(ctx, deny, SCMP_SYS(clone), 1, SCMP_A0_64(SCMP_CMP_MASKED_EQ, (uint64_t)flag, (uint64_t)flag));
    }
    if (rc == 0) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // The execution domain may be read (0xffffffff), not changed.
    if (rc == 0)
        rc = seccomp_rule_add(ctx, deny, SCMP_SYS(personality), 1, SCMP_A0_32(SCMP_CMP_NE, 0xffffffffu));
    // The parent-death signal is the link that ends a replay with the server.
    if (rc == 0) rc = seccomp_rule_add(ctx, deny, SCMP_SYS(prctl), 1, SCMP_A0_32(SCMP_CMP_EQ, PR_SET_PDEATHSIG));
    if (rc == 0) rc = seccomp_load(ctx);
    seccomp_release(ctx);
    return rc == 0 ? "" : std::string("the system call filter cannot be loaded: ") + std::strerror(-rc);
}

// The game's own process: its id, its limits, the filter, then the game.
[[noreturn]] void BecomeGame(const Confinement& c, const std::string& how, char** command) {
    if (c.root) {
        // Ids no account has, this replay's alone: it can signal, trace or
        // read nothing of any other process, and owns only its folder.
        if (setgroups(0, nullptr) != 0 || setresgid(c.gid, c.gid, c.gid) != 0 || setresuid(c.uid, c.uid, c.uid) != 0)
            Fail("the sandbox cannot take the replay's own user id: " + std::string(std::strerror(errno)));
    }
    Limit(RLIMIT_CPU, c.cpu, c.cpu + 1);
    // 0: no address-space limit. A sanitizer build of the game reserves
    // terabytes of address space for its shadow and cannot start under one.
    if (c.mem > 0) Limit(RLIMIT_AS, c.mem, c.mem);
    Limit(RLIMIT_FSIZE, c.fsize, c.fsize);
    Limit(RLIMIT_NOFILE, c.nofile, c.nofile);
    Limit(RLIMIT_CORE, 0, 0);
    // Counted per user id (within its user namespace): the replay's own id,
    // or in a user namespace of its own. Without either, the server's own
    // processes would count against it.
    if (c.root || c.namespaces) Limit(RLIMIT_NPROC, kMaxProcesses, kMaxProcesses);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (chdir(c.dir.c_str()) != 0) Fail("the sandbox cannot enter the replay's folder: " + std::string(std::strerror(errno)));
    Status("sandbox " + how);
    std::string home = "HOME=" + c.dir;
    std::vector<char*> env = {home.data(), const_cast<char*>("SDL_AUDIODRIVER=dummy"),
                              const_cast<char*>("ALSOFT_DRIVERS=null"), const_cast<char*>("LC_ALL=C")};
    // A sanitizer build (run with no address-space limit) looks for leaks at
    // its exit by tracing its own threads, which the filter refuses; its
    // other checks stay.
    if (c.mem == 0) env.push_back(const_cast<char*>("ASAN_OPTIONS=detect_leaks=0"));
    env.push_back(nullptr);
    std::string filter = InstallFilter(getpid());
    if (!filter.empty()) Fail("the sandbox cannot confine the replay: " + filter);
    execve(command[0], command, env.data());
    Fail("cannot run the game \"" + std::string(command[0]) + "\": " + std::strerror(errno));
}

// The replay's first process: in its own PID namespace, the namespace's
// init. When it ends, the kernel kills every process left in the
// namespace, however started (setsid, double fork); it dies with the
// confining process above it, which the server kills at the verdict.
[[noreturn]] void FirstProcess(const Confinement& c, std::vector<std::string> missing, int result, int life,
                               char** command) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The confining process may have died before that took hold: then the
    // other end of the life pipe is closed.
    pollfd p{life, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) _exit(125);
    std::string procNote;
    if (c.namespaces) {
        // A /proc of this namespace: no other process is in sight. The
        // kernel refuses it in a user namespace where parts of the old
        // /proc are covered (systemd's ProtectKernelTunables does that):
        // then an empty folder covers /proc, which hides every process,
        // the replay's own too.
        if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
            int why = errno;
            if (mount("tmpfs", "/proc", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RDONLY, "size=4k") == 0)
                procNote = std::string(", an empty /proc (a private one was refused: ") + std::strerror(why) + ")";
            else
                missing.push_back(std::string("no private /proc (") + std::strerror(why) + ")");
        }
    }
    if (!missing.empty() && !c.weak) Fail("the sandbox cannot confine the replay: " + Join(missing));
    std::string how;
    if (c.namespaces) how = c.root ? "pid+net+mount+ipc namespaces" : "user+pid+net+mount+ipc namespaces";
    else how = "no namespaces";
    how += c.root ? ", own user id " + std::to_string(c.uid) : ", the server's user id";
    how += ", seccomp";
    if (c.root || c.namespaces) how += ", at most " + std::to_string(kMaxProcesses) + " processes";
    how += procNote;
    if (!missing.empty()) {
        how += " (weak: " + Join(missing) + ")";
        Status("missing " + Join(missing));
    }
    pid_t game = fork();
    if (game < 0) Fail("the sandbox cannot start the game's process: " + std::string(std::strerror(errno)));
    if (game == 0) {
        close(result);
        close(life);
        BecomeGame(c, how, command);
    }
    for (;;) {
        int ws = 0;
        pid_t got = waitpid(-1, &ws, 0);
        if (got == game) {
            ssize_t ignored = write(result, &ws, sizeof ws);
            (void)ignored;
            _exit(0);
        }
        if (got < 0 && errno != EINTR) _exit(125);
    }
}

// Without a PID namespace, a replay run as root still has ids of its own:
// whatever it left running (a setsid child holding the output pipes) is
// killed as that user before the replay counts as over.
void KillLeftovers(const Confinement& c) {
    pid_t k = fork();
    if (k == 0) {
        if (setgroups(0, nullptr) == 0 && setresgid(c.gid, c.gid, c.gid) == 0 && setresuid(c.uid, c.uid, c.uid) == 0)
            kill(-1, SIGKILL);
        _exit(0);
    }
    if (k > 0) {
        while (waitpid(k, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}
}  // namespace

int SandboxMain(int argc, char** argv) {
    // Only the status pipe stays open beside the standard streams, and it
    // closes when the game starts.
    fcntl(3, F_SETFD, FD_CLOEXEC);
    CloseFrom(4);
    int sep = 0;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--") == 0) {
            sep = i;
            break;
        }
    }
    if (sep != 10 || sep + 1 >= argc) Fail("the sandbox was started with wrong arguments");
    Confinement c;
    c.dir = argv[2];
    c.cpu = std::strtoull(argv[3], nullptr, 10);
    c.mem = std::strtoull(argv[4], nullptr, 10);
    c.fsize = std::strtoull(argv[5], nullptr, 10);
    c.nofile = std::strtoull(argv[6], nullptr, 10);
    pid_t parent = (pid_t)std::atoi(argv[7]);
    c.root = geteuid() == 0;
    c.uid = c.root ? (uid_t)std::strtoul(argv[8], nullptr, 10) : getuid();
    c.gid = c.root ? (gid_t)c.uid : getgid();
    c.weak = std::strcmp(argv[9], "1") == 0;
    if (c.root && c.uid < 1000) Fail("the sandbox was given the user id of an account or of root");
    if (getppid() != parent) _exit(125);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);  // this process may end by the game's signal

    std::vector<std::string> missing;
    // As root the namespaces are made without a user namespace and the game
    // then drops to its own unused id, holding no capability anywhere; an
    // ordinary user needs a user namespace (mapping its own id, all the
    // kernel allows) for the rights to make the others.
    int flags = CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWPID | (c.root ? 0 : CLONE_NEWUSER);
    if (unshare(flags) == 0) {
        c.namespaces = true;
        if (!c.root) {
            char map[64];
            std::snprintf(map, sizeof map, "%u %u 1\n", (unsigned)c.uid, (unsigned)c.uid);
            bool ok = WriteFile("/proc/self/setgroups", "deny") && WriteFile("/proc/self/uid_map", map);
            std::snprintf(map, sizeof map, "%u %u 1\n", (unsigned)c.gid, (unsigned)c.gid);
            ok = ok && WriteFile("/proc/self/gid_map", map);
            if (!ok) Fail("the sandbox cannot map the user namespace's ids: " + std::string(std::strerror(errno)));
        }
        std::string writable = ReadOnlyExcept(c.dir);
        if (!writable.empty()) missing.push_back(writable);
    } else {
        missing.push_back(std::string("the kernel refused the namespaces (unshare: ") + std::strerror(errno) + ")");
    }
    if (c.root) ChownTree(c.dir, c.uid, c.gid);
    if (!missing.empty() && !c.weak) Fail("the sandbox cannot confine the replay: " + Join(missing));

    // Dies with the server, set after the last change of ids (which clears it).
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    int result[2], life[2];
    if (pipe2(result, O_CLOEXEC) != 0 || pipe2(life, O_CLOEXEC) != 0)
        Fail("the sandbox has no pipes: " + std::string(std::strerror(errno)));
    pid_t first = fork();
    if (first < 0) Fail("the sandbox cannot start the replay's first process: " + std::string(std::strerror(errno)));
    if (first == 0) {
        close(result[0]);
        close(life[1]);
        FirstProcess(c, missing, result[1], life[0], argv + sep + 1);
    }
    close(result[1]);
    close(life[0]);
    int ws = 0;
    while (waitpid(first, &ws, 0) < 0 && errno == EINTR) {
    }
    int game = 0;
    bool told = read(result[0], &game, sizeof game) == (ssize_t)sizeof game;
    if (c.root && !c.namespaces) KillLeftovers(c);
    // Ends as the game ended, so the server reads the game's own status.
    if (!told) game = ws;
    if (WIFSIGNALED(game)) {
        int sig = WTERMSIG(game);
        signal(sig, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        sigprocmask(SIG_UNBLOCK, &one, nullptr);
        raise(sig);
        _exit(128 + sig);
    }
    _exit(WIFEXITED(game) ? WEXITSTATUS(game) : 125);
}

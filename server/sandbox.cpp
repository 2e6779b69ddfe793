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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

Spawned SpawnConfined(const std::string& self, const std::string& dir, const SandboxLimits& lim,
                      const std::vector<std::string>& command) {
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
ReplayOutcome Collect(Spawned& s, int wallSeconds) {
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
    if (lchown(dir.c_str(), uid, gid) != 0) Fail("cannot hand the replay's folder to its user: " + std::string(std::strerror(errno)));
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (lchown(it->path().c_str(), uid, gid) != 0) Fail("cannot hand the replay's folder to its user");
    }
}

void Limit(int resource, rlim_t soft, rlim_t hard) {
    rlimit r{soft, hard};
    if (setrlimit(resource, &r) != 0) Fail("setrlimit: " + std::string(std::strerror(errno)));
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
        Spawned s = SpawnConfined(job.self, dir.string(), job.limits,
                                  {job.game, "--headless", "--files", (dir / "data").string(), "--replay",
                                   (dir / "game.w2g").string()});
        if (s.pid > 0) {
            o = Collect(s, job.limits.wallSeconds);
        } else {
            o.lastErr = s.error;
        }
    } else {
        o.lastErr = error;
    }
    DropFolder(dir, lockFd);
    return o;
}

std::string ProbeSandbox(const std::string& self, const std::string& workDir) {
    std::string tmpl = (fs::path(workDir) / "probe-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return std::string("cannot make a folder in the work folder: ") + std::strerror(errno);
    int lockFd = HoldFolder(tmpl);
    SandboxLimits lim;
    lim.wallSeconds = 10;
    Spawned s = SpawnConfined(self, tmpl, lim, {"/bin/true"});
    std::string how;
    if (s.pid <= 0) {
        how = s.error;
    } else {
        ReplayOutcome o = Collect(s, lim.wallSeconds);
        how = o.kind == ReplayOutcome::NOT_STARTED ? "failed: " + o.lastErr : o.sandbox;
    }
    DropFolder(tmpl, lockFd);
    return how;
}

int SandboxMain(int argc, char** argv) {
    // Only the status pipe stays open beside the standard streams, and it
    // closes when the game starts.
    fcntl(3, F_SETFD, FD_CLOEXEC);
    close_range(4, ~0U, 0);
    int sep = 0;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--") == 0) {
            sep = i;
            break;
        }
    }
    if (sep != 8 || sep + 1 >= argc) Fail("the confinement was started with wrong arguments");
    std::string dir = argv[2];
    rlim_t cpu = std::strtoull(argv[3], nullptr, 10), mem = std::strtoull(argv[4], nullptr, 10),
           fsize = std::strtoull(argv[5], nullptr, 10), nofile = std::strtoull(argv[6], nullptr, 10);
    pid_t parent = (pid_t)std::atoi(argv[7]);
    if (getppid() != parent) _exit(125);

    std::string how;
    bool root = geteuid() == 0;
    uid_t uid = getuid();
    gid_t gid = getgid();
    // Namespaces: as root, net and mount without a user namespace (the
    // process then drops to nobody); otherwise a user namespace gives the
    // rights to make the other two.
    int flags = CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | (root ? 0 : CLONE_NEWUSER);
    if (unshare(flags) == 0) {
        how = root ? "net+mount namespaces" : "user+net+mount namespaces";
        if (!root) {
            char map[64];
            std::snprintf(map, sizeof map, "%u %u 1\n", (unsigned)uid, (unsigned)uid);
            bool ok = WriteFile("/proc/self/setgroups", "deny") && WriteFile("/proc/self/uid_map", map);
            std::snprintf(map, sizeof map, "%u %u 1\n", (unsigned)gid, (unsigned)gid);
            ok = ok && WriteFile("/proc/self/gid_map", map);
            if (!ok) Fail("cannot map the user namespace's ids");
        }
        std::string writable = ReadOnlyExcept(dir);
        if (!writable.empty()) how += " (" + writable + ")";
    } else {
        how = std::string("no namespaces (") + std::strerror(errno) + "): resource limits and an empty environment only";
    }
    if (root) {
        // Never replay as root: the game runs as nobody, owning only its folder.
        const passwd* pw = getpwnam("nobody");
        uid_t nu = pw ? pw->pw_uid : 65534;
        gid_t ng = pw ? pw->pw_gid : 65534;
        ChownTree(dir, nu, ng);
        if (setgroups(0, nullptr) != 0 || setresgid(ng, ng, ng) != 0 || setresuid(nu, nu, nu) != 0)
            Fail("cannot become nobody: " + std::string(std::strerror(errno)));
        how += ", as nobody";
    }
    Limit(RLIMIT_CPU, cpu, cpu + 1);
    // 0: no address-space limit. A sanitizer build of the game reserves
    // terabytes of address space for its shadow and cannot start under one.
    if (mem > 0) Limit(RLIMIT_AS, mem, mem);
    Limit(RLIMIT_FSIZE, fsize, fsize);
    Limit(RLIMIT_NOFILE, nofile, nofile);
    Limit(RLIMIT_CORE, 0, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    // Dies with the server, set last: changing ids clears it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    if (chdir(dir.c_str()) != 0) Fail("cannot enter the replay's folder");
    Status("sandbox " + how);
    std::string home = "HOME=" + dir;
    std::vector<char*> env = {home.data(), const_cast<char*>("SDL_AUDIODRIVER=dummy"),
                              const_cast<char*>("ALSOFT_DRIVERS=null"), const_cast<char*>("LC_ALL=C"), nullptr};
    execve(argv[sep + 1], argv + sep + 1, env.data());
    Fail("cannot run the game \"" + std::string(argv[sep + 1]) + "\": " + std::strerror(errno));
}

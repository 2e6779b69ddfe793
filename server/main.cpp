// wormlob2-server: the HTTP front end (cpp-httplib), start-up and shutdown.
#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <thread>

#include "server/api.h"
#include "server/front.h"
#include "server/logtext.h"
#include "server/options.h"
#include "server/health.h"
#include "server/sandbox.h"
#include "server/store.h"
#include "server/worker.h"

namespace fs = std::filesystem;

// Where an installed game finds its assets, seen from its own folder, and
// where the install puts the game; the build sets both.
#ifndef WORMLOB_BIN_TO_DATA
#define WORMLOB_BIN_TO_DATA "../share/wormlob2/Files"
#endif
#ifndef WORMLOB_INSTALLED_GAME
#define WORMLOB_INSTALLED_GAME "/usr/games/wormlob2"
#endif
#ifndef WORMLOB_SOURCE_FILES
#define WORMLOB_SOURCE_FILES ""
#endif

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool IsProgram(const fs::path& p) { return fs::is_regular_file(p) && access(p.c_str(), X_OK) == 0; }

// The game beside this program (an install), one folder up (a build tree,
// where the server is built in server/), or where the install puts it.
std::string FindGame(const fs::path& self) {
    for (const fs::path& p : {self.parent_path() / "wormlob2", self.parent_path().parent_path() / "wormlob2",
                              fs::path(WORMLOB_INSTALLED_GAME)}) {
        if (IsProgram(p)) return fs::canonical(p).string();
    }
    return "";
}

// The assets the game itself would read: its install's, else the source
// tree's the build came from.
std::string FindFiles(const fs::path& game) {
    fs::path installed = (game.parent_path() / WORMLOB_BIN_TO_DATA).lexically_normal();
    std::error_code ec;
    if (fs::is_directory(installed, ec)) return installed.string();
    std::string source = WORMLOB_SOURCE_FILES;
    if (!source.empty() && fs::is_directory(source, ec)) return source;
    return "";
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "wormlob2-server: %s\n", why.c_str());
    return 1;
}

using Clock = std::chrono::steady_clock;

// The answers to requests the front end cuts off.
const char* RefusalText(int status) {
    switch (status) {
        case 408: return "the request did not arrive in time";
        case 413: return "the request body is larger than this server takes";
        case 414: return "the request line is longer than this server takes";
        case 431: return "the request's header lines are too long or too many";
        default: return "the request is malformed";
    }
}
const char* ReasonPhrase(int status) {
    switch (status) {
        case 408: return "Request Timeout";
        case 413: return "Payload Too Large";
        case 414: return "URI Too Long";
        case 431: return "Request Header Fields Too Large";
        default: return "Bad Request";
    }
}

int MsUntil(Clock::time_point t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return ms < 0 ? 0 : ms > 3600000 ? 3600000 : (int)ms;
}

// One connection as the library reads and writes it, with the limits the
// library (cpp-httplib 0.11.4) lacks put in front of it: the request's head
// and body must arrive by one deadline (the library's read time-out starts
// again with every byte), and a RequestGuard counts what is handed on, so
// that a huge header line, a crowd of headers or an endless chunked body is
// cut off where the limit is reached instead of being collected first.
class GuardedStream : public httplib::Stream {
public:
    GuardedStream(int fd, int readSeconds, int writeSeconds)
        : fd_(fd), readMs_(readSeconds * 1000), writeMs_(writeSeconds * 1000) {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        char host[NI_MAXHOST] = "", port[NI_MAXSERV] = "";
        if (getpeername(fd, (sockaddr*)&a, &len) == 0 &&
            getnameinfo((sockaddr*)&a, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip_ = host;
            port_ = std::atoi(port);
        }
        len = sizeof a;
        if (getsockname(fd, (sockaddr*)&a, &len) == 0 &&
            getnameinfo((sockaddr*)&a, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            localIp_ = host;
            localPort_ = std::atoi(port);
        }
    }

    // A new request begins: its own deadline and counts.
    void Begin(const RequestGuard& limits, Clock::time_point deadline) {
        guard = limits;
        deadline_ = deadline;
        timedOut = false;
        written = 0;
    }
    // Waits up to ms for the next request's first byte.
    bool WaitForRequest(int ms) const {
        if (used_ < filled_) return true;
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }

    bool is_readable() const override {
        if (used_ < filled_) return true;
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, std::min(readMs_, MsUntil(deadline_))) > 0;
    }
    bool is_writable() const override {
        pollfd p{fd_, POLLOUT, 0};
        return poll(&p, 1, writeMs_) > 0;
    }
    ssize_t read(char* ptr, size_t size) override {
        if (guard.refusal || timedOut) return -1;
        if (used_ == filled_) {
            // A silent client is let go after the read time-out; one that
            // keeps sending, at the request's deadline.
            pollfd p{fd_, POLLIN, 0};
            int ready = poll(&p, 1, std::min(readMs_, MsUntil(deadline_)));
            if (ready <= 0) {
                timedOut = ready == 0;
                return -1;
            }
            ssize_t n = recv(fd_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return n;
            used_ = 0;
            filled_ = (size_t)n;
        }
        size_t n = guard.Take(buffer_ + used_, std::min(size, filled_ - used_));
        if (n == 0 && guard.refusal) return -1;
        std::memcpy(ptr, buffer_ + used_, n);
        used_ += n;
        return (ssize_t)n;
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n = send(fd_, ptr, size, MSG_NOSIGNAL);
        if (n > 0) written += (size_t)n;
        return n;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = ip_;
        port = port_;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = localIp_;
        port = localPort_;
    }
    socket_t socket() const override { return fd_; }
    const std::string& RemoteIp() const { return ip_; }

    RequestGuard guard;
    bool timedOut = false;
    size_t written = 0;

private:
    int fd_;
    int readMs_, writeMs_;
    Clock::time_point deadline_ = Clock::now();
    char buffer_[16384];
    size_t used_ = 0, filled_ = 0;
    std::string ip_, localIp_;
    int port_ = 0, localPort_ = 0;
};

// The connection the current thread serves, so that the error handler can
// tell the library's 400 for a request cut off by a limit from a malformed
// one.
thread_local GuardedStream* tStream = nullptr;
// Set while a connection is handed over with the queue full: it is closed
// at once.
thread_local bool tQueueFull = false;

// The library's thread pool, with its queue of accepted connections bounded:
// past the bound a connection is closed as soon as it is accepted instead of
// waiting behind thousands of others (and holding their descriptors).
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(size_t threads, size_t maxWaiting) : maxWaiting_(maxWaiting) {
        for (size_t i = 0; i < threads; i++) threads_.emplace_back([this] { Work(); });
    }
    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (jobs_.size() < maxWaiting_) {
                jobs_.push_back(std::move(fn));
                cond_.notify_one();
                return;
            }
        }
        tQueueFull = true;
        fn();
        tQueueFull = false;
    }
    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cond_.notify_all();
        for (auto& t : threads_) t.join();
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }
    size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

// The library's server with its connection loop replaced: connections per
// address are counted (late ones closed at once), each request gets a
// GuardedStream, and a connection cut off by a limit is closed after its
// answer. Requests are still parsed and routed by the library itself.
class Front : public httplib::Server {
public:
    explicit Front(const ServerOptions& o) : o_(o) {}

private:
    bool process_and_close_socket(socket_t sock) override {
        bool ok = tQueueFull ? false : Serve(sock);
        shutdown(sock, SHUT_RDWR);
        close(sock);
        return ok;
    }

    bool Serve(socket_t sock) {
        int one = 1;
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        GuardedStream strm(sock, (int)read_timeout_sec_, (int)write_timeout_sec_);
        // The trusted proxy brings every client's connections: it has no cap.
        std::string key = AddressBucket(strm.RemoteIp());
        bool counted = o_.connectionsPerAddress > 0 && strm.RemoteIp() != o_.trustedProxy;
        if (counted) {
            std::lock_guard<std::mutex> lock(countMutex_);
            int& n = open_[key];
            if (n >= o_.connectionsPerAddress) {
                if (n == o_.connectionsPerAddress && refusedLogged_.insert(key).second)
                    std::fprintf(stderr, "wormlob2-server: %s holds %d connections; closing further ones\n",
                                 LogEscape(key).c_str(), n);
                return false;
            }
            n++;
        }
        RequestGuard limits;
        limits.maxBody = (size_t)o_.maxJournalBytes * 2 + 65536;  // chunk framing may double a body
        tStream = &strm;
        bool ok = false;
        for (size_t count = keep_alive_max_count_; count > 0 && svr_sock_ != INVALID_SOCKET; count--) {
            // Idle between requests for at most the keep-alive time; looked
            // at every 200 ms so that a stopping server lets it go.
            bool ready = false;
            for (auto idleEnd = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
                 !ready && svr_sock_ != INVALID_SOCKET && Clock::now() < idleEnd;)
                ready = strm.WaitForRequest(std::min(200, MsUntil(idleEnd)));
            if (!ready) break;
            strm.Begin(limits, Clock::now() + std::chrono::seconds(o_.requestSeconds));
            bool closed = false;
            ok = process_request(strm, count == 1, closed, {});
            bool cut = strm.guard.refusal || strm.timedOut;
            if (cut && strm.written == 0) {
                int status = Refuse(strm);
                if (!o_.quiet)
                    std::fprintf(stderr, "%s - - %d (request cut off)\n", LogEscape(strm.RemoteIp(), 64).c_str(), status);
            }
            if (!ok || closed || cut) {
                if (cut) Linger(sock);
                break;
            }
        }
        tStream = nullptr;
        if (counted) {
            std::lock_guard<std::mutex> lock(countMutex_);
            if (--open_[key] == 0) {
                open_.erase(key);
                refusedLogged_.erase(key);
            }
        }
        return ok;
    }

    // A request cut off before the library answered it (in its request
    // line): the answer is written here, whole and fixed.
    static int Refuse(GuardedStream& strm) {
        int status = strm.timedOut ? 408 : strm.guard.refusal;
        std::string body = ErrorReply(status, RefusalText(status)).body;
        std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
                           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n\r\n";
        strm.write((head + body).data(), head.size() + body.size());
        return status;
    }

    // The client may still be sending what was refused; closing at once
    // would reset the connection and could take the answer with it. So the
    // sending side is closed, and what comes in is read and dropped for a
    // short while.
    static void Linger(int sock) {
        shutdown(sock, SHUT_WR);
        char sink[16384];
        auto end = Clock::now() + std::chrono::seconds(2);
        size_t dropped = 0;
        for (;;) {
            pollfd p{sock, POLLIN, 0};
            if (poll(&p, 1, MsUntil(end)) <= 0) break;
            ssize_t n = recv(sock, sink, sizeof sink, 0);
            if (n <= 0 || (dropped += (size_t)n) > (size_t)64 << 20) break;
        }
    }

    const ServerOptions& o_;
    std::mutex countMutex_;
    std::unordered_map<std::string, int> open_;
    std::set<std::string> refusedLogged_;
};
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--sandbox") == 0) return SandboxMain(argc, argv);
    ServerOptions o;
    bool help = false;
    std::string bad = ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), o, help);
    if (help) {
        std::fputs(ServerHelp().c_str(), stdout);
        return 0;
    }
    if (!bad.empty()) {
        Fail(bad);
        return 2;
    }
    setvbuf(stderr, nullptr, _IOLBF, 0);

    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return Fail("cannot find this program's own file: " + ec.message());
    std::string game = o.game.empty() ? FindGame(self) : o.game;
    if (game.empty() || !IsProgram(game))
        return Fail(game.empty() ? "no game binary found to replay journals with; name it with --game"
                                 : "the game \"" + game + "\" is not a program");
    game = fs::absolute(game).string();
    std::string files = o.files.empty() ? FindFiles(game) : o.files;
    if (files.empty() || !fs::is_directory(files, ec))
        return Fail(files.empty() ? "no assets folder found for the game; name it with --files"
                                  : "the assets folder \"" + files + "\" is not a folder");
    files = fs::absolute(files).string();
    std::string workDir = o.workDir;
    if (workDir.empty()) {
        const char* t = std::getenv("TMPDIR");
        workDir = t && *t ? t : "/tmp";
    }
    if (!o.site.empty() && !fs::is_directory(o.site, ec)) return Fail("the site \"" + o.site + "\" is not a folder");

    // Signals go to one thread that stops everything in order; the others
    // never see them (and the replays get them back at their start).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // A server whose replays cannot be confined does not start, unless told
    // to make do with less.
    SandboxProbe sandbox = ProbeSandbox(self.string(), workDir, {o.replayUid, o.weakSandbox});
    if (!sandbox.full && !o.weakSandbox)
        return Fail("the replays cannot be confined here: " + sandbox.missing +
                    "; start with --weak-sandbox to replay with less confinement");
    if (!sandbox.full) {
        std::fprintf(stderr, "wormlob2-server: weak sandbox: replays run with less confinement: %s\n",
                     sandbox.missing.c_str());
        SetHealthNote("sandbox", "weak: replays run with less confinement: " + sandbox.missing);
    }

    std::unique_ptr<SqlPool> pool;
    try {
        pool = std::make_unique<SqlPool>(o.database, o.dbConnections);
        auto c = pool->Get();
        MigrateSchema(*c);
        std::fprintf(stderr, "wormlob2-server: database %s (schema version %d, %lld games waiting)\n",
                     PrintableAddress(o.database).c_str(), SchemaVersion(*c), (long long)PendingGames(*c));
    } catch (const SqlError& e) {
        return Fail(e.what());
    }
    if (int stale = SweepStaleFolders(workDir))
        std::fprintf(stderr, "wormlob2-server: removed %d replay folders left by a stopped process in \"%s\"\n", stale,
                     workDir.c_str());
    std::fprintf(stderr, "wormlob2-server: replays run \"%s\" on the assets in \"%s\"; confinement: %s\n", game.c_str(),
                 files.c_str(), sandbox.how.c_str());

    Front http(o);
    Verifiers* verifiersPtr = nullptr;
    Api api(o, *pool, NowMs, [&] {
        if (verifiersPtr) verifiersPtr->Wake();
    });
    Verifiers verifiers(o, *pool, self.string(), game, files, workDir, [&] { api.ScoresChanged(); });
    verifiersPtr = &verifiers;

    // One thread per open connection (the library's model): enough of them
    // that keep-alive clients do not hold out the others, short timeouts so
    // that a silent client lets its thread go soon, at most
    // --connections-per-address of them for one address, and at most four
    // accepted connections waiting for each thread.
    int threads = o.httpThreads;
    http.new_task_queue = [threads] { return new BoundedPool((size_t)threads, (size_t)threads * 4); };
    http.set_tcp_nodelay(true);  // else each answer waits out the peer's delayed ACK
    http.set_keep_alive_max_count(1000);
    http.set_keep_alive_timeout(5);
    http.set_read_timeout(10, 0);
    http.set_write_timeout(10, 0);
    http.set_payload_max_length((size_t)o.maxJournalBytes + 1);
    int listenFd = -1;
    http.set_socket_options([&](socket_t fd) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        listenFd = fd;
    });
    if (!o.site.empty()) {
        http.set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
        http.set_file_extension_and_mimetype_mapping("data", "application/octet-stream");
        http.set_mount_point("/play/", o.site);
    }
    auto handle = [&](const httplib::Request& req, httplib::Response& res) {
        ApiRequest r;
        r.method = req.method;
        r.path = req.path;
        r.body = req.body;
        r.address = req.remote_addr;
        r.origin = req.get_header_value("Origin");
        r.host = req.get_header_value("Host");
        // Behind a reverse proxy every request comes from the proxy: the
        // client is the last address it added, over all the header's lines
        // (earlier ones the client may have written itself).
        if (!o.trustedProxy.empty() && req.remote_addr == o.trustedProxy) {
            std::vector<std::string> lines;
            auto range = req.headers.equal_range("X-Forwarded-For");
            for (auto it = range.first; it != range.second; ++it) lines.push_back(it->second);
            std::string client = ForwardedClient(lines);
            if (!client.empty()) r.address = client;
        }
        for (const auto& [k, v] : req.params) r.params.emplace(k, v);
        ApiReply a = api.Handle(r);
        res.status = a.status;
        for (auto& [k, v] : a.headers) res.set_header(k, v);
        if (!a.type.empty()) res.set_content(std::move(a.body), a.type.c_str());
    };
    http.Get(".*", handle);
    http.Post(".*", handle);
    http.Put(".*", handle);
    http.Delete(".*", handle);
    http.Patch(".*", handle);
    http.Options(".*", handle);
    // The library's own refusals (a request it cannot parse, a body too
    // large) and the front end's (a limit reached) get the API's JSON form.
    http.set_error_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (tStream && (tStream->guard.refusal || tStream->timedOut)) {
            res.status = tStream->timedOut ? 408 : tStream->guard.refusal;
            // A journal over the size limit is refused for good: the client
            // would send the same bytes again and again.
            bool forGood = res.status == 413 && req.path == "/api/v1/games";
            res.set_content((forGood ? PermanentErrorReply : ErrorReply)(res.status, RefusalText(res.status)).body,
                            "application/json");
            res.set_header("Connection", "close");
            return;
        }
        if (!res.body.empty()) return;
        // The library takes at most 8 KB of a form-encoded body (what curl
        // --data sends by default), whatever the limit for other bodies.
        bool form = req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
        std::string why = res.status == 413 && form
                              ? "send the journal as application/octet-stream: a form-encoded body may hold 8 KB"
                          : res.status == 413 ? "the request body is larger than this server takes"
                          : res.status == 404 ? "nothing is here"
                                              : "the request is malformed";
        bool forGood = res.status == 413 && req.path == "/api/v1/games";
        res.set_content((forGood ? PermanentErrorReply : ErrorReply)(res.status, why).body, "application/json");
    });
    if (!o.quiet) {
        // Everything the client chose (its path, its method, a forwarded
        // address) is escaped: a line break in it cannot start a log line.
        http.set_logger([&](const httplib::Request& req, const httplib::Response& res) {
            // A request cut off in its head has no address of its own yet.
            std::string who = LogEscape(!req.remote_addr.empty() ? req.remote_addr
                                        : tStream                ? tStream->RemoteIp()
                                                                 : std::string("-"),
                                        64);
            if (!o.trustedProxy.empty() && req.remote_addr == o.trustedProxy) {
                std::vector<std::string> lines;
                auto range = req.headers.equal_range("X-Forwarded-For");
                for (auto it = range.first; it != range.second; ++it) lines.push_back(it->second);
                std::string client = ForwardedClient(lines);
                if (!client.empty()) who = LogEscape(client, 64) + " via " + who;
            }
            std::fprintf(stderr, "%s %s %s %d %zu\n", who.c_str(), LogEscape(req.method, 20).c_str(),
                         LogEscape(req.path, 200).c_str(), res.status, res.body.size());
        });
    }

    if (!http.bind_to_port(o.address, o.port))
        return Fail("cannot listen on " + o.address + ":" + std::to_string(o.port) + ": " + std::strerror(errno));
    // The library listens with a backlog of 5, too few for a crowd of
    // clients connecting at once; a second listen() raises it.
    if (listenFd >= 0) listen(listenFd, SOMAXCONN);
    verifiers.Start();

    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        std::fprintf(stderr, "wormlob2-server: %s: finishing the replays that run, then stopping\n", strsignal(sig));
        http.stop();
    });
    std::fprintf(stderr, "wormlob2-server: serving http://%s:%d/ with %d verification worker(s)\n", o.address.c_str(),
                 o.port, o.workers);
    bool ok = http.listen_after_bind();
    if (!ok) {
        // Stopped some other way than by a signal: let the stopper go.
        pthread_kill(stopper.native_handle(), SIGTERM);
    }
    stopper.join();
    verifiers.Stop();
    std::fprintf(stderr, "wormlob2-server: stopped\n");
    return 0;
}

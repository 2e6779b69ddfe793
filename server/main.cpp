// wormlob2-server: the HTTP front end (cpp-httplib), start-up and shutdown.
#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "server/api.h"
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

std::string Clip(const std::string& s, size_t n = 200) { return s.size() > n ? s.substr(0, n) + "..." : s; }

int Fail(const std::string& why) {
    std::fprintf(stderr, "wormlob2-server: %s\n", why.c_str());
    return 1;
}
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

    httplib::Server http;
    Verifiers* verifiersPtr = nullptr;
    Api api(o, *pool, NowMs, [&] {
        if (verifiersPtr) verifiersPtr->Wake();
    });
    Verifiers verifiers(o, *pool, self.string(), game, files, workDir, [&] { api.ScoresChanged(); });
    verifiersPtr = &verifiers;

    // One thread per open connection (the library's model): enough of them
    // that keep-alive clients do not hold out the others, and short
    // timeouts so that a silent client lets its thread go soon.
    int threads = o.httpThreads;
    http.new_task_queue = [threads] { return new httplib::ThreadPool((size_t)threads); };
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
        // Behind a reverse proxy every request comes from the proxy: the
        // client is the last address it added (earlier ones the client
        // may have written itself).
        if (!o.trustedProxy.empty() && req.remote_addr == o.trustedProxy && req.has_header("X-Forwarded-For")) {
            std::string chain = req.get_header_value("X-Forwarded-For");
            std::string last = chain.substr(chain.rfind(',') == std::string::npos ? 0 : chain.rfind(',') + 1);
            last.erase(0, last.find_first_not_of(' '));
            last.erase(last.find_last_not_of(' ') + 1);
            if (!last.empty() && last.size() <= 64) r.address = last;
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
    // large) get the API's JSON form too.
    http.set_error_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        // The library takes at most 8 KB of a form-encoded body (what curl
        // --data sends by default), whatever the limit for other bodies.
        bool form = req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
        std::string why = res.status == 413 && form
                              ? "send the journal as application/octet-stream: a form-encoded body may hold 8 KB"
                          : res.status == 413 ? "the request body is larger than this server takes"
                          : res.status == 404 ? "nothing is here"
                                              : "the request is malformed";
        res.set_content(ErrorReply(res.status, why).body, "application/json");
    });
    if (!o.quiet) {
        http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::fprintf(stderr, "%s %s %s %d %zu\n", req.remote_addr.c_str(), req.method.c_str(),
                         Clip(req.path).c_str(), res.status, res.body.size());
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

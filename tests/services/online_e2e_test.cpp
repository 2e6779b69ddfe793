// The score client against the real score server on 127.0.0.1: a game the
// program played from a script is sent, verified, ranked and the rank shown;
// an outbox that loses nothing and sends nothing twice when the program is
// killed before it hears the server, or the server is down.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "media/gamejournal.h"
#include "media/graphics.h"
#include "tests/support/program.h"
#include "tests/support/skip.h"

using Json = nlohmann::json;

namespace {
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, (sockaddr*)&a, sizeof a);
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

size_t Append(char* d, size_t s, size_t n, void* out) {
    static_cast<std::string*>(out)->append(d, s * n);
    return s * n;
}

// GET url: the status (0 without an answer) and the body.
std::pair<long, std::string> Get(const std::string& url) {
    CURL* c = curl_easy_init();
    std::string body;
    long status = 0;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(c) == CURLE_OK) curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(c);
    return {status, body};
}

// POST body to url: the status (0 without an answer) and the body.
std::pair<long, std::string> Post(const std::string& url, const std::string& data) {
    CURL* c = curl_easy_init();
    std::string body;
    long status = 0;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, data.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)data.size());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(c) == CURLE_OK) curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(c);
    return {status, body};
}

template <class F>
bool WaitFor(F done, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

// What the server replays games with: this build's game and the assets. A
// server run as root replays as nobody, who cannot reach a build inside a
// private folder (a clean clone in a 0700 temporary folder): the game and
// the assets are then copied, once, where everyone may read them.
struct ReplayInputs {
    std::string game = std::string(WORMLOB_BINARY_DIR) + "/wormlob2";
    std::string files = std::string(WORMLOB_SOURCE_DIR) + "/Files";
    fs::path shared;
    ReplayInputs() {
        if (geteuid() != 0) return;
        std::string probe = "runuser -u nobody -- sh -c '[ -x \"$0\" ] && [ -r \"$1/418\" ]' '" + game + "' '" +
                            files + "' 2>/dev/null";
        if (std::system(probe.c_str()) == 0) return;
        char name[] = "/tmp/wl2-e2e-shared-XXXXXX";
        if (!mkdtemp(name)) return;
        shared = name;
        std::error_code ec;
        fs::copy_file(game, shared / "wormlob2", ec);
        fs::copy(files, shared / "Files", fs::copy_options::recursive, ec);
        std::system(("chmod -R a+rX '" + shared.string() + "'").c_str());
        game = (shared / "wormlob2").string();
        files = (shared / "Files").string();
    }
    ~ReplayInputs() {
        std::error_code ec;
        if (!shared.empty()) fs::remove_all(shared, ec);
    }
};

const ReplayInputs& Replays() {
    static ReplayInputs inputs;
    return inputs;
}

// The real wormlob2-server with a database of the test's own, verifying
// with this build's game.
struct ScoreServer {
    pid_t pid = -1;
    int port = FreePort();
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port); }
    bool Start(const fs::path& dir) {
        const std::string game = Replays().game, files = Replays().files;
        pid = fork();
        if (pid == 0) {
            std::string log = (dir / "server.log").string();
            if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(126);
            std::string server = std::string(WORMLOB_BINARY_DIR) + "/server/wormlob2-server";
            std::string db = (dir / "scores.sqlite").string(), p = std::to_string(port);
            // A sanitizer build of the game cannot start under the replays'
            // address-space limit (its shadow memory is reserved up front).
#if defined(__SANITIZE_ADDRESS__)
            const char* memory = "0";
#else
            const char* memory = "2048";
#endif
            execl(server.c_str(), server.c_str(), "--port", p.c_str(), "--database", db.c_str(), "--game",
                  game.c_str(), "--files", files.c_str(), "--work-dir", dir.c_str(), "--memory-limit", memory,
                  (char*)nullptr);
            _exit(127);
        }
        return WaitFor([&] { return Get(Url() + "/api/v1/health").first == 200; }, 30);
    }
    void Stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    Json Ask(const std::string& path) {
        auto [status, body] = Get(Url() + path);
        Json j = Json::parse(body, nullptr, false);
        return status == 0 || j.is_discarded() ? Json() : j;
    }
    ~ScoreServer() { Stop(); }
};

// Passes connections on to the server, except that it keeps the server's
// answer to an upload of a game from the program: the server has the game,
// the program never hears so.
struct SwallowingRelay {
    int listenFd = -1, port = 0, target = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
    explicit SwallowingRelay(int targetPort) : target(targetPort) {
        listenFd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listenFd, (sockaddr*)&a, sizeof a);
        listen(listenFd, 8);
        getsockname(listenFd, (sockaddr*)&a, &len);
        port = ntohs(a.sin_port);
        thread = std::thread([this] { Run(); });
    }
    ~SwallowingRelay() {
        stop = true;
        thread.join();
        close(listenFd);
    }
    void Run() {
        struct Pair {
            int client, server;
            bool swallow;
        };
        std::vector<Pair> pairs;
        while (!stop) {
            std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
            for (const Pair& p : pairs) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 100) <= 0) continue;
            // Only the pairs polled have answers in fds; one accepted now
            // is read from at the next turn.
            const size_t polled = pairs.size();
            if (fds[0].revents & POLLIN) {
                int c = accept(listenFd, nullptr, nullptr);
                int s = socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                a.sin_port = htons((uint16_t)target);
                if (connect(s, (sockaddr*)&a, sizeof a) == 0) pairs.push_back({c, s, false});
                else close(c), close(s);
            }
            for (size_t i = 0; i < polled; i++) {
                Pair& p = pairs[i];
                bool closed = false;
                char buf[65536];
                if (fds[1 + 2 * i].revents & (POLLIN | POLLHUP)) {
                    ssize_t n = read(p.client, buf, sizeof buf);
                    if (n <= 0) closed = true;
                    else {
                        if (std::string(buf, (size_t)n).find("POST /api/v1/games ") != std::string::npos)
                            p.swallow = true;
                        closed = write(p.server, buf, (size_t)n) != n;
                    }
                }
                if (fds[2 + 2 * i].revents & (POLLIN | POLLHUP)) {
                    ssize_t n = read(p.server, buf, sizeof buf);
                    if (n <= 0) closed = true;
                    else if (!p.swallow) closed = write(p.client, buf, (size_t)n) != n;
                }
                if (closed) p.client = -p.client - 1;  // marked; closed below
            }
            for (auto it = pairs.begin(); it != pairs.end();) {
                if (it->client >= 0) {
                    ++it;
                    continue;
                }
                close(-it->client - 1);
                close(it->server);
                it = pairs.erase(it);
            }
        }
        for (const Pair& p : pairs) close(p.client), close(p.server);
    }
};

class Online : public Program {
protected:
    ScoreServer server;
    void TearDown() override {
        server.Stop();
        Program::TearDown();
    }
    // A Medium game from a script, on the real clock (the server compares
    // the game's length with the time since its token): the start button
    // clicked until the title answers, a few seconds of play, Escape, "Quit"
    // on the pause screen, the name typed, Enter; Escape on the title at endMs.
    void WriteGameScript(const std::string& file, const std::string& name, int endMs) {
        std::ofstream s(root / file);
        s << "100 move 400 300\n";
        for (int t = 9000; t <= 15000; t += 2000) s << t << " mouse down 1\n" << t + 300 << " mouse up 1\n";
        int keys[][2] = {{18000, 27}, {19000, 40}, {20000, 32}};  // pause, down to Quit, confirm
        for (auto& k : keys) s << k[0] << " key down " << k[1] << "\n" << k[0] + 400 << " key up " << k[1] << "\n";
        for (int i = 0; i < 8; i++) s << 23000 + 400 * i << " key down 8\n" << 23200 + 400 * i << " key up 8\n";
        s << "26500 text " << name << "\n27000 key down 13\n27400 key up 13\n";
        s << endMs << " key down 27\n" << endMs + 400 << " key up 27\n";
    }
    std::vector<std::string> Outbox() {
        std::vector<std::string> names;
        if (fs::exists(files / "418" / "outbox"))
            for (const auto& e : fs::directory_iterator(files / "418" / "outbox"))
                names.push_back(e.path().filename().string());
        return names;
    }
    std::string Log() { return Slurp(files / "Debug.txt"); }
};

// The widths, in window pixels, of the highlighted (yellow) message strips
// along the picture's left edge.
std::vector<int> YellowStrips(const TPixmap& px) {
    auto yellow = [&](int x, int y) {
        const uint8_t* p = &px.pixels[(size_t)y * px.pitch + (size_t)x * 4];
        return p[0] > 150 && p[1] > 150 && p[2] < 110;
    };
    std::vector<int> strips;
    int width = 0;
    for (int y = px.height - 1; y >= px.height / 2; y--) {
        int right = -1, count = 0;
        for (int x = 0; x < px.width / 2; x++)
            if (yellow(x, y)) right = x, count++;
        bool strip = yellow(0, y) && right >= 10 && count * 10 >= (right + 1) * 6;
        if (strip) width = std::max(width, right + 1);
        if (!strip && width) strips.push_back(width), width = 0;
    }
    return strips;
}
}  // namespace

TEST_F(Online, ScriptedGameIsSentRankedAndTheRankIsShown) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    ASSERT_TRUE(server.Start(root)) << Slurp(root / "server.log");
    WriteGameScript("in.txt", "TESTER", 50000);
    // Pictures every 40 frames from before the game to the end: a message
    // is highlighted for 60 frames, so each one is in at least one of them.
    std::string grabs;
    for (int f = 400; f <= 3000; f += 40) grabs += " --grab " + std::to_string(f) + ":g" + std::to_string(f) + ".png";
    ASSERT_EQ(Run("--input in.txt --scores-server " + server.Url() + grabs, 300), 0) << Slurp(root / "out.txt");

    Json scores = server.Ask("/api/v1/scores?mode=medium");
    ASSERT_EQ(scores["scores"].size(), 1u) << scores.dump() << Slurp(root / "server.log");
    EXPECT_EQ(scores["scores"][0]["name"], "TESTER");
    EXPECT_EQ(scores["scores"][0]["rank"], 1);
    EXPECT_TRUE(Outbox().empty());
    EXPECT_NE(Log().find("ranked #1 in medium"), std::string::npos) << Log();
    EXPECT_NE(Slurp(files / "Online.ini").find("Server=" + server.Url()), std::string::npos);

    // Anyone can watch it from the server: the journal fetched by its
    // address replays to the same record.
    std::string id = scores["scores"][0]["id"].dump(), score = scores["scores"][0]["score"].dump();
    ASSERT_EQ(Run("--headless --replay " + server.Url() + "/api/v1/games/" + id + "/journal"), 0)
        << Slurp(root / "out.txt");
    EXPECT_NE(Slurp(root / "out.txt").find("verified mode=medium score=" + score + " "), std::string::npos)
        << Slurp(root / "out.txt");

    // The message as the player saw it: a highlighted strip as wide as
    // "Ranked #1 in Medium" in the message font (the 800 x 600 window shows
    // the 1280 x 960 drawing area at 0.625, its fonts at 1.4 times 16).
    ForceNullGraphics(true);
    FontRef font = LoadImageFont(std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Plainhand.ttf", 22, FONT_SMOOTH);
    ASSERT_TRUE(font);
    SetImageFont(font);
    int ranked = (int)(TextWidth("Ranked #1 in Medium") * 0.625), sent = (int)(TextWidth("Score Sent") * 0.625);
    std::map<int, std::vector<int>> seen;
    for (int f = 400; f <= 3000; f += 40) {
        // Appended, not "g" + ...: GCC 12 warns falsely (-Wrestrict) on that.
        std::string name = "g";
        name += std::to_string(f) + ".png";
        ImageRef shot = LoadImage((root / name).string(), 0);
        if (shot) seen[f] = YellowStrips(*ImageFramePixels(shot, 0));
    }
    ASSERT_FALSE(seen.empty());
    int rankedAt = -1, sentAt = -1;
    for (const auto& [frame, strips] : seen)
        for (int w : strips) {
            if (std::abs(w - ranked) <= 3 && rankedAt < 0) rankedAt = frame;
            if (std::abs(w - sent) <= 3 && sentAt < 0) sentAt = frame;
        }
    EXPECT_GE(rankedAt, 0) << "no picture shows a strip " << ranked << " pixels wide";
    EXPECT_GE(sentAt, 0) << "no picture shows a strip " << sent << " pixels wide";
    EXPECT_LE(sentAt, rankedAt);
    // Before the game no message was up.
    EXPECT_TRUE(seen.begin()->second.empty());
}

// The program is killed after the server took its game but before it heard
// so; then a game is played while the server is down. Nothing is lost: both
// wait in the outbox, and at the next start both go; nothing is twice: the
// first is the game the server already had.
TEST_F(Online, OutboxLosesNothingAndSendsNothingTwice) {
    ASSERT_TRUE(server.Start(root)) << Slurp(root / "server.log");
    {
        SwallowingRelay relay(server.port);
        WriteGameScript("one.txt", "KILLED", 120000);
        pid_t pid = fork();
        if (pid == 0) {
            std::string cmd = "cd '" + root.string() + "' && exec '" + std::string(WORMLOB_BINARY_DIR) +
                              "/wormlob2' --headless --input one.txt --scores-server http://127.0.0.1:" +
                              std::to_string(relay.port) + " >out.txt 2>&1";
            execl("/bin/sh", "sh", "-c", cmd.c_str(), (char*)nullptr);
            _exit(127);
        }
        bool taken = WaitFor([&] { return Get(server.Url() + "/api/v1/games/1").first == 200; }, 120);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ASSERT_TRUE(taken) << Slurp(root / "out.txt") << Log();
    }
    ASSERT_EQ(Outbox().size(), 1u);

    server.Stop();
    WriteGameScript("two.txt", "OFFLINE", 31000);
    ASSERT_EQ(Run("--headless --input two.txt --scores-server " + server.Url(), 120), 0) << Slurp(root / "out.txt");
    EXPECT_EQ(Outbox().size(), 2u);
    EXPECT_NE(Log().find("game(s) kept"), std::string::npos) << Log();

    ASSERT_TRUE(server.Start(root)) << Slurp(root / "server.log");
    ASSERT_EQ(Run("--headless --frames 900", 120), 0) << Slurp(root / "out.txt");
    EXPECT_TRUE(Outbox().empty()) << Log();
    EXPECT_NE(Log().find("(game 1)"), std::string::npos) << Log();
    EXPECT_NE(Log().find("(game 2)"), std::string::npos) << Log();
    EXPECT_EQ(Get(server.Url() + "/api/v1/games/3").first, 404);
    Json first = server.Ask("/api/v1/games/1"), second = server.Ask("/api/v1/games/2");
    EXPECT_EQ(first["name"], "KILLED");
    EXPECT_EQ(first["status"], "ranked") << first.dump();
    // Not ranked: the name is only what its journal claims.
    EXPECT_TRUE(second["name"].is_null()) << second.dump();
    EXPECT_EQ(second["claimed"]["name"], "OFFLINE") << second.dump();
    // Played while the server was down, so without a session token.
    EXPECT_EQ(second["status"], "rejected") << second.dump();
    EXPECT_EQ(server.Ask("/api/v1/scores?mode=medium")["scores"].size(), 1u);
}

// A game started from its token's seed is ranked; its journal sent again
// under a fresh token is not (its seed is not the new token's, and it is the
// same game).
TEST_F(Online, SeededGameRanksAndACopyUnderAFreshTokenDoesNot) {
    ASSERT_TRUE(server.Start(root)) << Slurp(root / "server.log");
    WriteGameScript("in.txt", "HONEST", 50000);
    ASSERT_EQ(Run("--headless --input in.txt --scores-server " + server.Url(), 300), 0)
        << Slurp(root / "out.txt");
    ASSERT_TRUE(WaitFor([&] { return server.Ask("/api/v1/games/1")["status"] == "ranked"; }, 120))
        << server.Ask("/api/v1/games/1").dump() << Log();
    std::vector<fs::path> games;
    for (const auto& e : fs::directory_iterator(files / "418" / "games")) games.push_back(e.path());
    ASSERT_EQ(games.size(), 1u);
    GameJournal j;
    std::string error;
    ASSERT_TRUE(DecodeGameJournal(Slurp(games[0]), j, error)) << error;
    bool seeded = false;
    for (const auto& [name, v] : j.numbers) seeded = seeded || name == "seed";
    EXPECT_TRUE(seeded);

    auto [status, answer] = Post(server.Url() + "/api/v1/sessions", "{}");
    ASSERT_EQ(status, 200) << answer;
    // The same game under a fresh token (a rename would also be caught by
    // the name typed at the prompt, which is in the journal's moves).
    j.header.token = Json::parse(answer)["token"].get<std::string>();
    // Sent after at least the game's length, as the clock rule wants.
    std::this_thread::sleep_for(std::chrono::milliseconds(j.header.ms + 1000));
    auto [sent, body] = Post(server.Url() + "/api/v1/games", EncodeGameJournal(j));
    ASSERT_TRUE(sent == 200 || sent == 202) << body;
    std::string id = Json::parse(body)["id"].dump();
    Json copy;
    ASSERT_TRUE(WaitFor([&] {
        copy = server.Ask("/api/v1/games/" + id);
        return copy["status"] == "rejected" || copy["status"] == "ranked";
    }, 120));
    EXPECT_EQ(copy["status"], "rejected") << copy.dump();
    std::string reason = copy["reason"].is_string() ? copy["reason"].get<std::string>() : "";
    EXPECT_TRUE(reason.find("did not start from the seed its session token gave") != std::string::npos ||
                reason.find("the same game as game 1") != std::string::npos)
        << reason;
    Json table = server.Ask("/api/v1/scores?mode=medium");
    ASSERT_EQ(table["scores"].size(), 1u) << table.dump();
    EXPECT_EQ(table["scores"][0]["name"], "HONEST");
}

// --daily plays today's challenge: ranked in the daily table of its mode,
// not in the ordinary one, and the player is told so.
TEST_F(Online, DailyGameRanksInTheDailyTableOnly) {
    ASSERT_TRUE(server.Start(root)) << Slurp(root / "server.log");
    WriteGameScript("in.txt", "DAILY", 50000);
    ASSERT_EQ(Run("--headless --input in.txt --daily --mode medium --scores-server " + server.Url(), 300), 0)
        << Slurp(root / "out.txt");
    Json game;
    ASSERT_TRUE(WaitFor([&] {
        game = server.Ask("/api/v1/games/1");
        return game["status"] == "ranked" || game["status"] == "rejected";
    }, 120)) << game.dump();
    EXPECT_EQ(game["status"], "ranked") << game.dump();
    EXPECT_EQ(game["challenge"], "daily") << game.dump();
    EXPECT_EQ(game["rank"], 1);
    Json daily = server.Ask("/api/v1/scores?challenge=daily&mode=medium");
    ASSERT_EQ(daily["scores"].size(), 1u) << daily.dump();
    EXPECT_EQ(daily["scores"][0]["name"], "DAILY");
    EXPECT_TRUE(server.Ask("/api/v1/scores?mode=medium")["scores"].empty());
    EXPECT_NE(Log().find("ranked #1 in today's daily challenge, medium"), std::string::npos) << Log();
}

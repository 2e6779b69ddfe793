// The score client's outbox against a stand-in score server on 127.0.0.1
// (cpp-httplib, as the real server uses) whose answers the test chooses. A
// game the server refuses with a 4xx it does not call permanent stays in the
// outbox however often it is tried, its reason told once; the games behind
// it still go. A refusal the server marks permanent drops the game.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/program.h"
#include "tests/support/skip.h"

#ifdef WORMLOB_HAVE_HTTPLIB
#include <httplib.h>
#endif

namespace {
size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) n++;
    return n;
}

#ifdef WORMLOB_HAVE_HTTPLIB
// Answers POST /api/v1/games by the journal sent (the test's table) and
// says "pending" to every question about a game; counts what was sent.
struct StandIn {
    httplib::Server http;
    std::thread thread;
    int port = 0;
    std::mutex lock;
    std::map<std::string, std::pair<int, std::string>> answers;  // body -> status, JSON
    std::map<std::string, int> posts;                            // body -> times sent
    StandIn() {
        http.Post("/api/v1/games", [this](const httplib::Request& q, httplib::Response& r) {
            std::lock_guard<std::mutex> lk(lock);
            posts[q.body]++;
            auto it = answers.find(q.body);
            if (it == answers.end()) {
                r.status = 500;
                return;
            }
            r.status = it->second.first;
            r.set_content(it->second.second, "application/json");
        });
        http.Get(R"(/api/v1/games/(\d+))", [](const httplib::Request& q, httplib::Response& r) {
            r.set_content("{\"id\": " + q.matches[1].str() + ", \"status\": \"pending\"}", "application/json");
        });
        port = http.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { http.listen_after_bind(); });
        while (!http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~StandIn() {
        http.stop();
        thread.join();
    }
    void Answer(const std::string& body, int status, const std::string& json) {
        std::lock_guard<std::mutex> lk(lock);
        answers[body] = {status, json};
    }
    int Posts(const std::string& body) {
        std::lock_guard<std::mutex> lk(lock);
        return posts[body];
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port); }
};
#endif

class OnlineOutbox : public Program {
protected:
    fs::path Outbox() { return files / "418" / "outbox"; }
    void Put(const std::string& name, const std::string& bytes) {
        fs::create_directories(Outbox());
        std::ofstream(Outbox() / name, std::ios::binary) << bytes;
    }
    std::vector<std::string> Left() {
        std::vector<std::string> names;
        if (fs::exists(Outbox()))
            for (const auto& e : fs::directory_iterator(Outbox())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};
}  // namespace

TEST_F(OnlineOutbox, ARefusalForNowKeepsTheGameAndAPermanentOneDropsIt) {
#ifndef WORMLOB_HAVE_HTTPLIB
    WORMLOB_SKIP("needs cpp-httplib for the stand-in score server");
#else
    const std::string held = "journal the server refuses", taken = "journal the server takes";
    const std::string reason = "the server is not taking games this week";
    StandIn server;
    server.Answer(held, 400, "{\"error\": \"" + reason + "\"}");
    server.Answer(taken, 202, "{\"id\": 7, \"status\": \"pending\"}");
    // Oldest first: the refused game comes before the one the server takes.
    Put("20260101-000000-a.w2g", held);
    Put("20260101-000000-b.w2g", taken);

    // About 30 s on the real clock: the first round at the start, the next
    // after the 15 s pause.
    ASSERT_EQ(Run("--headless --frames 1800 --scores-server " + server.Url(), 180), 0) << Slurp(root / "out.txt");
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_GE(server.Posts(held), 2) << log;
    EXPECT_EQ(server.Posts(taken), 1) << log;
    // The refused game is kept whole; the one behind it went.
    EXPECT_EQ(Left(), std::vector<std::string>{"20260101-000000-a.w2g"}) << log;
    EXPECT_EQ(Slurp(Outbox() / "20260101-000000-a.w2g"), held);
    EXPECT_NE(log.find("sent 20260101-000000-b.w2g (game 7)"), std::string::npos) << log;
    // The reason once, not at every try.
    EXPECT_EQ(Count(log, reason), 1u) << log;
    EXPECT_NE(log.find("kept 20260101-000000-a.w2g, refused for now (status 400): " + reason), std::string::npos)
        << log;

    // The same game, now refused for good: it leaves the outbox.
    server.Answer(held, 400, "{\"error\": \"" + reason + "\", \"permanent\": true}");
    ASSERT_EQ(Run("--headless --frames 600", 120), 0) << Slurp(root / "out.txt");
    log = Slurp(files / "Debug.txt");
    EXPECT_TRUE(Left().empty()) << log;
    EXPECT_NE(log.find("refused 20260101-000000-a.w2g: " + reason), std::string::npos) << log;
#endif
}

// A refusal's reason comes from the server: whatever it holds stays on one
// line of Debug.txt.
TEST_F(OnlineOutbox, TheServersReasonCannotWriteLinesOfItsOwn) {
#ifndef WORMLOB_HAVE_HTTPLIB
    WORMLOB_SKIP("needs cpp-httplib for the stand-in score server");
#else
    StandIn server;
    server.Answer("game", 400, R"({"error": "no\r\n\tScore server: ranked #1 in hard\r\nreally"})");
    Put("20260101-000000-a.w2g", "game");
    ASSERT_EQ(Run("--headless --frames 400 --scores-server " + server.Url(), 120), 0) << Slurp(root / "out.txt");
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_EQ(server.Posts("game"), 1);
    EXPECT_EQ(Left().size(), 1u);
    for (const std::string& line : Lines(log)) EXPECT_NE(line.rfind("\tScore server: ranked", 0), 0u) << line;
    EXPECT_NE(log.find("no   Score server: ranked #1 in hard  really"), std::string::npos) << log;
#endif
}

// Games started from a score server's seed, through the real program: the
// title keeps a session token ready, the game starts its generator from the
// token's seed and notes it in its journal, and the replay reports that seed
// only when the journal's starting state really is the one that seed gives.
// Its fingerprint names the game played whatever name or token it is sent
// under, and its length comes from its frames, so a header that pads or
// shrinks it is refused. A minimal stand-in answers for the score server
// here (sessions and daily tokens as the server gives them); the exchanges
// with the real server are in services/online_e2e_test.cpp.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <thread>

#include "media/gamejournal.h"
#include "media/system.h"
#include "shell/gamejournal.h"
#include "tests/support/program.h"

namespace {
// Answers POST /api/v1/sessions as the score server does: each token with a
// seed of its own, or for {"challenge":"daily",...} the day's token, seed,
// date and mode. Everything else is 404 (the games stay in the outbox).
struct StandInServer {
    httplib::Server http;
    std::thread thread;
    int port = 0;
    std::mutex lock;
    std::vector<std::string> bodies;  // the session requests, in order
    std::atomic<int> tokens{0};
    bool dailyAnswers = true;
    static constexpr long long kFirstSeed = 123456789, kDailySeed = 987654321;
    StandInServer() {
        http.Post("/api/v1/sessions", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lk(lock);
                bodies.push_back(req.body);
            }
            std::smatch m;
            static const std::regex daily(R"re(^\{"challenge":"daily","mode":"(easy|medium|hard)"\}$)re");
            if (std::regex_match(req.body, m, daily)) {
                if (!dailyAnswers) {
                    res.status = 503;
                    res.set_content(R"({"error":"no daily challenge today"})", "application/json");
                    return;
                }
                res.set_content(R"({"token":"daily-1","seed":)" + std::to_string(kDailySeed) +
                                    R"(,"challenge":"daily","date":"2026-12-08","mode":")" + m[1].str() + "\"}",
                                "application/json");
                return;
            }
            int n = ++tokens;
            res.set_content("{\"token\":\"tok-" + std::to_string(n) + "\",\"seed\":" +
                                std::to_string(kFirstSeed + n - 1) + "}",
                            "application/json");
        });
        port = http.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { http.listen_after_bind(); });
        while (!http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~StandInServer() {
        http.stop();
        thread.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port); }
    std::vector<std::string> Bodies() {
        std::lock_guard<std::mutex> lk(lock);
        return bodies;
    }
};

int64_t Number(const GameJournal& j, const std::string& name, int64_t missing = -1) {
    for (const auto& [n, v] : j.numbers)
        if (n == name) return v;
    return missing;
}

void SetNumber(GameJournal& j, const std::string& name, int64_t value) {
    for (auto& [n, v] : j.numbers)
        if (n == name) v = value;
}

// The state SeedRandom leaves the generator in.
int64_t SeededState(long long seed) {
    int64_t was = RandomState();
    SeedRandom((int)seed);
    int64_t s = RandomState();
    SeedRandom((int)was);
    return s;
}

// Moves the journal's last clock reading later by ms, the others as they were.
void LastReadingLater(GameJournal& g, int ms) {
    std::vector<JournalClockRun>& c = g.streams.clock;
    JournalClockRun last = c.back();
    if (last.count > 1) {
        c.back().count--;
        c.push_back({last.delta + ms, 1});
    } else {
        c.back().delta += ms;
    }
}

std::string Field(const std::string& out, const std::string& key) {
    std::smatch m;
    std::regex re(" " + key + "=([^ \r\n]*)");
    return std::regex_search(out, m, re) ? m[1].str() : "";
}

class SeedJournal : public Program {
protected:
    // Medium games from a script on the virtual clock: the start button
    // clicked now and then (between games it starts the next, during one it
    // launches a ball), the bat steered a little, Enter at the name prompt.
    void WriteScript(int games) {
        std::ofstream script(root / "in.txt");
        script << "100 move 400 300\n";
        int end = games > 1 ? 300000 : 150000;
        for (int t = 9000; t < end; t += 4000)
            script << t << " move 400 300\n" << t + 50 << " mouse down 1\n" << t + 100 << " mouse up 1\n";
        for (int t = 9300; t < end; t += 700)
            if (t % 4000 > 400) script << t << " move " << 200 + (t / 7) % 400 << " 500\n";
        for (int t = 20000; t < end; t += 3000) script << t << " key down 13\n" << t + 50 << " key up 13\n";
    }
    std::vector<fs::path> Journals() {
        std::vector<fs::path> games;
        if (fs::exists(files / "418" / "games"))
            for (const auto& e : fs::directory_iterator(files / "418" / "games")) games.push_back(e.path());
        std::sort(games.begin(), games.end());
        return games;
    }
    GameJournal Read(const fs::path& p) {
        GameJournal j;
        std::string error;
        EXPECT_TRUE(DecodeGameJournal(Slurp(p), j, error)) << p << ": " << error;
        return j;
    }
    fs::path Write(const GameJournal& j, const std::string& name) {
        fs::path p = root / name;
        std::ofstream(p, std::ios::binary) << EncodeGameJournal(j);
        return p;
    }
    int Verify(const fs::path& journal) { return VerifyGameJournal(journal, root / "verify", root / "verify.txt"); }
    std::string Output() { return Slurp(root / "verify.txt"); }
    std::string Log() { return Slurp(files / "Debug.txt"); }
};
}  // namespace

// Two games in a row: each starts from the token kept ready for it, and a
// token starts one game only (the second game has the second token and its
// seed). Each replays with its seed; edits to the seed entry or the
// generator lose it or make the game go otherwise; a renamed copy with
// another token is the same game by its fingerprint; a header that pads or
// shrinks the game's length is refused.
TEST_F(SeedJournal, TokenSeedIsUsedOnceAndReplaysWithItsSeed) {
    StandInServer server;
    WriteScript(2);
    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 2 --scores-server " + server.Url()), 0)
        << Slurp(root / "out.txt");
    std::vector<fs::path> games = Journals();
    ASSERT_EQ(games.size(), 2u) << Log();
    // Two games filed in one second sort by their scores: tell them apart
    // by their tokens.
    if (Read(games[0]).header.token != "tok-1") std::swap(games[0], games[1]);
    GameJournal first = Read(games[0]), second = Read(games[1]);
    EXPECT_EQ(first.header.token, "tok-1");
    EXPECT_EQ(second.header.token, "tok-2");
    const long long seed1 = StandInServer::kFirstSeed, seed2 = StandInServer::kFirstSeed + 1;
    EXPECT_EQ(Number(first, "seed"), seed1);
    EXPECT_EQ(Number(second, "seed"), seed2);
    // The generator was started from the seed at the click, before the
    // journal noted it.
    EXPECT_EQ(Number(first, "random"), SeededState(seed1));
    EXPECT_EQ(Number(second, "random"), SeededState(seed2));
    for (const std::string& body : server.Bodies()) EXPECT_EQ(body, "{}");
    EXPECT_EQ(Log().find("Playing offline"), std::string::npos);

    ASSERT_EQ(Verify(games[0]), 0) << Output();
    std::string verified = Output();
    EXPECT_EQ(Field(verified, "seed"), std::to_string(seed1)) << verified;
    std::string fingerprint = Field(verified, "fingerprint");
    EXPECT_TRUE(std::regex_match(fingerprint, std::regex("[0-9a-f]{16}"))) << verified;
    // The two fields come last, in this order.
    EXPECT_TRUE(std::regex_search(verified, std::regex(" name=[0-9a-f-]+ seed=[0-9-]+ fingerprint=[0-9a-f]{16}\n")))
        << verified;
    EXPECT_EQ(Field(verified, "ms"), std::to_string(first.header.ms));
    ASSERT_EQ(Verify(games[1]), 0) << Output();
    EXPECT_EQ(Field(Output(), "seed"), std::to_string(seed2)) << Output();
    EXPECT_NE(Field(Output(), "fingerprint"), fingerprint);

    struct Edit {
        const char* what;
        int status;
        const char* seed;    // the seed field when verified
        const char* reason;  // in the output when refused
        void (*edit)(GameJournal&);
    } edits[] = {
        {"the seed entry names another seed", 0, "-", "",
         [](GameJournal& g) { SetNumber(g, "seed", StandInServer::kFirstSeed + 7); }},
        {"the seed entry removed (as in a journal of an offline game)", 0, "-", "",
         [](GameJournal& g) {
             std::erase_if(g.numbers, [](const auto& n) { return n.first == "seed"; });
         }},
        {"the seed entry out of range", 0, "-", "", [](GameJournal& g) { SetNumber(g, "seed", 1ll << 40); }},
        {"the seed entry twice", 0, "-", "",
         [](GameJournal& g) { g.numbers.push_back({"seed", StandInServer::kFirstSeed}); }},
        {"seed and generator both of another seed", 3, "", "went differently",
         [](GameJournal& g) {
             SetNumber(g, "seed", 42);
             SetNumber(g, "random", SeededState(42));
         }},
        {"the generator moved on from the seed's state", 3, "", "went differently",
         [](GameJournal& g) { SetNumber(g, "random", SeededState(StandInServer::kFirstSeed) + 1); }},
        {"a header padding the game by a second", 3, "", "another record",
         [](GameJournal& g) { g.header.ms += 1000; }},
        {"a header shrinking the game by a second", 3, "", "another record",
         [](GameJournal& g) { g.header.ms -= 1000; }},
        {"a header off by one millisecond", 3, "", "another record", [](GameJournal& g) { g.header.ms += 1; }},
        // The name prompt reads the clock once more after the game's last
        // frame; nothing checks that reading, so it cannot lengthen a game.
        {"the reading after the last frame a minute later, the header padded with it", 3, "", "another record",
         [](GameJournal& g) {
             LastReadingLater(g, 60000);
             g.header.ms += 60000;
         }},
        {"the reading after the last frame a minute later, the header as it was", 0, "123456789", "",
         [](GameJournal& g) { LastReadingLater(g, 60000); }},
    };
    for (const Edit& e : edits) {
        GameJournal edited = first;
        e.edit(edited);
        EXPECT_EQ(Verify(Write(edited, "edited.w2g")), e.status) << e.what << ": " << Output();
        if (e.status == 0) {
            EXPECT_EQ(Field(Output(), "seed"), e.seed) << e.what << ": " << Output();
            EXPECT_EQ(Field(Output(), "ms"), std::to_string(first.header.ms)) << e.what;
            // The same game, whatever its starting state says about seeds.
            EXPECT_EQ(Field(Output(), "fingerprint"), fingerprint) << e.what;
        } else {
            EXPECT_NE(Output().find(e.reason), std::string::npos) << e.what << ": " << Output();
            EXPECT_EQ(Output().find("verified"), std::string::npos) << e.what;
        }
    }

    // The theft: the same game under another name (the name prompt's
    // starting text and the header's) and another token. It verifies, under
    // the new name, and is known as the same game.
    GameJournal stolen = first;
    stolen.header.token = "someone-elses-token";
    stolen.header.name = "Thief";
    for (auto& [n, v] : stolen.texts)
        if (n == "player") v = "Thief";
    ASSERT_EQ(Verify(Write(stolen, "stolen.w2g")), 0) << Output();
    EXPECT_EQ(Field(Output(), "name"), NameHex("Thief")) << Output();
    EXPECT_EQ(Field(Output(), "fingerprint"), fingerprint) << Output();
}

// Without a server to give a token, the game is played offline, says so,
// and its journal has no seed entry: it replays and verifies with "seed=-",
// as journals filed before games took seeds do.
TEST_F(SeedJournal, WithoutATokenTheGameIsOfflineAndVerifiesWithoutASeed) {
    int port;
    {
        StandInServer gone;  // a port that was just closed: nobody answers
        port = gone.port;
    }
    WriteScript(1);
    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 1 --scores-server http://127.0.0.1:" +
                  std::to_string(port)),
              0)
        << Slurp(root / "out.txt");
    std::vector<fs::path> games = Journals();
    ASSERT_EQ(games.size(), 1u) << Log();
    GameJournal j = Read(games[0]);
    EXPECT_EQ(j.header.token, "");
    EXPECT_EQ(Number(j, "seed"), -1);
    EXPECT_NE(Log().find("no session token ready; the game is played offline"), std::string::npos) << Log();
    ASSERT_EQ(Verify(games[0]), 0) << Output();
    EXPECT_EQ(Field(Output(), "seed"), "-") << Output();
    EXPECT_EQ(Field(Output(), "ms"), std::to_string(j.header.ms));
}

// --seed and the demo player keep their own seeds, take no token and are
// never sent, with a score server set.
TEST_F(SeedJournal, SeedOptionAndDemoTakeNoToken) {
    StandInServer server;
    WriteScript(1);
    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 1 --seed 11 --scores-server " + server.Url()), 0)
        << Slurp(root / "out.txt");
    ASSERT_EQ(Run("--headless --virtual-clock --autoplay --mode easy --seed 5 --games 1"), 0)
        << Slurp(root / "out.txt");
    std::vector<fs::path> games = Journals();
    ASSERT_EQ(games.size(), 2u);
    for (const fs::path& g : games) {
        GameJournal j = Read(g);
        EXPECT_EQ(j.header.token, "") << g;
        EXPECT_EQ(Number(j, "seed"), -1) << g;
    }
    // Each run kept one token ready (Online.ini keeps sending on), and
    // neither game spent it.
    EXPECT_LE(server.tokens.load(), 2);
    EXPECT_FALSE(fs::exists(files / "418" / "outbox") && !fs::is_empty(files / "418" / "outbox"));
}

// --daily plays today's challenge in the mode given, from its seed, as soon
// as its token is there; the title says so. When the server offers none,
// no daily game starts and the player is told why.
TEST_F(SeedJournal, DailyOptionPlaysTheDaysSeedInItsMode) {
    StandInServer server;
    WriteScript(1);
    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 1 --daily --mode hard --scores-server " +
                  server.Url()),
              0)
        << Slurp(root / "out.txt");
    std::vector<fs::path> games = Journals();
    ASSERT_EQ(games.size(), 1u) << Log();
    GameJournal j = Read(games[0]);
    EXPECT_EQ(j.header.mode, 2);
    EXPECT_EQ(j.header.token, "daily-1");
    EXPECT_EQ(Number(j, "seed"), StandInServer::kDailySeed);
    std::vector<std::string> bodies = server.Bodies();
    EXPECT_NE(std::find(bodies.begin(), bodies.end(), R"({"challenge":"daily","mode":"hard"})"), bodies.end());
    EXPECT_NE(Log().find("daily challenge 2026-12-08 in hard"), std::string::npos) << Log();
    ASSERT_EQ(Verify(games[0]), 0) << Output();
    EXPECT_EQ(Field(Output(), "seed"), std::to_string(StandInServer::kDailySeed)) << Output();
    EXPECT_NE(Output().find("verified mode=hard "), std::string::npos) << Output();

    // A server without a daily challenge: nothing is played by itself.
    fs::remove_all(files / "418" / "games");
    server.dailyAnswers = false;
    ASSERT_EQ(Run("--headless --virtual-clock --frames 900 --daily --mode easy --scores-server " + server.Url()), 0)
        << Slurp(root / "out.txt");
    EXPECT_TRUE(Journals().empty());
    EXPECT_NE(Log().find("Daily Challenge unavailable: the score server refused it"), std::string::npos) << Log();

    // Without a server at all it says so too.
    ASSERT_EQ(Run("--headless --virtual-clock --frames 900 --daily --scores-server off"), 0) << Slurp(root / "out.txt");
    EXPECT_NE(Log().find("Daily Challenge unavailable: games are not being sent"), std::string::npos) << Log();
    EXPECT_EQ(Run("--headless --daily --seed 3"), 2);
}

// The title's Daily Challenge entry, under the modes: Right then the start
// key, or a click on it, plays today's challenge in the mode chosen (Up
// picked Easy first; the mouse run keeps Medium).
TEST_F(SeedJournal, TitleEntryStartsTheDailyChallengeByKeysAndMouse) {
    StandInServer server;
    struct Way {
        const char* what;
        const char* input;
        const char* body;
        int mode;
    } ways[] = {
        {"keys", "11000 key down 38\n11100 key up 38\n12000 key down 39\n12100 key up 39\n"
                 "12500 key down 90\n12600 key up 90\n",
         R"({"challenge":"daily","mode":"easy"})", 0},
        // (380, 537) in the 800 x 600 window is the entry's text in the
        // 1280 x 960 drawing area.
        {"mouse", "11000 move 380 537\n12000 mouse down 1\n12100 mouse up 1\n",
         R"({"challenge":"daily","mode":"medium"})", 1},
    };
    for (const Way& w : ways) {
        fs::remove_all(files / "418" / "games");
        {
            std::ofstream script(root / "in.txt");
            script << "100 move 400 300\n" << w.input;
            for (int t = 20000; t < 150000; t += 3000) script << t << " key down 13\n" << t + 50 << " key up 13\n";
        }
        ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 1 --scores-server " + server.Url()), 0)
            << w.what << ": " << Slurp(root / "out.txt");
        std::vector<fs::path> games = Journals();
        ASSERT_EQ(games.size(), 1u) << w.what << ": " << Log();
        GameJournal j = Read(games[0]);
        EXPECT_EQ(j.header.token, "daily-1") << w.what;
        EXPECT_EQ(j.header.mode, w.mode) << w.what;
        EXPECT_EQ(Number(j, "seed"), StandInServer::kDailySeed) << w.what;
        std::vector<std::string> bodies = server.Bodies();
        EXPECT_NE(std::find(bodies.begin(), bodies.end(), w.body), bodies.end()) << w.what;
    }
}

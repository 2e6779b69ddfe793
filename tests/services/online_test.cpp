// The score client's own parts: its settings file, the outbox (also when
// killed while it copies), reading the server's answers, the messages, and
// the watch of a replay. The exchanges with a real server are in
// online_e2e_test.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/journal.h"
#include "media/system.h"
#include "services/online.h"
#include "shell/watch.h"

namespace fs = std::filesystem;

namespace {
std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void Spit(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

struct TempDir {
    fs::path dir;
    explicit TempDir(const std::string& tag) {
        dir = fs::temp_directory_path() / ("wl2_online_" + tag + "_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~TempDir() { fs::remove_all(dir); }
};
}  // namespace

TEST(OnlineSettings, AddressesAreCheckedAndTheFileRoundTrips) {
    struct Case {
        const char* text;
        const char* address;
    } cases[] = {
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"  HTTPS://scores.example/base/  ", "https://scores.example/base"},
        {"http://host", "http://host"},
        {"ftp://host", ""},
        {"http://", ""},
        {"http:///path", ""},
        {"http://host/?x=1", ""},
        {"http://ho st", ""},
        {"host:8080", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ServerAddress(c.text), c.address) << c.text;

    TempDir t("settings");
    std::string file = (t.dir / "Online.ini").string();
    OnlineSettings missing = ReadOnlineSettings(file);
    EXPECT_FALSE(missing.send);
    EXPECT_EQ(missing.server, "");
    OnlineSettings on{true, "http://127.0.0.1:9"};
    ASSERT_TRUE(WriteOnlineSettings(file, on));
    OnlineSettings back = ReadOnlineSettings(file);
    EXPECT_TRUE(back.send);
    EXPECT_EQ(back.server, on.server);
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    // Edited by hand: other spellings, comments, junk and a bad address.
    Spit(file, "; mine\r\n  SEND = 1 \r\nnonsense\r\nServer=gopher://x\r\n");
    back = ReadOnlineSettings(file);
    EXPECT_TRUE(back.send);
    EXPECT_EQ(back.server, "");
    Spit(file, "Send=yes\nServer=http://a:1/\n");
    back = ReadOnlineSettings(file);
    EXPECT_FALSE(back.send);
    EXPECT_EQ(back.server, "http://a:1");
}

TEST(Outbox, KeepsExactCopiesOldestFirstAndDropsHalfWrittenOnes) {
    TempDir t("outbox");
    fs::path games = t.dir / "games", outbox = t.dir / "outbox";
    fs::create_directories(games);
    std::string body = std::string("wormlob2 game 1\nname 414e4e\n\n") + std::string("\0\x01\xff\r\n", 5);
    const char* names[] = {"20250102-120000-hard-50.w2g", "20250101-090000-easy-7.w2g"};
    std::string error;
    for (const char* n : names) {
        Spit(games / n, body + n);
        ASSERT_TRUE(PutInOutbox(outbox.string(), (games / n).string(), error)) << error;
    }
    Spit(outbox / "20250103-000000-easy-1.w2g.tmp", "half");
    std::vector<std::string> entries = OutboxEntries(outbox.string());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(fs::path(entries[0]).filename(), names[1]);
    EXPECT_EQ(fs::path(entries[1]).filename(), names[0]);
    EXPECT_EQ(Slurp(entries[0]), body + names[1]);
    EXPECT_FALSE(fs::exists(outbox / "20250103-000000-easy-1.w2g.tmp"));
    // A journal that is not there is not kept, and says so.
    EXPECT_FALSE(PutInOutbox(outbox.string(), (games / "gone.w2g").string(), error));
    EXPECT_NE(error.find("gone.w2g"), std::string::npos);
    EXPECT_EQ(OutboxEntries(outbox.string()).size(), 2u);
}

TEST(Outbox, KilledWhileCopyingLeavesOnlyWholeGames) {
    TempDir t("outboxkill");
    fs::path source = t.dir / "20250101-000000-medium-1.w2g", outbox = t.dir / "outbox";
    std::string body(300000, 'x');
    for (size_t i = 0; i < body.size(); i++) body[i] = (char)(i * 7919 % 251);
    Spit(source, body);
    for (int round = 0; round < 4; round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string error;
            for (;;) PutInOutbox(outbox.string(), source.string(), error);
        }
        usleep(20000 + 15000 * round);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        for (const std::string& e : OutboxEntries(outbox.string())) EXPECT_EQ(Slurp(e), body) << e;
        for (const auto& e : fs::directory_iterator(outbox)) EXPECT_NE(e.path().extension(), ".tmp");
    }
    // The copies did happen (the same name each time: one game).
    EXPECT_EQ(OutboxEntries(outbox.string()).size(), 1u);
}

// A game is all the player has of it: only the server's own word that it
// will never take the game ("permanent") drops it; any other refusal keeps
// it (held, with the server's reason for the player).
TEST(OnlineAnswers, OnlyTheServersOwnRefusalDropsAGame) {
    struct Case {
        long status;
        const char* body;
        OnlineVerdictKind kind;
        const char* what;  // the id or the reason
    } submits[] = {
        {202, R"({"id": 17, "status": "pending"})", VERDICT_ACCEPTED, "17"},
        {200, R"({"id": "a-9", "status": "ranked"})", VERDICT_ACCEPTED, "a-9"},  // sent before
        {202, R"({"id": "../x"})", VERDICT_RETRY, ""},
        {202, "accepted", VERDICT_RETRY, ""},
        {400, R"({"error": "the journal is truncated", "permanent": true})", VERDICT_REFUSED,
         "the journal is truncated"},
        {413, R"({"error": "too large", "permanent": true})", VERDICT_REFUSED, "too large"},
        {400, R"({"error": "the name is too long", "permanent": true})", VERDICT_REFUSED, "the name is too long"},
        // Without the server's word the game stays.
        {400, R"({"error": "the journal is truncated"})", VERDICT_HELD, "the journal is truncated"},
        {413, R"({"error": "too large"})", VERDICT_HELD, "too large"},
        {403, R"({"error": "not taking games now", "permanent": false})", VERDICT_HELD, "not taking games now"},
        {400, R"({"error": "odd", "permanent": "true"})", VERDICT_HELD, "odd"},
        {400, R"({"error": "odd", "permanent": 1})", VERDICT_HELD, "odd"},
        {404, R"({"error": "no such page", "permanent": null})", VERDICT_HELD, "no such page"},
        // Not a refusal of the game at all, whatever it says.
        {429, R"({"error": "too many requests", "permanent": true})", VERDICT_RETRY, ""},
        {408, R"({"error": "too slow", "permanent": true})", VERDICT_RETRY, ""},
        {503, R"({"error": "busy", "permanent": true})", VERDICT_RETRY, ""},
        {400, R"({"permanent": true})", VERDICT_RETRY, ""},
        {400, R"(["error", "permanent"])", VERDICT_RETRY, ""},
        {429, R"({"error": "too many requests"})", VERDICT_RETRY, ""},
        {404, "<html>not found</html>", VERDICT_RETRY, ""},  // not a score server
        {503, R"({"error": "busy"})", VERDICT_RETRY, ""},
        {0, "", VERDICT_RETRY, ""},
    };
    for (const Case& c : submits) {
        OnlineVerdict v = ReadSubmitAnswer(c.status, c.body);
        EXPECT_EQ(v.kind, c.kind) << c.status << " " << c.body;
        bool refusal = c.kind == VERDICT_REFUSED || c.kind == VERDICT_HELD;
        EXPECT_EQ(refusal ? v.reason : v.id, c.kind == VERDICT_RETRY ? v.id : c.what) << c.body;
    }
    Case games[] = {
        {200, R"({"id":1,"status":"ranked","rank":3,"mode":"hard","score":10})", VERDICT_RANKED, ""},
        {200, R"({"id":1,"status":"pending","rank":null})", VERDICT_PENDING, ""},
        {200, R"({"id":1,"status":"rejected","reason":"practice keys used"})", VERDICT_REFUSED, "practice keys used"},
        {200, R"({"id":1,"status":"ranked","rank":0,"mode":"hard"})", VERDICT_RETRY, ""},
        {200, R"({"id":1,"status":"ranked","rank":2,"mode":"insane"})", VERDICT_RETRY, ""},
        {404, R"({"error":"no game has that id"})", VERDICT_REFUSED, "no game has that id"},
        {500, "", VERDICT_RETRY, ""},
    };
    for (const Case& c : games) {
        OnlineVerdict v = ReadGameAnswer(c.status, c.body);
        EXPECT_EQ(v.kind, c.kind) << c.body;
        if (c.kind == VERDICT_REFUSED) {
            EXPECT_EQ(v.reason, c.what);
        }
    }
    OnlineVerdict ranked = ReadGameAnswer(200, games[0].body);
    EXPECT_EQ(ranked.rank, 3);
    EXPECT_EQ(ranked.mode, 2);
    EXPECT_EQ(ReadTokenAnswer(200, R"({"token":"Ab3-_.x"})"), "Ab3-_.x");
    EXPECT_EQ(ReadTokenAnswer(200, R"({"token":"two words"})"), "");
    EXPECT_EQ(ReadTokenAnswer(200, R"({"token":""})"), "");
    EXPECT_EQ(ReadTokenAnswer(500, R"({"token":"x"})"), "");
}

TEST(OnlineNewsText, PageLinesBecomeShortMessages) {
    struct Case {
        const char* line;
        const char* message;  // "" when the line is not news
    } cases[] = {
        {"sent", "Score Sent"},
        {"ranked 3 medium", "Ranked #3 in Medium"},
        {"ranked 1 easy", "Ranked #1 in Easy"},
        {"kept 1", "Score Kept to Send Later"},
        {"kept 4", "4 Scores Kept to Send Later"},
        {"refused the replay filed another record.", "Score Refused: the replay filed another record"},
        {"refused this game was made by another version of the program with other rules",
         "Score Refused: this game was made by another version of the..."},
        {"refused ", "Score Refused: no reason given"},
        {"held the server is not taking games now.", "Score Kept: the server is not taking games now"},
        {"held ", "Score Kept: no reason given"},
        {"ranked 0 easy", ""},
        {"ranked 2 insane", ""},
        {"ranked x hard", ""},
        {"kept 0", ""},
        {"sent now", ""},
        {"cheered", ""},
    };
    for (const Case& c : cases) {
        OnlineNews n;
        bool ok = ParseOnlineNews(c.line, n);
        EXPECT_EQ(ok, c.message[0] != 0) << c.line;
        if (ok) {
            EXPECT_EQ(OnlineMessageText(n), c.message) << c.line;
        }
    }
    OnlineNews odd;
    ASSERT_TRUE(ParseOnlineNews("refused caf\xc3\xa9\tclosed", odd));
    EXPECT_EQ(OnlineMessageText(odd), "Score Refused: caf closed");
}

TEST(Watch, PauseAndFastChangeHowTheRecordingPasses) {
    WatchClock w;
    AdvanceWatch(w, 100);
    EXPECT_DOUBLE_EQ(w.at, 100);
    EXPECT_DOUBLE_EQ(WatchWait(w, 116), 16);
    w.fast = true;
    EXPECT_DOUBLE_EQ(WatchWait(w, 116), 4);
    AdvanceWatch(w, 10);
    EXPECT_DOUBLE_EQ(w.at, 140);
    EXPECT_DOUBLE_EQ(WatchWait(w, 130), 0);
    w.paused = true;
    AdvanceWatch(w, 1000);
    EXPECT_DOUBLE_EQ(w.at, 140);
    EXPECT_LT(WatchWait(w, 150), 0);
}

TEST(Watch, TheViewersKeysNeverReachTheReplayedGame) {
    JournalData empty;
    StartReplay(empty);
    ResetInputTables();
    ViewerKeyHits(32);
    PostInputEvent(InputEvent{INPUT_KEY_DOWN, 32});
    PostInputEvent(InputEvent{INPUT_KEY_DOWN, 32, 0, 0, true});  // auto-repeat
    PostInputEvent(InputEvent{INPUT_KEY_DOWN, 39});
    EXPECT_EQ(KeyHitCount(32), 0);
    EXPECT_EQ(KeyIsDown(39), 0);
    EXPECT_EQ(ViewerKeyHits(32), 1);
    EXPECT_EQ(ViewerKeyHits(32), 0);
    EXPECT_TRUE(ViewerKeyDown(39));
    PostInputEvent(InputEvent{INPUT_KEY_UP, 39});
    EXPECT_FALSE(ViewerKeyDown(39));
    FinishJournal(0);
    // Outside a replay the keys are the game's again.
    PostInputEvent(InputEvent{INPUT_KEY_DOWN, 32});
    EXPECT_EQ(KeyHitCount(32), 1);
    EXPECT_EQ(ViewerKeyHits(32), 0);
}

TEST(Watch, TheNameComesFromAGameJournalsHeader) {
    TempDir t("name");
    struct Case {
        const char* text;
        const char* name;
    } cases[] = {
        {"wormlob2 game 1\nrules 0\nmode easy\nname 416e6e\nscore 5\n\n\x01", "Ann"},
        {"wormlob2 game 1\nname 41e909\n\n", "A??"},
        {"wormlob2 game 1\nname -\n\n", ""},
        {"wormlob2 game 1\nname 4\n\n", ""},
        {"wormlob2 game 1\n\nname 416e6e\n", ""},  // past the header
        {"wormlob2 journal 1\no player 416e6e\n", ""},
    };
    for (const Case& c : cases) {
        Spit(t.dir / "g.w2g", c.text);
        EXPECT_EQ(GameJournalName((t.dir / "g.w2g").string()), c.name) << c.text;
    }
    EXPECT_EQ(GameJournalName((t.dir / "none.w2g").string()), "");
}

// The session answers as the score server gives them: a token with its
// seed, a daily challenge's token with its date and mode. Anything that
// would start a game from a seed other than the one asked for is not taken.
TEST(OnlineAnswers, SessionTicketsCarryTheirSeedAndDailyChallenge) {
    struct Case {
        long status;
        const char* body;
        int wantMode;  // -1: an ordinary token
        bool ok;
        const char* token;
        long long seed;
        const char* daily;
    } cases[] = {
        {200, R"({"token":"t1","seed":42})", -1, true, "t1", 42, ""},
        {200, R"({"token":"t1","seed":0})", -1, true, "t1", 0, ""},
        {200, R"({"token":"t1","seed":2147483647})", -1, true, "t1", 2147483647, ""},
        // An older server gives no seed: the token alone.
        {200, R"({"token":"t1"})", -1, true, "t1", -1, ""},
        {200, R"({"token":"t1","seed":2147483648})", -1, true, "t1", -1, ""},
        {200, R"({"token":"t1","seed":-1})", -1, true, "t1", -1, ""},
        {200, R"({"token":"t1","seed":"42"})", -1, true, "t1", -1, ""},
        {200, R"({"token":"t1","seed":4.5})", -1, true, "t1", -1, ""},
        {200, R"({"token":"two words","seed":42})", -1, false, "", -1, ""},
        {500, R"({"token":"t1","seed":42})", -1, false, "", -1, ""},
        {200, "[1,2]", -1, false, "", -1, ""},
        {200, R"({"token":"d1","seed":7,"challenge":"daily","date":"2026-12-08","mode":"hard"})", 2, true, "d1", 7,
         "2026-12-08"},
        // Another mode than asked, no challenge, a bad date, no seed: not
        // that challenge.
        {200, R"({"token":"d1","seed":7,"challenge":"daily","date":"2026-12-08","mode":"easy"})", 2, false, "", -1,
         ""},
        {200, R"({"token":"d1","seed":7})", 2, false, "", -1, ""},
        {200, R"({"token":"d1","seed":7,"challenge":"daily","date":"08/12/2026","mode":"hard"})", 2, false, "", -1,
         ""},
        {200, R"({"token":"d1","challenge":"daily","date":"2026-12-08","mode":"hard"})", 2, false, "", -1, ""},
        {400, R"({"error":"no such challenge"})", 1, false, "", -1, ""},
    };
    for (const Case& c : cases) {
        OnlineTicket t;
        EXPECT_EQ(ReadSessionAnswer(c.status, c.body, c.wantMode, t), c.ok) << c.body;
        EXPECT_EQ(t.token, c.token) << c.body;
        EXPECT_EQ(t.seed, c.seed) << c.body;
        EXPECT_EQ(t.daily, c.daily) << c.body;
        EXPECT_EQ(t.mode, c.daily[0] ? c.wantMode : -1) << c.body;
    }
    EXPECT_EQ(DailyRequestBody(0), R"({"challenge":"daily","mode":"easy"})");
    EXPECT_EQ(DailyRequestBody(1), R"({"challenge":"daily","mode":"medium"})");
    EXPECT_EQ(DailyRequestBody(2), R"({"challenge":"daily","mode":"hard"})");

    // A daily game's verdict names its challenge; its rank is its day's.
    OnlineVerdict v = ReadGameAnswer(
        200, R"({"id":9,"status":"ranked","rank":3,"mode":"medium","challenge":"daily","challenge_date":"2026-12-08"})");
    ASSERT_EQ(v.kind, VERDICT_RANKED);
    EXPECT_TRUE(v.daily);
    OnlineNews n;
    n.kind = NEWS_RANKED, n.rank = v.rank, n.mode = v.mode, n.daily = v.daily;
    EXPECT_EQ(OnlineMessageText(n), "Ranked #3 in today's Medium challenge");
    EXPECT_FALSE(ReadGameAnswer(200, R"({"id":9,"status":"ranked","rank":3,"mode":"medium"})").daily);
    ASSERT_TRUE(ParseOnlineNews("daily-ranked 3 medium", n));
    EXPECT_EQ(OnlineMessageText(n), "Ranked #3 in today's Medium challenge");
    EXPECT_FALSE(ParseOnlineNews("daily-ranked 0 medium", n));
    EXPECT_FALSE(ParseOnlineNews("daily-ranked 3 insane", n));
}

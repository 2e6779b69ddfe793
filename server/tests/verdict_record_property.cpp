// Whatever a replay prints and however it ends, the worker's way of filing
// it (Decide, then FinishGame, or PostponeGame for the server's own
// troubles) leaves a verdict the database takes and the API can show: run
// on SQLite and on the PostgreSQL server named by WORMLOB_TEST_POSTGRES
// (with_postgres.py starts one and sets it).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "server/api.h"
#include "server/store.h"
#include "tests/support/skip.h"

namespace {
bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        size_t len = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
        if (len == 0 || i + len > s.size() || (len == 2 && c < 0xc2)) return false;
        uint32_t cp = len == 1 ? c : c & (0x7f >> len);
        for (size_t k = 1; k < len; k++) {
            if (((unsigned char)s[i + k] & 0xc0) != 0x80) return false;
            cp = (cp << 6) | ((unsigned char)s[i + k] & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += len;
    }
    return true;
}

// Bytes a hostile replay might print: raw high bytes, broken sequences,
// control characters, NULs, quotes, long runs, and now and then a valid
// "verified" line so that the later checks are reached too.
std::string RandomLine(std::mt19937_64& rng) {
    static const std::string pieces[] = {
        "wormlob2: ", "input.0\xff\xfe", "\xc3", "\xe2\x82", "\xf0\x9f\x98\x80", "\xed\xa0\x80", "\x1b[2J", "\r\n",
        std::string(1, '\0'), "\"", "\\", "'); DROP TABLE games; --", "Your game is ranked #1", "\xc0\xaf",
        "verified mode=medium score=1200 wave=3 frames=60 ms=1000 practice=0 autoplay=0 name=- seed=77 "
        "fingerprint=00000000000000ff"};
    std::string s;
    int parts = (int)(rng() % 6);
    for (int i = 0; i < parts; i++) {
        switch (rng() % 4) {
            case 0: s += pieces[rng() % (sizeof pieces / sizeof pieces[0])]; break;
            case 1: s += std::string(rng() % 700, (char)(rng() % 256)); break;
            default:
                for (int k = (int)(rng() % 40); k > 0; k--) s += (char)(rng() % 256);
        }
    }
    return s;
}

ReplayOutcome RandomOutcome(std::mt19937_64& rng) {
    ReplayOutcome o;
    o.kind = (ReplayOutcome::Kind)(rng() % 4);
    static const int codes[] = {0, 1, 2, 3, 4, 125, 127, 134, 255, SIGKILL, SIGXCPU, SIGTERM, SIGSEGV, 64, 0};
    o.code = rng() % 3 ? codes[rng() % (sizeof codes / sizeof codes[0])] : (int)(rng() % 300);
    o.lastOut = RandomLine(rng);
    o.lastErr = RandomLine(rng);
    o.sandbox = RandomLine(rng);
    o.seconds = (double)(rng() % 100000) / 1000;
    return o;
}

JournalHeader Claims(const std::string& token) {
    JournalHeader h;
    h.mode = "medium";
    h.score = 1200;
    h.wave = 3;
    h.frames = 60;
    h.ms = 1000;
    h.token = token;
    return h;
}

void Drive(const std::string& address, int rounds) {
    SqlPool pool(address, 2);
    {
        auto c = pool.Get();
        MigrateSchema(*c);
    }
    ServerOptions options;
    Api api(options, pool, [] { return int64_t(10'000'000); }, [] {});
    std::mt19937_64 rng(20240501);
    int filed = 0, waiting = 0;
    for (int round = 0; round < rounds; round++) {
        auto c = pool.Get();
        std::string token = NewSession(*c, "127.0.0.1", 1000).token;
        std::string sha = "property-" + std::to_string(getpid()) + "-" + std::to_string(round);
        int64_t id = SubmitGame(*c, Claims(token), sha, "journal", "127.0.0.1", 5000).id;
        auto claim = ClaimGame(*c, "prop", 6000, 60000);
        ASSERT_TRUE(claim);
        ASSERT_EQ(claim->id, id);
        ReplayOutcome o = RandomOutcome(rng);
        // The token's seed is the one the valid line names, so that line can rank.
        TokenInfo t{true, true, 1000, 77};
        Verdict v = Decide(claim->claims, o, t, claim->receivedMs);
        SCOPED_TRACE("round " + std::to_string(round) + ", reason " + v.reason);
        if (v.status == Verdict::RETRY) {
            ASSERT_TRUE(PostponeGame(*c, id, "prop", 6000, true));
            // Out of the way of the next rounds' claims.
            ASSERT_TRUE(ClaimGame(*c, "prop", 6001, 60000));
            ASSERT_TRUE(FinishGame(*c, id, "prop", Verdict{Verdict::REJECTED, "set aside by the test"}, 6002, 0));
            waiting++;
        } else {
            std::optional<Verdict> done;
            ASSERT_NO_THROW(done = FinishGame(*c, id, "prop", v, 7000, (int64_t)(o.seconds * 1000)));
            ASSERT_TRUE(done) << "the verdict was not filed";
            filed++;
        }
        auto g = FindGame(*c, id);
        ASSERT_TRUE(g);
        EXPECT_NE(g->status, "pending");
        EXPECT_TRUE(ValidUtf8(g->reason));
        EXPECT_LE(g->reason.size(), 300u);
        for (unsigned char ch : g->reason) ASSERT_GE(ch, 32) << "a control character in the stored reason";
        ApiRequest r;
        r.method = "GET";
        r.path = "/api/v1/games/" + std::to_string(id);
        r.address = "127.0.0.1";
        ApiReply reply = api.Handle(r);
        ASSERT_EQ(reply.status, 200) << reply.body;
        nlohmann::json j;
        ASSERT_NO_THROW(j = nlohmann::json::parse(reply.body));
        EXPECT_EQ(j.value("status", ""), g->status);
        EXPECT_EQ(j.value("reason", std::string("?")), g->reason);
    }
    // The random outcomes reached both ways of filing.
    EXPECT_GT(filed, rounds / 4);
    EXPECT_GT(waiting, 0);
}

// The journal that stalled PostgreSQL's queue: the game printed the raw
// bytes of a body number's name in its reason.
ReplayOutcome TheStallingJournal() {
    ReplayOutcome o;
    o.kind = ReplayOutcome::EXITED;
    o.code = 2;
    o.lastErr = "wormlob2: the journal's state value input.0\xff\xfe is out of range";
    return o;
}
}  // namespace

TEST(VerdictRecording, AnyReplayOutputIsFiledOnSqlite) {
    char dir[] = "/tmp/wl2-prop-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/scores.sqlite";
    {
        SqlPool pool(path, 1);
        auto c = pool.Get();
        MigrateSchema(*c);
        int64_t id = SubmitGame(*c, Claims(""), "stall", "j", "a", 1).id;
        ASSERT_TRUE(ClaimGame(*c, "w", 2, 1000));
        Verdict v = Decide(Claims(""), TheStallingJournal(), TokenInfo{}, 1);
        ASSERT_TRUE(FinishGame(*c, id, "w", v, 3, 1));
        EXPECT_TRUE(ValidUtf8(FindGame(*c, id)->reason));
    }
    Drive(path, 400);
    std::filesystem::remove_all(dir);
}

TEST(VerdictRecording, AnyReplayOutputIsFiledOnPostgres) {
    const char* address = std::getenv("WORMLOB_TEST_POSTGRES");
    if (!address || !*address) WORMLOB_SKIP("no PostgreSQL server given (WORMLOB_TEST_POSTGRES)");
    {
        SqlPool pool(address, 1);
        auto c = pool.Get();
        MigrateSchema(*c);
        int64_t id = SubmitGame(*c, Claims(""), "stall-" + std::to_string(getpid()), "j", "a", 1).id;
        ASSERT_TRUE(ClaimGame(*c, "w", 2, 1000));
        Verdict v = Decide(Claims(""), TheStallingJournal(), TokenInfo{}, 1);
        std::optional<Verdict> done;
        ASSERT_NO_THROW(done = FinishGame(*c, id, "w", v, 3, 1));
        ASSERT_TRUE(done);
    }
    Drive(address, 400);
}

#include "server/store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {
struct Db {
    std::string path;
    std::unique_ptr<SqlConnection> c;
    Db() {
        char dir[] = "/tmp/wl2-store-XXXXXX";
        path = std::string(mkdtemp(dir)) + "/scores.sqlite";
        c = OpenSql(path);
        MigrateSchema(*c);
    }
    ~Db() {
        c.reset();
        std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    }
};

JournalHeader Header(int64_t score, const std::string& token = "") {
    JournalHeader h;
    h.mode = "easy";
    h.score = score;
    h.wave = 1;
    h.frames = 60;
    h.ms = 1000;
    h.token = token;
    return h;
}
const Verdict kRanked{Verdict::RANKED, ""};
}  // namespace

TEST(Store, MigratingTwiceChangesNothing) {
    Db db;
    int v = SchemaVersion(*db.c);
    EXPECT_GE(v, 1);
    MigrateSchema(*db.c);
    EXPECT_EQ(SchemaVersion(*db.c), v);
}

TEST(Store, OneJournalIsOneGame) {
    Db db;
    Submitted a = SubmitGame(*db.c, Header(5), "sha-a", "journal", "addr", 1000);
    Submitted b = SubmitGame(*db.c, Header(5), "sha-a", "journal", "addr", 2000);
    EXPECT_FALSE(a.duplicate);
    EXPECT_TRUE(b.duplicate);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(PendingGames(*db.c), 1);
}

// The lease decides who may file a verdict: a holder whose lease ran out
// and was taken over files nothing, and a game is ranked once.
TEST(Store, LeasesHandGamesOverAndRankOnce) {
    Db db;
    int64_t id = SubmitGame(*db.c, Header(5), "sha-a", "j", "addr", 1000).id;
    auto first = ClaimGame(*db.c, "one", 10000, 5000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, id);
    EXPECT_EQ(first->journal, "j");
    EXPECT_FALSE(ClaimGame(*db.c, "two", 14999, 5000)) << "held games are not handed out";
    auto second = ClaimGame(*db.c, "two", 15001, 5000);
    ASSERT_TRUE(second) << "an expired lease returns the game to the queue";
    EXPECT_EQ(second->attempts, 1);
    EXPECT_FALSE(FinishGame(*db.c, id, "one", kRanked, 16000, 10)) << "the first holder lost the game";
    auto filed = FinishGame(*db.c, id, "two", kRanked, 16000, 10);
    ASSERT_TRUE(filed);
    EXPECT_EQ(filed->status, Verdict::RANKED);
    EXPECT_FALSE(FinishGame(*db.c, id, "two", kRanked, 16001, 10)) << "ranked twice";
    EXPECT_FALSE(ClaimGame(*db.c, "three", 99999999, 5000));
    EXPECT_EQ(FindGame(*db.c, id)->status, "ranked");
}

TEST(Store, ATokenRanksOneGame) {
    Db db;
    std::string token = NewSession(*db.c, "addr", 1000).token;
    EXPECT_EQ(SessionIssuedMs(*db.c, token), 1000);
    EXPECT_FALSE(SessionIssuedMs(*db.c, "other"));
    int64_t a = SubmitGame(*db.c, Header(5, token), "sha-a", "j", "addr", 3000).id;
    int64_t b = SubmitGame(*db.c, Header(6, token), "sha-b", "j", "addr", 3000).id;
    ASSERT_TRUE(ClaimGame(*db.c, "w", 4000, 5000));
    ASSERT_TRUE(ClaimGame(*db.c, "w", 4000, 5000));
    EXPECT_EQ(FinishGame(*db.c, a, "w", kRanked, 5000, 1)->status, Verdict::RANKED);
    auto second = FinishGame(*db.c, b, "w", kRanked, 5000, 1);
    EXPECT_EQ(second->status, Verdict::REJECTED);
    EXPECT_EQ(second->reason, "its session token was already used by game " + std::to_string(a));
}

TEST(Store, UnusedTokensAreForgottenAndSpentOnesKept) {
    Db db;
    std::string old = NewSession(*db.c, "a", 1000).token, spent = NewSession(*db.c, "a", 1000).token,
                fresh = NewSession(*db.c, "a", 5000).token;
    int64_t id = SubmitGame(*db.c, Header(5, spent), "sha", "j", "a", 2000).id;
    ASSERT_TRUE(ClaimGame(*db.c, "w", 3000, 5000));
    ASSERT_EQ(FinishGame(*db.c, id, "w", kRanked, 3000, 1)->status, Verdict::RANKED);
    EXPECT_EQ(ForgetUnusedSessions(*db.c, 4000), 1);
    EXPECT_FALSE(SessionIssuedMs(*db.c, old));
    EXPECT_TRUE(SessionIssuedMs(*db.c, spent));
    EXPECT_TRUE(SessionIssuedMs(*db.c, fresh));
}

TEST(Store, TablesRankBestFirstWithinTheirPeriod) {
    Db db;
    int64_t ids[4];
    int64_t scores[4] = {300, 900, 900, 100}, received[4] = {1000, 2000, 3000, 50000};
    for (int i = 0; i < 4; i++) {
        ids[i] = SubmitGame(*db.c, Header(scores[i]), "sha" + std::to_string(i), "j", "a", received[i]).id;
        ASSERT_TRUE(ClaimGame(*db.c, "w", 1, 5000));
        FinishGame(*db.c, ids[i], "w", kRanked, 1, 1);
    }
    auto all = ListScores(*db.c, "easy", 0, 0, 10);
    ASSERT_EQ(all.size(), 4u);
    // Equal scores: the earlier game first.
    EXPECT_EQ(all[0].id, ids[1]);
    EXPECT_EQ(all[1].id, ids[2]);
    EXPECT_EQ(all[3].id, ids[3]);
    EXPECT_EQ(FindGame(*db.c, ids[2])->rank, 2);
    auto recent = ListScores(*db.c, "easy", 2500, 0, 10);
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].id, ids[2]);
    EXPECT_EQ(recent[0].rank, 1);
    auto page = ListScores(*db.c, "easy", 0, 2, 1);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].rank, 3);
    EXPECT_TRUE(ListScores(*db.c, "hard", 0, 0, 10).empty());
}

// Ranks the game the next claim hands out with this verdict.
std::optional<Verdict> RankNext(Db& db, const std::string& fingerprint) {
    auto claim = ClaimGame(*db.c, "w", 1, 5000);
    if (!claim) return std::nullopt;
    return FinishGame(*db.c, claim->id, "w", Verdict(Verdict::RANKED, "", fingerprint), 2, 1);
}

TEST(Store, TokensCarrySeedsAndDailyTokensShareTheDaysSeed) {
    Db db;
    Session a = NewSession(*db.c, "a", 1000), b = NewSession(*db.c, "a", 1000);
    EXPECT_NE(a.token, b.token);
    EXPECT_GE(a.seed, 0);
    EXPECT_LE(a.seed, 2147483647);
    EXPECT_TRUE(a.challengeDate.empty());
    TokenInfo info = FindToken(*db.c, a.token);
    EXPECT_TRUE(info.given && info.known);
    EXPECT_EQ(info.seed, a.seed);
    EXPECT_TRUE(info.challengeDate.empty());
    EXPECT_FALSE(FindToken(*db.c, "").given);
    EXPECT_FALSE(FindToken(*db.c, "nobody's").known);

    Session d1 = NewDailySession(*db.c, "a", 1000, "2026-12-08", "medium");
    Session d2 = NewDailySession(*db.c, "b", 2000, "2026-12-08", "medium");
    Session hard = NewDailySession(*db.c, "b", 2000, "2026-12-08", "hard");
    Session next = NewDailySession(*db.c, "b", 2000, "2026-12-09", "medium");
    EXPECT_EQ(d1.seed, d2.seed);
    EXPECT_NE(d1.token, d2.token);
    EXPECT_NE(d1.seed, hard.seed);
    EXPECT_NE(d1.seed, next.seed);
    EXPECT_EQ(DailySeed(*db.c, "2026-12-08", "medium", 5000), d1.seed);
    info = FindToken(*db.c, d2.token);
    EXPECT_EQ(info.seed, d1.seed);
    EXPECT_EQ(info.challengeDate, "2026-12-08");
    EXPECT_EQ(info.challengeMode, "medium");
}

TEST(Store, OneGameRanksOnce) {
    Db db;
    int64_t first = SubmitGame(*db.c, Header(5, NewSession(*db.c, "a", 1).token), "sha-1", "j", "a", 10).id;
    SubmitGame(*db.c, Header(5, NewSession(*db.c, "a", 1).token), "sha-2", "j", "a", 10);
    SubmitGame(*db.c, Header(5, NewSession(*db.c, "a", 1).token), "sha-3", "j", "a", 10);
    EXPECT_EQ(RankNext(db, "00000000000000aa")->status, Verdict::RANKED);
    auto copy = RankNext(db, "00000000000000aa");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->status, Verdict::REJECTED);
    EXPECT_EQ(copy->reason, "the same game as game " + std::to_string(first));
    EXPECT_EQ(RankNext(db, "00000000000000bb")->status, Verdict::RANKED) << "another game ranks";
    // The index holds even against a write that skips the check.
    EXPECT_THROW(db.c->Run("UPDATE games SET status = 'ranked', fingerprint = '00000000000000aa' WHERE id = ?",
                           {SqlInt(first + 2)}),
                 SqlError);
}

// A day's table: each name's best game of that day's challenge; daily games
// stay out of the ordinary tables.
TEST(Store, DailyTablesHoldEachNamesBestGameOfTheirDay) {
    Db db;
    struct G {
        const char* name;
        int64_t score;
        const char* day;  // "" for an ordinary game
    } games[] = {{"416e6e", 300, "2026-12-08"}, {"416e6e", 700, "2026-12-08"}, {"426f", 500, "2026-12-08"},
                 {"426f", 900, "2026-12-07"},   {"436179", 9000, ""},          {"416e6e", 100, "2026-12-08"}};
    std::vector<int64_t> ids;
    for (const G& g : games) {
        Session s = *g.day ? NewDailySession(*db.c, "a", 1, g.day, "easy") : NewSession(*db.c, "a", 1);
        JournalHeader h = Header(g.score, s.token);
        h.nameHex = g.name;
        ids.push_back(SubmitGame(*db.c, h, "sha" + std::to_string(ids.size()), "j", "a", 10).id);
        ASSERT_EQ(RankNext(db, "f" + std::to_string(ids.size()))->status, Verdict::RANKED);
    }
    auto day = ListDailyScores(*db.c, "easy", "2026-12-08", 0, 10);
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day[0].id, ids[1]);
    EXPECT_EQ(day[0].rank, 1);
    EXPECT_EQ(day[1].id, ids[2]);
    EXPECT_EQ(day[1].rank, 2);
    EXPECT_EQ(ListDailyScores(*db.c, "easy", "2026-12-07", 0, 10).size(), 1u);
    EXPECT_TRUE(ListDailyScores(*db.c, "hard", "2026-12-08", 0, 10).empty());
    auto all = ListScores(*db.c, "easy", 0, 0, 10);
    ASSERT_EQ(all.size(), 1u) << "daily games are not in the ordinary tables";
    EXPECT_EQ(all[0].id, ids[4]);
    EXPECT_EQ(FindGame(*db.c, ids[4])->rank, 1);
    auto g = FindGame(*db.c, ids[2]);
    EXPECT_EQ(g->challengeDate, "2026-12-08");
    EXPECT_EQ(g->rank, 2);
    EXPECT_EQ(FindGame(*db.c, ids[3])->rank, 1);
    EXPECT_TRUE(FindGame(*db.c, ids[4])->challengeDate.empty());
}

// A token named by a game still in the queue is kept however old it is: the
// game is judged with it later, and forgetting it would turn an honest game
// into "not issued by this server".
TEST(Store, TokensOfPendingGamesAreKeptUntilTheyAreJudged) {
    Db db;
    std::string waiting = NewSession(*db.c, "a", 1000).token, unused = NewSession(*db.c, "a", 1000).token;
    int64_t id = SubmitGame(*db.c, Header(5, waiting), "sha", "j", "a", 2000).id;
    EXPECT_EQ(ForgetUnusedSessions(*db.c, 999999), 1);
    EXPECT_FALSE(SessionIssuedMs(*db.c, unused));
    EXPECT_TRUE(SessionIssuedMs(*db.c, waiting)) << "the pending game's token was forgotten";
    // Once judged (rejected: the token stays unspent) it goes with the next sweep.
    ASSERT_TRUE(ClaimGame(*db.c, "w", 3000, 5000));
    ASSERT_TRUE(FinishGame(*db.c, id, "w", Verdict{Verdict::REJECTED, "no"}, 3000, 1));
    EXPECT_EQ(ForgetUnusedSessions(*db.c, 999999), 1);
    EXPECT_FALSE(SessionIssuedMs(*db.c, waiting));
}

// A game put back waits until its time, lowest id first after that; the
// server's own troubles give the claim's attempt back, a failure of the
// game's keeps it counted.
TEST(Store, PostponedGamesWaitAndKeepOrSpendTheirAttempts) {
    Db db;
    int64_t a = SubmitGame(*db.c, Header(5), "sha-a", "j", "addr", 1000).id;
    int64_t b = SubmitGame(*db.c, Header(6), "sha-b", "j", "addr", 1000).id;
    auto first = ClaimGame(*db.c, "w", 10000, 5000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, a);
    EXPECT_FALSE(PostponeGame(*db.c, a, "other", 20000, false)) << "only the holder puts a game back";
    EXPECT_TRUE(PostponeGame(*db.c, a, "w", 20000, false));
    auto next = ClaimGame(*db.c, "w", 10001, 5000);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->id, b) << "a game put back is not taken again at once";
    EXPECT_TRUE(PostponeGame(*db.c, b, "w", 10002, true));
    EXPECT_FALSE(ClaimGame(*db.c, "w", 10001, 5000));
    auto again = ClaimGame(*db.c, "w", 20001, 5000);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id, a) << "lowest id first once both may be taken";
    EXPECT_EQ(again->attempts, 1) << "a failure of the game's is counted";
    auto b2 = ClaimGame(*db.c, "w", 20001, 5000);
    ASSERT_TRUE(b2);
    EXPECT_EQ(b2->attempts, 0) << "the server's own trouble is not counted";
    EXPECT_FALSE(FinishGame(*db.c, a, "w2", kRanked, 20002, 1));
}

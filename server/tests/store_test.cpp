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
    std::string token = NewSession(*db.c, "addr", 1000);
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
    std::string old = NewSession(*db.c, "a", 1000), spent = NewSession(*db.c, "a", 1000),
                fresh = NewSession(*db.c, "a", 5000);
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

// A token named by a game still in the queue is kept however old it is: the
// game is judged with it later, and forgetting it would turn an honest game
// into "not issued by this server".
TEST(Store, TokensOfPendingGamesAreKeptUntilTheyAreJudged) {
    Db db;
    std::string waiting = NewSession(*db.c, "a", 1000), unused = NewSession(*db.c, "a", 1000);
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

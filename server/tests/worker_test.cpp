#include "server/worker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "server/store.h"

// Tokens are forgotten on a timer of their own, whatever the workers do:
// here there are none (--workers 0, a process that only takes submissions),
// so a sweep tied to an idle worker would never run. A token a pending game
// names is kept.
TEST(Verifiers, TheTokenSweepRunsOnItsOwnAndKeepsPendingGamesTokens) {
    char dir[] = "/tmp/wl2-worker-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/scores.sqlite";
    SqlPool pool(path, 2);
    std::string unused, waiting;
    {
        auto c = pool.Get();
        MigrateSchema(*c);
        unused = NewSession(*c, "a", 1000).token;
        waiting = NewSession(*c, "a", 1000).token;
        JournalHeader h;
        h.mode = "easy";
        h.frames = 60;
        h.ms = 1000;
        h.token = waiting;
        SubmitGame(*c, h, "sha", "j", "a", 2000);
    }
    ServerOptions o;
    o.workers = 0;
    Verifiers v(o, pool, "/nonexistent", "/nonexistent", dir, dir, [] {});
    v.Start();
    bool forgotten = false;
    for (int i = 0; i < 100 && !forgotten; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto c = pool.Get();
        forgotten = !SessionIssuedMs(*c, unused);
    }
    v.Stop();
    EXPECT_TRUE(forgotten) << "the week-old unused token was not forgotten";
    auto c = pool.Get();
    EXPECT_TRUE(SessionIssuedMs(*c, waiting)) << "the pending game's token was forgotten";
    std::filesystem::remove_all(dir);
}

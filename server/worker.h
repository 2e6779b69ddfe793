// The verification workers: each takes a game from the queue in the
// database, replays it in a confined child and files the verdict.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/db.h"
#include "server/options.h"
#include "server/sandbox.h"
#include "server/store.h"

class Verifiers {
public:
    // ranked: called after a game was ranked.
    Verifiers(const ServerOptions& o, SqlPool& pool, std::string self, std::string game, std::string files,
              std::string workDir, std::function<void()> ranked);
    ~Verifiers();
    void Start();
    // A game was queued: an idle worker looks at once.
    void Wake();
    // Lets the running replays finish and their verdicts be filed, then
    // returns; no new game is taken.
    void Stop();

private:
    void Run(int index);
    bool VerifyOne(const std::string& owner);
    // Replays a claimed game and files its verdict; false when it was put
    // back for a trouble of the server's. Throws when the verdict could not
    // be recorded.
    bool Judge(const std::string& owner, Claim& claim);
    // Lets go of the game until untilMs (giveBack: without spending an
    // attempt); a failure here leaves it to its lease running out.
    void Postpone(const std::string& owner, const Claim& claim, int64_t untilMs, bool giveBack);
    // Forgets unused session tokens once an hour, on a thread of its own.
    void Sweep();
    // The CPU limit of a replay whose journal claims this many frames.
    int CpuSecondsFor(int64_t claimedFrames) const;

    const ServerOptions& o_;
    SqlPool& pool_;
    std::string self_, game_, files_, workDir_;
    std::function<void()> ranked_;
    std::string process_;  // this process's part of the lease owners' names
    std::vector<std::thread> threads_;
    std::atomic<bool> stopping_{false};
    std::mutex m_;
    std::condition_variable cv_;
    int wakes_ = 0;
    std::condition_variable sweepCv_;
    // While replays cannot start (the server's own trouble): how long a
    // worker waits before it takes a game again; 0 when all is well.
    std::atomic<int64_t> troubleWaitMs_{0};
};

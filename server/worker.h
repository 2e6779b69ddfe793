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
    int64_t lastSweepMs_ = 0;  // when unused tokens were last forgotten (worker 0 only)
};

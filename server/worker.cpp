#include "server/worker.h"

#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "server/header.h"
#include "server/health.h"
#include "server/logtext.h"
#include "server/store.h"

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// After this many attempts that ended without a verdict filed (the server
// stopped while replaying it, or the verdict could not be recorded), a game
// is rejected rather than tried for ever. Troubles of the server itself
// (the replay could not start) are not counted: the game waits for them.
constexpr int kMaxAttempts = 3;
// A game whose verdict could not be recorded waits this long, doubled with
// each attempt, before it is taken again, so that no worker goes round and
// round on it while the games after it wait.
constexpr int64_t kFailedWaitMs = 10 * 1000;
// While replays cannot start, a game is put back and the worker waits this
// long, doubled while the trouble lasts, up to kTroubleWaitMostMs.
constexpr int64_t kTroubleWaitMs = 2 * 1000;
constexpr int64_t kTroubleWaitMostMs = 60 * 1000;
// A replay's processor time follows the length its header claims: the
// program's start-up (about half a second, more under a sanitizer or a
// loaded machine) is in the floor, and an honest replay needs about 1 % of
// its play time, so 3 % leaves room. --cpu-limit stays the most any replay
// gets.
constexpr int kCpuFloorSeconds = 8;
constexpr double kCpuShareOfPlay = 0.03;
// A token no game has used for a week belongs to a game that was never sent
// (or not finished): it is forgotten, so that the table does not grow with
// every game started. Looked for once an hour.
constexpr int64_t kTokenLifeMs = int64_t(7) * 24 * 3600 * 1000;
constexpr int64_t kTokenSweepMs = 3600 * 1000;
}  // namespace

Verifiers::Verifiers(const ServerOptions& o, SqlPool& pool, std::string self, std::string game, std::string files,
                     std::string workDir, std::function<void()> ranked)
    : o_(o), pool_(pool), self_(std::move(self)), game_(std::move(game)), files_(std::move(files)),
      workDir_(std::move(workDir)), ranked_(std::move(ranked)) {
    // A lease names its holder: host, process and a random part, since
    // several machines share one database.
    char host[256] = "host";
    gethostname(host, sizeof host - 1);
    unsigned char r[4] = {};
    RAND_bytes(r, sizeof r);
    process_ = std::string(host) + ":" + std::to_string(getpid()) + ":" +
               EncodeHex(std::string_view(reinterpret_cast<char*>(r), sizeof r));
}

Verifiers::~Verifiers() { Stop(); }

void Verifiers::Start() {
    for (int i = 0; i < o_.workers; i++) threads_.emplace_back([this, i] { Run(i); });
    threads_.emplace_back([this] { Sweep(); });
}

void Verifiers::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_);
        wakes_++;
    }
    cv_.notify_one();
}

void Verifiers::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stopping_ = true;
    }
    cv_.notify_all();
    sweepCv_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

void Verifiers::Run(int index) {
    std::string owner = process_ + "/" + std::to_string(index);
    while (!stopping_) {
        bool worked = false;
        try {
            worked = VerifyOne(owner);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wormlob2-server: verifier %d: %s\n", index, LogEscape(e.what()).c_str());
        }
        if (worked) continue;
        if (int64_t wait = troubleWaitMs_.load(); wait > 0) {
            // The server cannot replay now: the game was put back, and this
            // worker waits before it tries one again.
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait_for(lock, std::chrono::milliseconds(wait), [&] { return stopping_.load(); });
            continue;
        }
        // Nothing to do: wait for a game queued here, or look again later
        // for games that other processes took in or let go.
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait_for(lock, std::chrono::milliseconds(o_.pollMs), [&] { return stopping_ || wakes_ > 0; });
        if (wakes_ > 0) wakes_--;
    }
}

void Verifiers::Sweep() {
    // Its own timer, so that tokens are forgotten whether or not the
    // workers are busy.
    while (!stopping_) {
        try {
            auto c = pool_.Get();
            int64_t n = ForgetUnusedSessions(*c, NowMs() - kTokenLifeMs);
            if (n) std::fprintf(stderr, "wormlob2-server: forgot %lld unused session tokens\n", (long long)n);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wormlob2-server: forgetting old tokens: %s\n", LogEscape(e.what()).c_str());
        }
        std::unique_lock<std::mutex> lock(m_);
        sweepCv_.wait_for(lock, std::chrono::milliseconds(kTokenSweepMs), [&] { return stopping_.load(); });
    }
}

int Verifiers::CpuSecondsFor(int64_t claimedFrames) const {
    double play = (double)std::max<int64_t>(claimedFrames, 0) / 60.0;
    double want = kCpuFloorSeconds + play * kCpuShareOfPlay;
    return (int)std::min<double>(o_.cpuSeconds, want + 0.999);
}

bool Verifiers::VerifyOne(const std::string& owner) {
    std::optional<Claim> claim;
    {
        auto c = pool_.Get();
        claim = ClaimGame(*c, owner, NowMs(), int64_t(o_.leaseSeconds) * 1000);
    }
    if (!claim) return false;
    try {
        return Judge(owner, *claim);
    } catch (const std::exception& e) {
        // Whatever went wrong counts as one of the game's attempts (the claim
        // counted it), and the game waits before anyone takes it again.
        std::fprintf(stderr, "wormlob2-server: game %lld: %s\n", (long long)claim->id, LogEscape(e.what()).c_str());
        Postpone(owner, *claim, NowMs() + (kFailedWaitMs << std::min(claim->attempts, 10)), false);
        return true;
    }
}

void Verifiers::Postpone(const std::string& owner, const Claim& claim, int64_t untilMs, bool giveBack) {
    try {
        auto c = pool_.Get();
        try {
            PostponeGame(*c, claim.id, owner, untilMs, giveBack);
        } catch (const std::exception&) {
            c.Discard();
            throw;
        }
    } catch (const std::exception& e) {
        // The lease runs out by itself, and the game is taken again then.
        std::fprintf(stderr, "wormlob2-server: game %lld could not be put back: %s\n", (long long)claim.id,
                     LogEscape(e.what()).c_str());
    }
}

bool Verifiers::Judge(const std::string& owner, Claim& claim) {
    if (claim.attempts >= kMaxAttempts) {
        // Its earlier attempts each ended without a verdict filed: the
        // server says so in its own words rather than try for ever.
        Verdict v{Verdict::REJECTED, "the server could not record a verdict for it in " +
                                         std::to_string(kMaxAttempts) + " attempts"};
        std::optional<Verdict> filed;
        {
            auto c = pool_.Get();
            filed = FinishGame(*c, claim.id, owner, v, NowMs(), 0);
        }
        std::fprintf(stderr, "verify game=%lld result=%s attempts=%d reason=\"%s\"\n", (long long)claim.id,
                     filed ? StatusName(filed->status) : "lease lost", claim.attempts, LogEscape(v.reason).c_str());
        return true;
    }
    TokenInfo token;
    {
        auto c = pool_.Get();
        token = FindToken(*c, claim.token);
    }
    ReplayJob job;
    job.self = self_;
    job.game = game_;
    job.filesDir = files_;
    job.workDir = workDir_;
    job.journal = std::move(claim.journal);
    job.limits.cpuSeconds = CpuSecondsFor(claim.claims.frames);
    job.limits.memoryBytes = o_.memoryMb << 20;
    job.limits.wallSeconds = o_.wallSeconds;
    std::fprintf(stderr, "replay game=%lld started (attempt %d)\n", (long long)claim.id, claim.attempts + 1);
    ReplayOutcome out = RunReplay(job);
    Verdict v = Decide(claim.claims, out, token, claim.receivedMs);
    std::string exit = out.kind == ReplayOutcome::EXITED     ? std::to_string(out.code)
                       : out.kind == ReplayOutcome::SIGNALED ? "signal " + std::to_string(out.code)
                       : out.kind == ReplayOutcome::TIMED_OUT ? "timeout"
                                                              : "none";
    auto logLine = [&](const std::string& result, const std::string& reason) {
        std::fprintf(stderr,
                     "verify game=%lld result=%s replay=%.2fs cpu=%.2fs played=%.1fs exit=%s sandbox=\"%s\"%s%s%s\n",
                     (long long)claim.id, result.c_str(), out.seconds, out.cpuSeconds, claim.claims.ms / 1000.0,
                     exit.c_str(), LogEscape(out.sandbox).c_str(), reason.empty() ? "" : " reason=\"",
                     LogEscape(reason).c_str(), reason.empty() ? "" : "\"");
    };
    if (v.status == Verdict::RETRY) {
        // Not the game's doing: it keeps its attempts and waits. While the
        // server cannot start replays, health says so and the workers wait
        // longer each time.
        int64_t wait = 0;
        if (ServerTrouble(out)) {
            int64_t was = troubleWaitMs_.load();
            wait = was == 0 ? kTroubleWaitMs : std::min(was * 2, kTroubleWaitMostMs);
            troubleWaitMs_ = wait;
            SetHealthTrouble("replays", "replays cannot run: " + v.reason);
            std::fprintf(stderr, "wormlob2-server: replays cannot run (%s); game %lld waits %lld s\n",
                         LogEscape(v.reason).c_str(), (long long)claim.id, (long long)(wait / 1000));
        }
        Postpone(owner, claim, NowMs() + wait, true);
        logLine("retry later", v.reason);
        return false;
    }
    if (troubleWaitMs_.exchange(0) != 0) {
        SetHealthTrouble("replays", "");
        std::fprintf(stderr, "wormlob2-server: replays run again\n");
    }
    std::optional<Verdict> filed;
    {
        auto c = pool_.Get();
        try {
            filed = FinishGame(*c, claim.id, owner, v, NowMs(), (int64_t)(out.seconds * 1000));
        } catch (const std::exception& e) {
            c.Discard();
            logLine("not recorded", v.reason);
            throw;
        }
    }
    logLine(filed ? StatusName(filed->status) : "lease lost", filed ? filed->reason : v.reason);
    if (filed && filed->status == Verdict::RANKED) ranked_();
    return true;
}

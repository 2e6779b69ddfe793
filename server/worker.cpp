#include "server/worker.h"

#include <openssl/rand.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "server/header.h"
#include "server/store.h"

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// After this many replays that could not start, a game is rejected rather
// than tried for ever.
constexpr int kMaxAttempts = 3;
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
}

void Verifiers::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_);
        wakes_++;
    }
    cv_.notify_one();
}

void Verifiers::Stop() {
    stopping_ = true;
    cv_.notify_all();
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
            std::fprintf(stderr, "wormlob2-server: verifier %d: %s\n", index, e.what());
        }
        if (worked) continue;
        if (index == 0 && NowMs() - lastSweepMs_ > kTokenSweepMs) {
            lastSweepMs_ = NowMs();
            try {
                auto c = pool_.Get();
                int64_t n = ForgetUnusedSessions(*c, lastSweepMs_ - kTokenLifeMs);
                if (n) std::fprintf(stderr, "wormlob2-server: forgot %lld unused session tokens\n", (long long)n);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "wormlob2-server: forgetting old tokens: %s\n", e.what());
            }
        }
        // Nothing to do: wait for a game queued here, or look again later
        // for games that other processes took in or let go.
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait_for(lock, std::chrono::milliseconds(o_.pollMs), [&] { return stopping_ || wakes_ > 0; });
        if (wakes_ > 0) wakes_--;
    }
}

bool Verifiers::VerifyOne(const std::string& owner) {
    std::optional<Claim> claim;
    TokenInfo token;
    {
        auto c = pool_.Get();
        claim = ClaimGame(*c, owner, NowMs(), int64_t(o_.leaseSeconds) * 1000);
        if (!claim) return false;
        token = FindToken(*c, claim->token);
    }
    ReplayJob job;
    job.self = self_;
    job.game = game_;
    job.filesDir = files_;
    job.workDir = workDir_;
    job.journal = std::move(claim->journal);
    job.limits.cpuSeconds = o_.cpuSeconds;
    job.limits.memoryBytes = o_.memoryMb << 20;
    job.limits.wallSeconds = o_.wallSeconds;
    std::fprintf(stderr, "replay game=%lld started (attempt %d)\n", (long long)claim->id, claim->attempts + 1);
    ReplayOutcome out = RunReplay(job);
    Verdict v = Decide(claim->claims, out, token, claim->receivedMs);
    if (v.status == Verdict::RETRY && claim->attempts + 1 >= kMaxAttempts) {
        v = Verdict{Verdict::REJECTED, "the server could not replay it (" + v.reason + ")"};
    }
    auto c = pool_.Get();
    std::optional<Verdict> filed;
    // A replay that could not start is the server's trouble, not the
    // game's: the game stays held until its lease runs out and is tried
    // again then, here or by another process.
    if (v.status != Verdict::RETRY) filed = FinishGame(*c, claim->id, owner, v, NowMs(), (int64_t)(out.seconds * 1000));
    std::string result = v.status == Verdict::RETRY ? "retry later" : filed ? StatusName(filed->status) : "lease lost";
    std::string reason = filed ? filed->reason : v.reason;
    std::string exit = out.kind == ReplayOutcome::EXITED     ? std::to_string(out.code)
                       : out.kind == ReplayOutcome::SIGNALED ? "signal " + std::to_string(out.code)
                       : out.kind == ReplayOutcome::TIMED_OUT ? "timeout"
                                                              : "none";
    std::fprintf(stderr, "verify game=%lld result=%s replay=%.2fs cpu=%.2fs played=%.1fs exit=%s sandbox=\"%s\"%s%s%s\n",
                 (long long)claim->id, result.c_str(), out.seconds, out.cpuSeconds, claim->claims.ms / 1000.0, exit.c_str(),
                 out.sandbox.c_str(), reason.empty() ? "" : " reason=\"", reason.c_str(), reason.empty() ? "" : "\"");
    if (v.status == Verdict::RETRY) return false;
    if (filed && filed->status == Verdict::RANKED) ranked_();
    return true;
}

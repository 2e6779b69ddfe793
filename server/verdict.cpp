#include "server/verdict.h"

#include <csignal>
#include <cstring>
#include <sstream>
#include <vector>

#include "server/logtext.h"

bool ParseVerifiedLine(const std::string& line, VerifiedLine& out) {
    out = VerifiedLine{};
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word != "verified") return false;
    static const char* keys[] = {"mode", "score", "wave", "frames", "ms", "practice", "autoplay", "name",
                                 "seed", "fingerprint"};
    for (const char* key : keys) {
        if (!(in >> word)) {
            // The older line ends after the name.
            return std::string_view(key) == "seed";
        }
        std::string k = std::string(key) + "=";
        if (word.rfind(k, 0) != 0) return false;
        std::string v = word.substr(k.size());
        std::string_view name = key;
        int64_t n = 0;
        if (name == "mode") {
            if (v != "easy" && v != "medium" && v != "hard") return false;
            out.mode = v;
        } else if (name == "name") {
            std::string bytes;
            if (v != "-" && (v.empty() || !DecodeHex(v, bytes))) return false;
            out.nameHex = v == "-" ? "" : v;
        } else if (name == "practice" || name == "autoplay") {
            if (v != "0" && v != "1") return false;
            (name == "practice" ? out.practice : out.autoplay) = v == "1";
        } else if (name == "seed") {
            if (v != "-" && (!ParseCount(v, n) || n > 2147483647)) return false;
            out.seed = v == "-" ? -1 : n;
        } else if (name == "fingerprint") {
            if (v.size() != 16 || v.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
            out.fingerprint = v;
        } else {
            if (!ParseCount(v, n)) return false;
            if (name == "score") out.score = n;
            if (name == "wave") out.wave = n;
            if (name == "frames") out.frames = n;
            if (name == "ms") out.ms = n;
        }
    }
    return !(in >> word);
}

int64_t FastestAllowedMs(int64_t frames) {
    // The game ends each frame's wait 2 ms short of a 60th of a second (a
    // display's vertical sync, when there is one, makes up the rest), so a
    // faithful clock reads at least that much per frame; the slack is half
    // a percent and 50 ms.
    int64_t paced = frames * (1000 - 120) / 60;
    return paced - paced / 200 - 50;
}

bool ServerTrouble(const ReplayOutcome& o) {
    // Status 1 is the game's own start-up failing (no data folder, no
    // display, its assets missing), before it has read the journal's moves.
    return o.kind == ReplayOutcome::NOT_STARTED || (o.kind == ReplayOutcome::EXITED && o.code == 1);
}

const char* StatusName(Verdict::Status s) {
    return s == Verdict::RANKED ? "ranked" : s == Verdict::REJECTED ? "rejected" : "pending";
}

namespace {
Verdict Reject(std::string why) { return Verdict{Verdict::REJECTED, std::move(why)}; }

// What the replay said on its last line, as a quoted detail of the
// server's own sentence: "wormlob2: " is left out, and the rest is cut to
// valid, printable UTF-8 of at most 200 characters, so that neither a
// database nor a JSON writer can choke on it and no sender can make it read
// as the server's words. Characters of several bytes are cut sooner, so that
// a reason stays within about 300 bytes whatever the replay wrote.
std::string GameReason(const std::string& line) {
    std::string r = line.rfind("wormlob2: ", 0) == 0 ? line.substr(10) : line;
    std::string quoted = QuotedDetail(r);
    for (size_t most = 150; quoted.size() > 220 && most >= 30; most -= 30) quoted = QuotedDetail(r, most);
    return quoted == "\"\"" ? "no reason given" : quoted;
}

std::string Mismatch(const char* what, const std::string& claimed, const std::string& replayed) {
    return std::string("the journal claims ") + what + " " + claimed + " but its replay filed " + replayed;
}
}  // namespace

Verdict Decide(const JournalHeader& claims, const ReplayOutcome& o, const TokenInfo& token, int64_t receivedMs) {
    switch (o.kind) {
        case ReplayOutcome::NOT_STARTED:
            return Verdict{Verdict::RETRY, "the replay could not be started: " + GameReason(o.lastErr)};
        case ReplayOutcome::TIMED_OUT:
            return Reject("its replay did not finish within the time allowed");
        case ReplayOutcome::SIGNALED: {
            // Limits end a replay with SIGKILL or SIGXCPU; a stop signal
            // came from outside (the service being stopped), not the game.
            if (o.code == SIGTERM || o.code == SIGINT || o.code == SIGHUP)
                return Verdict{Verdict::RETRY, "the replay was stopped from outside"};
            const char* name = sigabbrev_np(o.code);
            return Reject(std::string("its replay was stopped by signal ") + (name ? name : std::to_string(o.code).c_str()) +
                          (o.code == SIGXCPU || o.code == SIGKILL ? " (over its limits)" : ""));
        }
        case ReplayOutcome::EXITED: break;
    }
    if (o.code == 1) return Verdict{Verdict::RETRY, "the game could not start here: " + GameReason(o.lastErr)};
    if (o.code == 2) return Reject("the journal cannot be replayed: " + GameReason(o.lastErr));
    if (o.code == 3) return Reject("the replay does not match the journal: " + GameReason(o.lastErr));
    if (o.code != 0) return Reject("its replay failed with status " + std::to_string(o.code));
    VerifiedLine v;
    if (!ParseVerifiedLine(o.lastOut, v)) return Reject("its replay ended without confirming the record");

    // The replay is the truth; a header that says otherwise was edited.
    if (v.mode != claims.mode) return Reject(Mismatch("mode", claims.mode, v.mode));
    if (v.score != claims.score) return Reject(Mismatch("score", std::to_string(claims.score), std::to_string(v.score)));
    if (v.wave != claims.wave) return Reject(Mismatch("wave", std::to_string(claims.wave), std::to_string(v.wave)));
    if (v.frames != claims.frames)
        return Reject(Mismatch("a length of", std::to_string(claims.frames) + " frames", std::to_string(v.frames)));
    if (v.ms != claims.ms) return Reject(Mismatch("a length of", std::to_string(claims.ms) + " ms", std::to_string(v.ms)));
    if (v.nameHex != claims.nameHex) return Reject("the journal claims another name than its replay filed");
    if (v.practice != claims.practice || v.autoplay != claims.autoplay)
        return Reject("the journal's practice or demo flags differ from its replay");

    if (v.practice) return Reject("the practice keys (F3, F4) were used");
    if (v.autoplay) return Reject("the demo player played it");
    if (v.ms < FastestAllowedMs(v.frames))
        return Reject("its clock ran faster than the frame pacing allows (" + std::to_string(v.frames) + " frames in " +
                      std::to_string(v.ms) + " ms)");
    if (!token.given) return Reject("played offline: it was verified, but a game without a session token is not ranked");
    if (!token.known)
        return Reject("its session token was not issued by this server (or, unused for a week, was forgotten)");
    if (receivedMs - token.issuedMs < v.ms)
        return Reject("it was submitted sooner after its start than its own length (a slowed clock)");
    // The token gave the game its seed: a journal downloaded and sent again
    // under a fresh token (or a game that chose its own seed) started from
    // another one. The replay names the seed only when the generator's
    // recorded state is the one that seed gives.
    if (!token.challengeDate.empty() && v.mode != token.challengeMode)
        return Reject("it was not played in the mode of its daily challenge");
    if (v.seed < 0 || token.seed < 0 || v.seed != token.seed)
        return Reject("it did not start from the seed its session token gave");
    return Verdict{Verdict::RANKED, "", v.fingerprint};
}

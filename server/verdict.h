// Turning what the replay did into a game's status: ranked, or rejected with
// a reason a player can read. A pure function, so every case is tested on
// its own without running anything.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "server/header.h"

// How the verifying child ended.
struct ReplayOutcome {
    enum Kind { EXITED, SIGNALED, TIMED_OUT, NOT_STARTED } kind = NOT_STARTED;
    int code = 0;          // exit status, or the signal
    std::string lastOut;   // last line on standard output
    std::string lastErr;   // last line on standard error
    std::string sandbox;   // how the child was confined, as it said
    double seconds = 0;    // wall time of the replay
    double cpuSeconds = 0;  // processor time it used
};

// The "verified ..." line the game prints when its replay filed the record.
// Newer games end it with the seed the game started from (when it is the
// one its starting state names) and a fingerprint of the game played; a
// line without them comes from a game older than seeds given by the server.
struct VerifiedLine {
    std::string mode, nameHex;
    int64_t score = 0, wave = 0, frames = 0, ms = 0;
    bool practice = false, autoplay = false;
    int64_t seed = -1;        // -1: "seed=-", or a line without it
    std::string fingerprint;  // 16 lowercase hex digits; empty in the older line
};
bool ParseVerifiedLine(const std::string& line, VerifiedLine& out);

// What the server knows of the game's session token.
struct TokenInfo {
    bool given = false;   // the header names one
    bool known = false;   // this server issued it
    int64_t issuedMs = 0;  // when
    int64_t seed = -1;     // the seed it gave the game; -1 for tokens older than seeds
    TokenInfo() = default;
    TokenInfo(bool given_, bool known_, int64_t issuedMs_, int64_t seed_ = -1)
        : given(given_), known(known_), issuedMs(issuedMs_), seed(seed_) {}
    // A daily challenge's token: its UTC day (YYYY-MM-DD) and mode; empty
    // for an ordinary game.
    std::string challengeDate, challengeMode;
};

struct Verdict {
    enum Status { RANKED, REJECTED, RETRY } status = REJECTED;
    std::string reason;
    std::string fingerprint;  // of a ranked game: one game ranks once
    Verdict() = default;
    Verdict(Status status_, std::string reason_, std::string fingerprint_ = "")
        : status(status_), reason(std::move(reason_)), fingerprint(std::move(fingerprint_)) {}
};

// The shortest length in ms a game of this many frames can have on a clock
// that runs true: the game's frame pacing, less a little slack.
int64_t FastestAllowedMs(int64_t frames);

// claims: the stored header; receivedMs: when the journal arrived. RETRY:
// the replay did not run to an end for reasons of the server's (it could
// not start, or was stopped from outside); the game is tried again later.
Verdict Decide(const JournalHeader& claims, const ReplayOutcome& outcome, const TokenInfo& token,
               int64_t receivedMs);

// The replay did not run because of the server itself (the child could not
// be started, the game could not start up here): no fault of the journal.
// A RETRY that is not one of these was stopped from outside.
bool ServerTrouble(const ReplayOutcome& outcome);

// "pending", "ranked" or "rejected" as the API names them.
const char* StatusName(Verdict::Status s);

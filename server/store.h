// The server's data: session tokens, submitted games with their journals,
// and the verification queue, in one schema that SQLite and PostgreSQL share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/db.h"
#include "server/header.h"
#include "server/verdict.h"

// Brings the schema up to the newest version, one numbered step at a time;
// several processes starting together on one database take turns.
void MigrateSchema(SqlConnection& c);
// The schema version the database is at.
int SchemaVersion(SqlConnection& c);

// A session token and the seed of the one game it starts; a daily
// challenge's token has that day's seed and names its day and mode.
struct Session {
    std::string token;
    int64_t seed = 0;
    std::string challengeDate, challengeMode;  // empty for an ordinary game
};
// A new random token, remembered with the time it was issued and a random
// seed of 31 bits.
Session NewSession(SqlConnection& c, const std::string& address, int64_t nowMs);
// A token for the daily challenge of date (YYYY-MM-DD, the day nowMs is in)
// and mode: its seed is the day's and mode's, the same for every player.
Session NewDailySession(SqlConnection& c, const std::string& address, int64_t nowMs, const std::string& date,
                        const std::string& mode);
// The seed of a day and mode, made at its first use and kept: every process
// sharing the database gives the same one.
int64_t DailySeed(SqlConnection& c, const std::string& date, const std::string& mode, int64_t nowMs);
std::optional<int64_t> SessionIssuedMs(SqlConnection& c, const std::string& token);
// What a verdict needs of a game's token (given stays false for "").
TokenInfo FindToken(SqlConnection& c, const std::string& token);

struct GameInfo {
    int64_t id = 0;
    std::string status, reason, mode, nameHex;
    int64_t score = 0, wave = 0, frames = 0, ms = 0;
    int64_t receivedMs = 0;
    int64_t rank = 0;  // all-time place in its mode's table, 0 unless ranked
    // A daily challenge's game: its day; rank is then its place in that
    // day's table of its mode.
    std::string challengeDate;
};

struct Submitted {
    int64_t id = 0;
    std::string status;
    bool duplicate = false;  // the same journal had been sent before
};
// Stores a new pending game, or finds the one with the same journal.
Submitted SubmitGame(SqlConnection& c, const JournalHeader& h, const std::string& sha256, const std::string& journal,
                     const std::string& address, int64_t nowMs);
std::optional<GameInfo> FindGame(SqlConnection& c, int64_t id);
std::optional<std::string> FindJournal(SqlConnection& c, int64_t id);
int64_t PendingGames(SqlConnection& c);

struct ScoreRow {
    int64_t rank = 0, id = 0, score = 0, wave = 0, receivedMs = 0;
    std::string nameHex, mode;
};
// A mode's ranked games from sinceMs on, best first; daily challenges'
// games are in tables of their own.
std::vector<ScoreRow> ListScores(SqlConnection& c, const std::string& mode, int64_t sinceMs, int64_t offset,
                                 int64_t limit);
// A day's challenge table of a mode: each name's best game, best first.
std::vector<ScoreRow> ListDailyScores(SqlConnection& c, const std::string& mode, const std::string& date,
                                      int64_t offset, int64_t limit);

// A game taken from the queue for verification.
struct Claim {
    int64_t id = 0;
    int attempts = 0;  // earlier attempts that did not finish
    JournalHeader claims;
    std::string token, journal;
    int64_t receivedMs = 0;
};
// Takes the oldest pending game nobody holds (or whose holder's lease ran
// out) and holds it until nowMs + leaseMs.
std::optional<Claim> ClaimGame(SqlConnection& c, const std::string& owner, int64_t nowMs, int64_t leaseMs);
// Lets go of a held game until untilMs, when it may be taken again (by any
// process). giveBack: the attempt the claim counted is returned, because the
// trouble was the server's own and not the game's. False when owner no
// longer held it.
bool PostponeGame(SqlConnection& c, int64_t id, const std::string& owner, int64_t untilMs, bool giveBack);
// Files the verdict if owner still holds the game. A ranked verdict also
// spends the game's token; a token spent by another game, or a fingerprint
// another ranked game has, turns it into a rejection. Returns the verdict filed, or nothing when the lease was lost
// (another process has the game now).
std::optional<Verdict> FinishGame(SqlConnection& c, int64_t id, const std::string& owner, Verdict v, int64_t nowMs,
                                  int64_t verifyMs);

// Forgets the tokens issued before olderThanMs that no game has used and no
// pending game names (games that were never sent); returns how many. A token
// a pending game names is kept until that game is judged, however long the
// queue took.
int64_t ForgetUnusedSessions(SqlConnection& c, int64_t olderThanMs);

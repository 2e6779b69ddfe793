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

// A new random token, remembered with the time it was issued.
std::string NewSession(SqlConnection& c, const std::string& address, int64_t nowMs);
std::optional<int64_t> SessionIssuedMs(SqlConnection& c, const std::string& token);

struct GameInfo {
    int64_t id = 0;
    std::string status, reason, mode, nameHex;
    int64_t score = 0, wave = 0, frames = 0, ms = 0;
    int64_t receivedMs = 0;
    int64_t rank = 0;  // all-time place in its mode's table, 0 unless ranked
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
// A mode's ranked games from sinceMs on, best first.
std::vector<ScoreRow> ListScores(SqlConnection& c, const std::string& mode, int64_t sinceMs, int64_t offset,
                                 int64_t limit);

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
// spends the game's token; a token spent by another game turns it into a
// rejection. Returns the verdict filed, or nothing when the lease was lost
// (another process has the game now).
std::optional<Verdict> FinishGame(SqlConnection& c, int64_t id, const std::string& owner, Verdict v, int64_t nowMs,
                                  int64_t verifyMs);

// Forgets the tokens issued before olderThanMs that no game has used and no
// pending game names (games that were never sent); returns how many. A token
// a pending game names is kept until that game is judged, however long the
// queue took.
int64_t ForgetUnusedSessions(SqlConnection& c, int64_t olderThanMs);

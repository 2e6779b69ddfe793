#include "server/store.h"

#include <openssl/rand.h>

#include <array>

namespace {
// Each step runs once, in order; a database records the steps it has had.
// Types differ by dialect only where SQLite and PostgreSQL spell them
// differently: {id} and {blob}.
const std::array<const char*, 2> kMigrations = {
    "CREATE TABLE sessions ("
    " token TEXT PRIMARY KEY,"
    " issued_ms BIGINT NOT NULL,"
    " address TEXT NOT NULL,"
    " game_id BIGINT);"
    "CREATE TABLE games ("
    " id {id},"
    " sha256 TEXT NOT NULL UNIQUE,"
    " journal {blob} NOT NULL,"
    " received_ms BIGINT NOT NULL,"
    " address TEXT NOT NULL,"
    " token TEXT NOT NULL,"
    " mode TEXT NOT NULL,"
    " name_hex TEXT NOT NULL,"
    " score BIGINT NOT NULL,"
    " wave BIGINT NOT NULL,"
    " frames BIGINT NOT NULL,"
    " ms BIGINT NOT NULL,"
    " practice INTEGER NOT NULL,"
    " autoplay INTEGER NOT NULL,"
    " status TEXT NOT NULL,"
    " reason TEXT NOT NULL,"
    " attempts INTEGER NOT NULL,"
    " lease_owner TEXT,"
    " lease_until BIGINT,"
    " finished_ms BIGINT,"
    " verify_ms BIGINT);"
    "CREATE INDEX games_queue ON games (status, id);"
    "CREATE INDEX games_table ON games (mode, status, score DESC, id);"
    "CREATE INDEX games_recent ON games (mode, status, received_ms);",

    // Seeds given by the server: a token carries the seed of its one game,
    // and a daily challenge's token its day and mode. A game keeps the
    // fingerprint its replay reported, and a daily game its day. One game
    // ranks once: the index refuses a second ranked game with the same
    // fingerprint, whichever process files it. Tokens and games from
    // before have no seed and no fingerprint (NULL).
    "ALTER TABLE sessions ADD COLUMN seed BIGINT;"
    "ALTER TABLE sessions ADD COLUMN challenge_date TEXT;"
    "ALTER TABLE sessions ADD COLUMN challenge_mode TEXT;"
    "ALTER TABLE games ADD COLUMN fingerprint TEXT;"
    "ALTER TABLE games ADD COLUMN challenge_date TEXT;"
    "CREATE UNIQUE INDEX games_ranked_once ON games (fingerprint) WHERE status = 'ranked';"
    "CREATE INDEX games_daily ON games (challenge_date, mode, status, name_hex, score DESC, id)"
    " WHERE challenge_date IS NOT NULL;"
    "CREATE TABLE daily_seeds ("
    " day TEXT NOT NULL,"
    " mode TEXT NOT NULL,"
    " seed BIGINT NOT NULL,"
    " made_ms BIGINT NOT NULL,"
    " PRIMARY KEY (day, mode));",
};

std::string Dialect(const SqlConnection& c, std::string sql) {
    auto put = [&](const std::string& key, const char* value) {
        for (size_t p; (p = sql.find(key)) != std::string::npos;) sql.replace(p, key.size(), value);
    };
    put("{id}", c.IsPostgres() ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT");
    put("{blob}", c.IsPostgres() ? "BYTEA" : "BLOB");
    return sql;
}

// Statements one at a time: neither library's prepared path takes several.
void RunScript(SqlConnection& c, const std::string& script) {
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find(';', start);
        if (end == std::string::npos) end = script.size();
        std::string stmt = script.substr(start, end - start);
        if (stmt.find_first_not_of(" \n") != std::string::npos) c.Run(stmt);
        start = end + 1;
    }
}

const char* kGameColumns = "id, status, reason, mode, name_hex, score, wave, frames, ms, received_ms, challenge_date";

// A random number of 31 bits: the range every seed is in.
int64_t RandomSeed() {
    unsigned char raw[4];
    if (RAND_bytes(raw, sizeof raw) != 1) throw SqlError("no random numbers for a seed");
    return (int64_t)(((uint32_t)raw[0] << 24 | (uint32_t)raw[1] << 16 | (uint32_t)raw[2] << 8 | raw[3]) & 0x7fffffffu);
}

std::string RandomToken() {
    unsigned char raw[16];
    if (RAND_bytes(raw, sizeof raw) != 1) throw SqlError("no random numbers for a token");
    return EncodeHex(std::string_view(reinterpret_cast<char*>(raw), sizeof raw));
}

std::vector<ScoreRow> ReadScoreRows(const std::vector<SqlRow>& rows, const std::string& mode, int64_t offset) {
    std::vector<ScoreRow> out;
    for (size_t i = 0; i < rows.size(); i++) {
        ScoreRow s;
        s.rank = offset + (int64_t)i + 1;
        s.id = AsInt(rows[i][0]);
        s.score = AsInt(rows[i][1]);
        s.wave = AsInt(rows[i][2]);
        s.receivedMs = AsInt(rows[i][3]);
        s.nameHex = rows[i][4].s;
        s.mode = mode;
        out.push_back(std::move(s));
    }
    return out;
}

GameInfo ReadGame(const SqlRow& r) {
    GameInfo g;
    g.id = AsInt(r[0]);
    g.status = r[1].s;
    g.reason = r[2].s;
    g.mode = r[3].s;
    g.nameHex = r[4].s;
    g.score = AsInt(r[5]);
    g.wave = AsInt(r[6]);
    g.frames = AsInt(r[7]);
    g.ms = AsInt(r[8]);
    g.receivedMs = AsInt(r[9]);
    g.challengeDate = r[10].kind == SqlValue::NUL ? "" : r[10].s;
    return g;
}
}  // namespace

int SchemaVersion(SqlConnection& c) {
    auto rows = c.Run("SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
    return rows.empty() ? 0 : (int)AsInt(rows[0][0]);
}

void MigrateSchema(SqlConnection& c) {
    SqlTransaction t(c);
    if (c.IsPostgres()) {
        // Servers starting together on one database would race to create
        // the same tables; this lock lets one at a time look and migrate.
        c.Run("SELECT pg_advisory_xact_lock(4189217)");
    }
    c.Run("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_ms BIGINT NOT NULL)");
    int have = SchemaVersion(c);
    if (have > (int)kMigrations.size())
        throw SqlError("the database's schema (version " + std::to_string(have) +
                       ") is newer than this server knows; run a newer server");
    for (int v = have + 1; v <= (int)kMigrations.size(); v++) {
        RunScript(c, Dialect(c, kMigrations[v - 1]));
        c.Run("INSERT INTO schema_migrations (version, applied_ms) VALUES (?, 0)", {SqlInt(v)});
    }
    t.Commit();
}

Session NewSession(SqlConnection& c, const std::string& address, int64_t nowMs) {
    Session s;
    s.token = RandomToken();
    s.seed = RandomSeed();
    SqlTransaction t(c);
    c.Run("INSERT INTO sessions (token, issued_ms, address, seed) VALUES (?, ?, ?, ?)",
          {SqlText(s.token), SqlInt(nowMs), SqlText(address), SqlInt(s.seed)});
    t.Commit();
    return s;
}

int64_t DailySeed(SqlConnection& c, const std::string& date, const std::string& mode, int64_t nowMs) {
    // The seed is random and stored, not derived from a key: nothing the
    // server holds lets anyone work out a day's seed before that day's
    // first token made it. Processes asking at once each offer their own;
    // the first stored wins and all read that one back.
    SqlTransaction t(c);
    c.Run("INSERT INTO daily_seeds (day, mode, seed, made_ms) VALUES (?, ?, ?, ?) ON CONFLICT (day, mode) DO NOTHING",
          {SqlText(date), SqlText(mode), SqlInt(RandomSeed()), SqlInt(nowMs)});
    auto rows = c.Run("SELECT seed FROM daily_seeds WHERE day = ? AND mode = ?", {SqlText(date), SqlText(mode)});
    t.Commit();
    return AsInt(rows.at(0)[0]);
}

Session NewDailySession(SqlConnection& c, const std::string& address, int64_t nowMs, const std::string& date,
                        const std::string& mode) {
    Session s;
    s.token = RandomToken();
    s.seed = DailySeed(c, date, mode, nowMs);
    s.challengeDate = date;
    s.challengeMode = mode;
    SqlTransaction t(c);
    c.Run("INSERT INTO sessions (token, issued_ms, address, seed, challenge_date, challenge_mode) VALUES (?, ?, ?, ?, ?, ?)",
          {SqlText(s.token), SqlInt(nowMs), SqlText(address), SqlInt(s.seed), SqlText(date), SqlText(mode)});
    t.Commit();
    return s;
}

TokenInfo FindToken(SqlConnection& c, const std::string& token) {
    TokenInfo info;
    info.given = !token.empty();
    if (!info.given) return info;
    auto rows = c.Run("SELECT issued_ms, seed, challenge_date, challenge_mode FROM sessions WHERE token = ?",
                      {SqlText(token)});
    if (rows.empty()) return info;
    info.known = true;
    info.issuedMs = AsInt(rows[0][0]);
    info.seed = rows[0][1].kind == SqlValue::NUL ? -1 : AsInt(rows[0][1]);
    if (rows[0][2].kind != SqlValue::NUL) {
        info.challengeDate = rows[0][2].s;
        info.challengeMode = rows[0][3].s;
    }
    return info;
}

std::optional<int64_t> SessionIssuedMs(SqlConnection& c, const std::string& token) {
    auto rows = c.Run("SELECT issued_ms FROM sessions WHERE token = ?", {SqlText(token)});
    if (rows.empty()) return std::nullopt;
    return AsInt(rows[0][0]);
}

Submitted SubmitGame(SqlConnection& c, const JournalHeader& h, const std::string& sha256, const std::string& journal,
                     const std::string& address, int64_t nowMs) {
    // The unique digest settles a race between two uploads of one journal:
    // the second insert does nothing and both answer with the one game.
    SqlTransaction t(c);
    auto found = c.Run("SELECT id, status FROM games WHERE sha256 = ?", {SqlText(sha256)});
    if (!found.empty()) {
        t.Commit();
        return Submitted{AsInt(found[0][0]), found[0][1].s, true};
    }
    auto rows = c.Run(
        "INSERT INTO games (sha256, journal, received_ms, address, token, mode, name_hex, score, wave, frames, ms,"
        " practice, autoplay, status, reason, attempts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'pending', '', 0)"
        " RETURNING id",
        {SqlText(sha256), SqlBlob(journal), SqlInt(nowMs), SqlText(address), SqlText(h.token), SqlText(h.mode),
         SqlText(h.nameHex), SqlInt(h.score), SqlInt(h.wave), SqlInt(h.frames), SqlInt(h.ms), SqlInt(h.practice),
         SqlInt(h.autoplay)});
    t.Commit();
    return Submitted{AsInt(rows.at(0)[0]), "pending", false};
}

std::optional<GameInfo> FindGame(SqlConnection& c, int64_t id) {
    auto rows = c.Run(std::string("SELECT ") + kGameColumns + " FROM games WHERE id = ?", {SqlInt(id)});
    if (rows.empty()) return std::nullopt;
    GameInfo g = ReadGame(rows[0]);
    if (g.status == "ranked" && !g.challengeDate.empty()) {
        // The day's table has one row per name: the game's place is after
        // every other name with a better game that day.
        auto better = c.Run(
            "SELECT COUNT(DISTINCT name_hex) FROM games WHERE challenge_date = ? AND mode = ? AND status = 'ranked'"
            " AND name_hex <> ? AND (score > ? OR (score = ? AND id < ?))",
            {SqlText(g.challengeDate), SqlText(g.mode), SqlText(g.nameHex), SqlInt(g.score), SqlInt(g.score),
             SqlInt(g.id)});
        g.rank = AsInt(better.at(0)[0]) + 1;
    } else if (g.status == "ranked") {
        auto better = c.Run(
            "SELECT COUNT(*) FROM games WHERE mode = ? AND status = 'ranked' AND challenge_date IS NULL"
            " AND (score > ? OR (score = ? AND id < ?))",
            {SqlText(g.mode), SqlInt(g.score), SqlInt(g.score), SqlInt(g.id)});
        g.rank = AsInt(better.at(0)[0]) + 1;
    }
    return g;
}

std::optional<std::string> FindJournal(SqlConnection& c, int64_t id) {
    auto rows = c.Run("SELECT journal FROM games WHERE id = ?", {SqlInt(id)});
    if (rows.empty()) return std::nullopt;
    return rows[0][0].s;
}

int64_t PendingGames(SqlConnection& c) {
    auto rows = c.Run("SELECT COUNT(*) FROM games WHERE status = 'pending'");
    return AsInt(rows.at(0)[0]);
}

std::vector<ScoreRow> ListScores(SqlConnection& c, const std::string& mode, int64_t sinceMs, int64_t offset,
                                 int64_t limit) {
    // The all-time table walks the score index and stops after the page; a
    // period's table picks its games by date first (a day's games are few)
    // and sorts those.
    std::vector<SqlRow> rows =
        sinceMs <= 0 ? c.Run("SELECT id, score, wave, received_ms, name_hex FROM games WHERE mode = ?"
                             " AND status = 'ranked' AND challenge_date IS NULL ORDER BY score DESC, id LIMIT ? OFFSET ?",
                             {SqlText(mode), SqlInt(limit), SqlInt(offset)})
                     : c.Run("SELECT id, score, wave, received_ms, name_hex FROM games WHERE mode = ?"
                             " AND status = 'ranked' AND challenge_date IS NULL AND received_ms >= ?"
                             " ORDER BY score DESC, id LIMIT ? OFFSET ?",
                             {SqlText(mode), SqlInt(sinceMs), SqlInt(limit), SqlInt(offset)});
    return ReadScoreRows(rows, mode, offset);
}

std::vector<ScoreRow> ListDailyScores(SqlConnection& c, const std::string& mode, const std::string& date,
                                      int64_t offset, int64_t limit) {
    // One day's games of one mode come from the daily index; of each name
    // only its best game (the earlier of equal ones) takes a row.
    auto rows = c.Run(
        "SELECT id, score, wave, received_ms, name_hex FROM ("
        "SELECT id, score, wave, received_ms, name_hex,"
        " ROW_NUMBER() OVER (PARTITION BY name_hex ORDER BY score DESC, id) AS nth"
        " FROM games WHERE challenge_date = ? AND mode = ? AND status = 'ranked') AS day"
        " WHERE nth = 1 ORDER BY score DESC, id LIMIT ? OFFSET ?",
        {SqlText(date), SqlText(mode), SqlInt(limit), SqlInt(offset)});
    return ReadScoreRows(rows, mode, offset);
}

std::optional<Claim> ClaimGame(SqlConnection& c, const std::string& owner, int64_t nowMs, int64_t leaseMs) {
    // One statement picks and marks the game. PostgreSQL lets processes
    // pass each other's locked rows; SQLite runs one writer at a time, so
    // the same statement without the locking clause is already exclusive.
    std::string pick =
        "SELECT id FROM games WHERE status = 'pending' AND (lease_until IS NULL OR lease_until < ?)"
        " ORDER BY id LIMIT 1";
    if (c.IsPostgres()) pick += " FOR UPDATE SKIP LOCKED";
    SqlTransaction t(c);
    auto rows = c.Run("UPDATE games SET lease_owner = ?, lease_until = ?, attempts = attempts + 1 WHERE id = (" + pick +
                          ") RETURNING id, attempts, token, journal, received_ms, mode, name_hex, score, wave, frames,"
                          " ms, practice, autoplay",
                      {SqlText(owner), SqlInt(nowMs + leaseMs), SqlInt(nowMs)});
    t.Commit();
    if (rows.empty()) return std::nullopt;
    const SqlRow& r = rows[0];
    Claim cl;
    cl.id = AsInt(r[0]);
    cl.attempts = (int)AsInt(r[1]) - 1;
    cl.token = r[2].s;
    cl.journal = r[3].s;
    cl.receivedMs = AsInt(r[4]);
    cl.claims.mode = r[5].s;
    cl.claims.nameHex = r[6].s;
    DecodeHex(cl.claims.nameHex, cl.claims.name);
    cl.claims.score = AsInt(r[7]);
    cl.claims.wave = AsInt(r[8]);
    cl.claims.frames = AsInt(r[9]);
    cl.claims.ms = AsInt(r[10]);
    cl.claims.practice = AsInt(r[11]) != 0;
    cl.claims.autoplay = AsInt(r[12]) != 0;
    cl.claims.token = cl.token;
    return cl;
}

bool PostponeGame(SqlConnection& c, int64_t id, const std::string& owner, int64_t untilMs, bool giveBack) {
    SqlTransaction t(c);
    c.Run(std::string("UPDATE games SET lease_owner = NULL, lease_until = ?") +
              (giveBack ? ", attempts = CASE WHEN attempts > 0 THEN attempts - 1 ELSE 0 END" : "") +
              " WHERE id = ? AND status = 'pending' AND lease_owner = ?",
          {SqlInt(untilMs), SqlInt(id), SqlText(owner)});
    bool held = c.Changes() == 1;
    t.Commit();
    return held;
}

namespace {
std::optional<Verdict> FinishOnce(SqlConnection& c, int64_t id, const std::string& owner, Verdict v, int64_t nowMs,
                                  int64_t verifyMs) {
    SqlTransaction t(c);
    auto held = c.Run("SELECT token FROM games WHERE id = ? AND status = 'pending' AND lease_owner = ?",
                      {SqlInt(id), SqlText(owner)});
    if (held.empty()) return std::nullopt;
    std::string token = held[0][0].s;
    if (v.status == Verdict::RANKED && !v.fingerprint.empty()) {
        // One game ranks once: a copy of a ranked game (a daily game sent
        // again under another player's token has the same seed) is refused
        // before it spends its token.
        auto same = c.Run("SELECT id FROM games WHERE fingerprint = ? AND status = 'ranked' AND id <> ?",
                          {SqlText(v.fingerprint), SqlInt(id)});
        if (!same.empty()) v = Verdict{Verdict::REJECTED, "the same game as game " + std::to_string(AsInt(same[0][0]))};
    }
    if (v.status == Verdict::RANKED && !token.empty()) {
        // A token starts one game: once a game has ranked with it, another
        // game sent with the same token is not ranked.
        c.Run("UPDATE sessions SET game_id = ? WHERE token = ? AND game_id IS NULL", {SqlInt(id), SqlText(token)});
        if (c.Changes() != 1) {
            auto other = c.Run("SELECT game_id FROM sessions WHERE token = ?", {SqlText(token)});
            v = Verdict{Verdict::REJECTED, other.empty() ? "its session token was not issued by this server"
                                                         : "its session token was already used by game " +
                                                               std::to_string(AsInt(other[0][0]))};
        }
    }
    // A daily challenge's game belongs to the day its token names, the day
    // it was started, whenever it arrives.
    c.Run("UPDATE games SET status = ?, reason = ?, lease_owner = NULL, lease_until = NULL, finished_ms = ?, verify_ms = ?,"
          " fingerprint = ?, challenge_date = (SELECT challenge_date FROM sessions WHERE token = ?)"
          " WHERE id = ? AND status = 'pending' AND lease_owner = ?",
          {SqlText(StatusName(v.status)), SqlText(v.reason), SqlInt(nowMs), SqlInt(verifyMs),
           v.fingerprint.empty() ? SqlNull() : SqlText(v.fingerprint), SqlText(token), SqlInt(id), SqlText(owner)});
    if (c.Changes() != 1) return std::nullopt;
    t.Commit();
    return v;
}
}  // namespace

std::optional<Verdict> FinishGame(SqlConnection& c, int64_t id, const std::string& owner, Verdict v, int64_t nowMs,
                                  int64_t verifyMs) {
    try {
        return FinishOnce(c, id, owner, v, nowMs, verifyMs);
    } catch (const SqlError&) {
        // Two processes ranking copies of one game at the same moment: the
        // index let the other one's through first. Looked at again, this
        // one is the copy.
        if (v.status != Verdict::RANKED || v.fingerprint.empty()) throw;
        return FinishOnce(c, id, owner, v, nowMs, verifyMs);
    }
}

int64_t ForgetUnusedSessions(SqlConnection& c, int64_t olderThanMs) {
    SqlTransaction t(c);
    c.Run("DELETE FROM sessions WHERE game_id IS NULL AND issued_ms < ? AND NOT EXISTS"
          " (SELECT 1 FROM games WHERE games.token = sessions.token AND games.status = 'pending')",
          {SqlInt(olderThanMs)});
    int64_t n = c.Changes();
    t.Commit();
    return n;
}

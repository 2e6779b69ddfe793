#include "server/api.h"

#include <openssl/evp.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "server/front.h"
#include "server/header.h"
#include "server/health.h"
#include "server/logtext.h"
#include "server/store.h"

using nlohmann::json;

namespace {
constexpr int64_t kDayMs = 24 * 3600 * 1000;
constexpr int64_t kMaxOffset = 10000;

ApiReply TooMany() {
    ApiReply e = ErrorReply(429, "too many requests from this address; wait a minute");
    e.headers.push_back({"Retry-After", "60"});
    return e;
}

// An origin (scheme://host[:port]) names the same site as the Host header
// the request came with.
bool SameOrigin(const std::string& origin, const std::string& host) {
    size_t scheme = origin.find("://");
    if (scheme == std::string::npos || host.empty()) return false;
    std::string a = origin.substr(scheme + 3), b = host;
    for (auto* s : {&a, &b})
        for (char& c : *s) c = (char)std::tolower((unsigned char)c);
    return a == b;
}

ApiReply JsonReply(int status, const json& j) {
    ApiReply r;
    r.status = status;
    r.body = j.dump();
    return r;
}

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &len, EVP_sha256(), nullptr) != 1) throw SqlError("SHA-256 failed");
    return EncodeHex(std::string_view(reinterpret_cast<char*>(digest), len));
}

std::string NameText(const std::string& nameHex) {
    std::string bytes;
    DecodeHex(nameHex, bytes);
    return Latin1ToUtf8(bytes);
}

const std::string* Param(const ApiRequest& r, const char* key) {
    auto it = r.params.find(key);
    return it == r.params.end() ? nullptr : &it->second;
}

bool ParseId(const std::string& s, int64_t& id) { return ParseCount(s, id) && id > 0; }

bool ValidMode(const std::string& m) { return m == "easy" || m == "medium" || m == "hard"; }

// The ranked games of a mode and period: shared by the API and the page.
struct TableQuery {
    std::string mode = "medium", period = "all";
    int64_t offset = 0, limit = 20;
};

std::string ReadTableQuery(const ApiRequest& r, TableQuery& q, bool modeRequired) {
    if (const std::string* m = Param(r, "mode")) {
        if (!ValidMode(*m)) return "mode must be easy, medium or hard";
        q.mode = *m;
    } else if (modeRequired) {
        return "name a mode: mode=easy, mode=medium or mode=hard";
    }
    if (const std::string* p = Param(r, "period")) {
        if (*p != "day" && *p != "week" && *p != "all") return "period must be day, week or all";
        q.period = *p;
    }
    if (const std::string* s = Param(r, "offset")) {
        // Deeper pages cost the database a long walk for rows nobody reads.
        if (!ParseCount(*s, q.offset) || q.offset > kMaxOffset)
            return "offset must be a whole number up to " + std::to_string(kMaxOffset);
    }
    if (const std::string* s = Param(r, "limit")) {
        if (!ParseCount(*s, q.limit) || q.limit < 1 || q.limit > 100) return "limit must be a whole number from 1 to 100";
    }
    return "";
}

// A UTC day "YYYY-MM-DD" and the ms at its start; false for anything else.
bool ParseDay(const std::string& s, int64_t& startMs) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    tm d{};
    d.tm_year = std::stoi(s.substr(0, 4)) - 1900;
    d.tm_mon = std::stoi(s.substr(5, 2)) - 1;
    d.tm_mday = std::stoi(s.substr(8, 2));
    if (d.tm_year < 70) return false;
    time_t t = timegm(&d);
    startMs = (int64_t)t * 1000;
    return IsoDate(startMs).substr(0, 10) == s;  // no 31 April
}

std::string Today(int64_t now) { return IsoDate(now).substr(0, 10); }

// The daily challenge's table asked for: its mode and day (today unless
// named; a day that has not begun has no table).
struct DailyQuery {
    std::string date;
    int64_t startMs = 0;
};

std::string ReadDailyQuery(const ApiRequest& r, int64_t now, DailyQuery& d) {
    const std::string* c = Param(r, "challenge");
    if (c && *c != "daily") return "challenge must be daily";
    d.date = Today(now);
    if (const std::string* date = Param(r, "date")) {
        if (!ParseDay(*date, d.startMs)) return "date must be a day written YYYY-MM-DD";
        if (*date > d.date) return "date must be today or an earlier day (UTC)";
        d.date = *date;
    }
    ParseDay(d.date, d.startMs);
    return "";
}

// Seconds left of a day that has begun; 0 once it has ended.
int64_t EndsInSeconds(int64_t dayStartMs, int64_t now) {
    int64_t left = dayStartMs + kDayMs - now;
    return left > 0 ? (left + 999) / 1000 : 0;
}

std::string TimeLeft(int64_t seconds) {
    int64_t h = seconds / 3600, m = (seconds % 3600 + 59) / 60;
    if (m == 60) h++, m = 0;
    return h ? std::to_string(h) + " h " + std::to_string(m) + " min" : std::to_string(m) + " min";
}

int64_t Since(const std::string& period, int64_t now) {
    return period == "day" ? now - kDayMs : period == "week" ? now - 7 * kDayMs : 0;
}

// A table's rows as the API gives them.
json RowsJson(const std::vector<ScoreRow>& rows) {
    json list = json::array();
    for (const ScoreRow& s : rows) {
        list.push_back({{"rank", s.rank},
                        {"id", s.id},
                        {"name", NameText(s.nameHex)},
                        {"score", s.score},
                        {"wave", s.wave},
                        {"mode", s.mode},
                        {"date", IsoDate(s.receivedMs)}});
    }
    return list;
}

std::string Thousands(int64_t n) {
    std::string s = std::to_string(n), out;
    for (size_t i = 0; i < s.size(); i++) {
        if (i && (s.size() - i) % 3 == 0) out += ',';
        out += s[i];
    }
    return out;
}

const char* kPageStyle = R"(
body{font-family:system-ui,sans-serif;margin:0 auto;max-width:44em;padding:1em;background:#10141c;color:#e8e8e8}
h1{font-size:1.4em;margin:.2em 0 .6em}
a{color:#8fd0ff}
nav{display:flex;flex-wrap:wrap;gap:.4em;margin:.4em 0}
nav a{padding:.4em .9em;border-radius:.4em;background:#222a38;text-decoration:none}
nav a.on{background:#3a6ea5;color:#fff;font-weight:bold}
table{width:100%;border-collapse:collapse;margin-top:.8em}
th,td{padding:.45em .4em;text-align:left;border-bottom:1px solid #2a3242}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
td.name{max-width:12em;overflow-wrap:anywhere}
.none{color:#888;font-style:italic}
footer{margin-top:1.5em;font-size:.9em;color:#aaa}
@media (max-width:30em){body{padding:.5em}.date{display:none}th,td{padding:.4em .2em}}
)";
}  // namespace

ApiReply ErrorReply(int status, const std::string& sentence) { return JsonReply(status, json{{"error", sentence}}); }

// A refusal the server will never change its mind on (the same bytes get the
// same answer tomorrow): the client may drop the game. Any other error
// leaves the game with its client, to be sent again later.
ApiReply PermanentErrorReply(int status, const std::string& sentence) {
    return JsonReply(status, json{{"error", sentence}, {"permanent", true}});
}

std::string HtmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string IsoDate(int64_t ms) {
    time_t t = (time_t)(ms / 1000);
    tm g{};
    gmtime_r(&t, &g);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &g);
    return buf;
}

Api::Api(const ServerOptions& o, SqlPool& pool, std::function<int64_t()> now, std::function<void()> wake)
    : o_(o), pool_(pool), now_(std::move(now)), wake_(std::move(wake)) {
    // Tests move the clock to another day (what the daily challenge does
    // at midnight); a real server runs on its own.
    if (o_.testClockOffsetS) now_ = [clock = now_, off = o_.testClockOffsetS * 1000] { return clock() + off; };
}

ApiReply Api::Handle(const ApiRequest& r) {
    ApiReply reply;
    bool get = r.method == "GET" || r.method == "HEAD";
    try {
        if (CrossOriginRefused(r, reply)) {
            // reply holds the refusal
        } else if (get && !Allow(r.address, "get")) {
            reply = TooMany();
        } else {
            reply = Route(r);
        }
    } catch (const SqlError& e) {
        std::fprintf(stderr, "wormlob2-server: database: %s\n", e.what());
        reply = ErrorReply(503, "the database is not answering; try again later");
        reply.headers.push_back({"Retry-After", "5"});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wormlob2-server: %s %s: %s\n", LogEscape(r.method, 20).c_str(), LogEscape(r.path).c_str(),
                     e.what());
        reply = ErrorReply(500, "the server failed to answer this request");
    }
    // Pages of the origins the operator listed may read the answers; no
    // other site's page may (a page this server serves needs no header).
    if (r.path.rfind("/api/", 0) == 0 && !r.origin.empty() && ListedOrigin(r.origin)) {
        reply.headers.push_back({"Access-Control-Allow-Origin", r.origin});
        reply.headers.push_back({"Vary", "Origin"});
    }
    return reply;
}

bool Api::ListedOrigin(const std::string& origin) const {
    for (const std::string& o : o_.allowOrigins) {
        if (o == origin) return true;
    }
    return false;
}

bool Api::CrossOriginRefused(const ApiRequest& r, ApiReply& refusal) const {
    // Browsers name the page's origin on every POST and preflight; other
    // clients (the game) send none and are not a page acting for a visitor.
    bool preflight = r.method == "OPTIONS";
    bool writes = r.method != "GET" && r.method != "HEAD" && !preflight;
    if (!preflight && !writes) return false;
    if (r.origin.empty() && !preflight) return false;
    if (!r.origin.empty() && (SameOrigin(r.origin, r.host) || ListedOrigin(r.origin))) return false;
    refusal = ErrorReply(403, "this server takes requests from other web sites' pages only from the origins its "
                              "operator lists (--allow-origin)");
    return true;
}

ApiReply Api::Route(const ApiRequest& r) {
    const std::string& p = r.path;
    const std::string& m = r.method;
    bool get = m == "GET" || m == "HEAD";
    auto onlyMethod = [&](const char* allowed) {
        ApiReply e = ErrorReply(405, std::string("use ") + allowed + " here");
        e.headers.push_back({"Allow", allowed});
        return e;
    };
    if (m == "OPTIONS" && p.rfind("/api/v1/", 0) == 0) {
        // Lets a page from a listed origin send journals (a preflight; any
        // other was refused above).
        ApiReply pre;
        pre.status = 204;
        pre.type = "";
        pre.headers = {{"Access-Control-Allow-Methods", "GET, POST"},
                       {"Access-Control-Allow-Headers", "Content-Type"},
                       {"Access-Control-Max-Age", "86400"}};
        return pre;
    }
    if (p == "/" || p == "/index.html") return get ? Page(r) : onlyMethod("GET");
    if (p == "/play") {
        ApiReply moved = ErrorReply(301, "the game is at /play/");
        moved.headers.push_back({"Location", "/play/"});
        return moved;
    }
    if (p == "/api/v1/sessions") return m == "POST" ? NewSession(r) : onlyMethod("POST");
    if (p == "/api/v1/games") return m == "POST" ? Submit(r) : onlyMethod("POST");
    if (p == "/api/v1/scores") return get ? Scores(r) : onlyMethod("GET");
    if (p == "/api/v1/health") return get ? Health() : onlyMethod("GET");
    const std::string games = "/api/v1/games/";
    if (p.rfind(games, 0) == 0) {
        std::string rest = p.substr(games.size());
        bool journal = rest.size() > 8 && rest.compare(rest.size() - 8, 8, "/journal") == 0;
        if (journal) rest.resize(rest.size() - 8);
        int64_t id = 0;
        if (!ParseId(rest, id)) return ErrorReply(404, "no game has that id");
        if (!get) return onlyMethod("GET");
        return journal ? Journal(id) : Game(id);
    }
    if (p.rfind("/play/", 0) == 0)
        return ErrorReply(404, o_.site.empty() ? "this server does not serve the game (it was started without --site)"
                                               : "no such file in the game's site");
    return ErrorReply(404, "nothing is at " + (p.size() > 200 ? p.substr(0, 200) + "..." : p));
}

bool Api::Allow(const std::string& address, const char* kind) {
    bool post = std::string(kind) == "post";
    int limit = post ? o_.rateLimit : o_.getRateLimit;
    double burst = post ? o_.rateBurst : o_.getRateBurst;
    if (limit <= 0) return true;
    int64_t now = now_();
    std::lock_guard<std::mutex> lock(rateMutex_);
    if (buckets_.size() > 100000) {
        // Forget addresses whose allowance has filled up again.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            bool itPost = it->first.rfind("post ", 0) == 0;
            double rate = (itPost ? o_.rateLimit : o_.getRateLimit) / 60000.0;
            double cap = itPost ? o_.rateBurst : o_.getRateBurst;
            bool full = it->second.tokens + (now - it->second.lastMs) * rate >= cap;
            it = full ? buckets_.erase(it) : std::next(it);
        }
    }
    auto [it, fresh] = buckets_.try_emplace(std::string(kind) + " " + AddressBucket(address));
    Bucket& b = it->second;
    if (fresh) {
        b.tokens = burst;
    } else {
        b.tokens = std::min<double>(burst, b.tokens + (now - b.lastMs) * limit / 60000.0);
    }
    b.lastMs = now;
    if (b.tokens < 1) return false;
    b.tokens -= 1;
    return true;
}

ApiReply Api::NewSession(const ApiRequest& r) {
    if (!Allow(r.address, "post")) return TooMany();
    // The body is empty (or {}) for an ordinary game's token, or asks for
    // the daily challenge of a mode: nothing else.
    std::string mode;
    if (!r.body.empty()) {
        const char* form = "send no body, {}, or {\"challenge\": \"daily\", \"mode\": \"easy|medium|hard\"}";
        json b = r.body.size() <= 1000 ? json::parse(r.body, nullptr, false) : json(nullptr);
        if (!b.is_object()) return ErrorReply(400, form);
        for (auto& [key, value] : b.items()) {
            if (key != "challenge" && key != "mode") return ErrorReply(400, form);
        }
        if (b.contains("challenge") || b.contains("mode")) {
            if (!b.contains("challenge") || b["challenge"] != "daily") return ErrorReply(400, form);
            if (!b.contains("mode") || !b["mode"].is_string() || !ValidMode(b["mode"].get<std::string>()))
                return ErrorReply(400, "name the daily challenge's mode: easy, medium or hard");
            mode = b["mode"].get<std::string>();
        }
    }
    auto c = pool_.Get();
    int64_t now = now_();
    if (mode.empty()) {
        Session s = ::NewSession(*c, r.address, now);
        return JsonReply(200, json{{"token", s.token}, {"seed", s.seed}});
    }
    Session s = NewDailySession(*c, r.address, now, Today(now), mode);
    return JsonReply(200, json{{"token", s.token},
                               {"seed", s.seed},
                               {"challenge", "daily"},
                               {"date", s.challengeDate},
                               {"mode", s.challengeMode}});
}

ApiReply Api::Submit(const ApiRequest& r) {
    if (!Allow(r.address, "post")) return TooMany();
    if (r.body.empty()) return PermanentErrorReply(400, "send the game journal file as the request body");
    if ((int64_t)r.body.size() > o_.maxJournalBytes)
        return PermanentErrorReply(413, "the journal is larger than the " + std::to_string(o_.maxJournalBytes) +
                                            " bytes this server takes");
    JournalHeader h;
    HeaderLimits limits;
    limits.maxFrames = o_.maxFrames;
    limits.maxNameBytes = (size_t)o_.maxNameBytes;
    std::string why = ParseJournalHeader(r.body, limits, h);
    if (!why.empty()) return PermanentErrorReply(400, "this is not a game journal the server can take: " + why);
    std::string sha = Sha256Hex(r.body);
    auto c = pool_.Get();
    if (PendingGames(*c) >= o_.maxQueue) {
        ApiReply e = ErrorReply(503, "the server has too many games waiting to be verified; send it again later");
        e.headers.push_back({"Retry-After", "60"});
        return e;
    }
    Submitted s;
    try {
        s = SubmitGame(*c, h, sha, r.body, r.address, now_());
    } catch (const SqlError&) {
        // Two uploads of one journal at once: the other one stored it.
        s = SubmitGame(*c, h, sha, r.body, r.address, now_());
    }
    if (!s.duplicate) wake_();
    return JsonReply(s.duplicate ? 200 : 202, json{{"id", s.id}, {"status", s.status}});
}

ApiReply Api::Game(int64_t id) {
    auto c = pool_.Get();
    auto g = FindGame(*c, id);
    if (!g) return ErrorReply(404, "no game has that id");
    json j = {{"id", g->id}, {"status", g->status}, {"reason", g->reason}, {"date", IsoDate(g->receivedMs)}};
    json header = {{"name", NameText(g->nameHex)}, {"score", g->score}, {"wave", g->wave}, {"mode", g->mode}};
    if (g->status == "ranked") {
        // Replayed and found true: these are facts.
        j.update(header);
        j["rank"] = g->rank ? json(g->rank) : json(nullptr);
    } else {
        // Only what the sender wrote in the header: kept apart, so that no
        // reader takes it for a verified result.
        for (const char* k : {"name", "score", "wave", "mode", "rank"}) j[k] = nullptr;
        j["claimed"] = header;
    }
    if (!g->challengeDate.empty()) {
        // Its rank is its place in its day's table.
        j["challenge"] = "daily";
        j["challenge_date"] = g->challengeDate;
    }
    return JsonReply(200, j);
}

ApiReply Api::Journal(int64_t id) {
    // Only ranked games are watched: visitors' browsers replay only what
    // the game has already replayed here without fault.
    auto c = pool_.Get();
    auto g = FindGame(*c, id);
    if (!g) return ErrorReply(404, "no game has that id");
    if (g->status != "ranked") return ErrorReply(404, "only ranked games can be watched; this one is " + g->status);
    auto body = FindJournal(*c, id);
    if (!body) return ErrorReply(404, "no game has that id");
    ApiReply r;
    r.type = "application/octet-stream";
    r.body = std::move(*body);
    r.headers.push_back({"Content-Disposition", "attachment; filename=\"game-" + std::to_string(id) + ".w2g\""});
    r.headers.push_back({"Cache-Control", "public, max-age=31536000, immutable"});
    return r;
}

bool Api::Cached(const std::string& key, ApiReply& out) {
    if (o_.cacheMs <= 0) return false;
    int64_t now = now_();
    std::lock_guard<std::mutex> lock(cacheMutex_);
    auto it = cache_.find(key);
    if (it == cache_.end()) return false;
    CacheEntry& e = it->second;
    if (e.expiresMs < now) {
        // The first request after the answer expired reads the table again;
        // the others keep getting the old answer meanwhile, rather than all
        // queueing for the database at the same moment. One that has taken
        // over a second is given up on.
        if (e.refreshingSinceMs == 0 || now - e.refreshingSinceMs > 1000) {
            e.refreshingSinceMs = now;
            return false;
        }
    }
    out = e.reply;
    return true;
}

void Api::Keep(const std::string& key, const ApiReply& reply) {
    if (o_.cacheMs <= 0) return;
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (cache_.size() > 1000) cache_.clear();  // offsets are many; keep it small
    cache_[key] = CacheEntry{now_() + o_.cacheMs, 0, reply};
}

void Api::ScoresChanged() {
    // Expired, not dropped: the next request reads the table again while
    // the ones that come with it still get the old answer.
    std::lock_guard<std::mutex> lock(cacheMutex_);
    for (auto& [key, e] : cache_) e.expiresMs = 0;
}

ApiReply Api::Scores(const ApiRequest& r) {
    TableQuery q;
    std::string why = ReadTableQuery(r, q, true);
    if (!why.empty()) return ErrorReply(400, why);
    if (Param(r, "challenge") || Param(r, "date")) return DailyScores(r, q.mode, q.offset, q.limit);
    std::string key = "scores " + q.mode + " " + q.period + " " + std::to_string(q.offset) + " " + std::to_string(q.limit);
    ApiReply reply;
    if (Cached(key, reply)) return reply;
    std::vector<ScoreRow> rows;
    {
        auto c = pool_.Get();
        rows = ListScores(*c, q.mode, Since(q.period, now_()), q.offset, q.limit);
    }
    json list = RowsJson(rows);
    reply = JsonReply(200, json{{"scores", list}});
    Keep(key, reply);
    return reply;
}

ApiReply Api::DailyScores(const ApiRequest& r, const std::string& mode, int64_t offset, int64_t limit) {
    int64_t now = now_();
    DailyQuery d;
    std::string why = ReadDailyQuery(r, now, d);
    if (!why.empty()) return ErrorReply(400, why);
    // The day and mode are in the key: each day's table is its own.
    std::string key = "daily " + mode + " " + d.date + " " + std::to_string(offset) + " " + std::to_string(limit);
    ApiReply reply;
    if (Cached(key, reply)) return reply;
    std::vector<ScoreRow> rows;
    {
        auto c = pool_.Get();
        rows = ListDailyScores(*c, mode, d.date, offset, limit);
    }
    json list = RowsJson(rows);
    reply = JsonReply(200, json{{"date", d.date}, {"ends_in_s", EndsInSeconds(d.startMs, now)}, {"scores", list}});
    Keep(key, reply);
    return reply;
}

ApiReply Api::Page(const ApiRequest& r) {
    TableQuery q;
    q.limit = 100;
    std::string why = ReadTableQuery(r, q, false);
    if (!why.empty()) return ErrorReply(400, why);
    // The Daily tab: a day's challenge table (today's unless a date is
    // named), with the time it has left and the days before it.
    int64_t now = now_();
    bool daily = Param(r, "challenge") || Param(r, "date");
    DailyQuery d;
    if (daily) {
        why = ReadDailyQuery(r, now, d);
        if (!why.empty()) return ErrorReply(400, why);
    }
    // Every parameter that changes the page is in the key; the daily page
    // also says how long its day has left, to the minute.
    std::string place = " " + std::to_string(q.offset) + " " + std::to_string(q.limit);
    std::string key = daily ? "page daily " + q.mode + " " + d.date + place + " " +
                                  std::to_string(EndsInSeconds(d.startMs, now) / 60)
                            : "page " + q.mode + " " + q.period + place;
    ApiReply reply;
    if (Cached(key, reply)) return reply;
    std::vector<ScoreRow> rows;
    {
        auto c = pool_.Get();
        rows = daily ? ListDailyScores(*c, q.mode, d.date, q.offset, q.limit)
                     : ListScores(*c, q.mode, Since(q.period, now), q.offset, q.limit);
    }
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                    "<title>Wormlob 2 high scores</title><style>";
    h += kPageStyle;
    h += "</style></head><body>\n<h1>Wormlob 2 high scores</h1>\n<nav class=\"modes\">";
    std::string tab = daily ? "challenge=daily&amp;date=" + d.date : "period=" + q.period;
    for (const char* m : {"easy", "medium", "hard"}) {
        std::string label = m;
        label[0] = (char)std::toupper((unsigned char)label[0]);
        h += std::string("<a href=\"/?mode=") + m + "&amp;" + tab + "\"" + (q.mode == m ? " class=\"on\"" : "") + ">" +
             label + "</a>";
    }
    h += "</nav>\n<nav class=\"periods\">";
    for (auto [p, label] : {std::pair{"day", "Today"}, {"week", "This week"}, {"all", "All time"}}) {
        h += std::string("<a href=\"/?mode=") + q.mode + "&amp;period=" + p + "\"" +
             (!daily && q.period == p ? " class=\"on\"" : "") + ">" + label + "</a>";
    }
    h += "<a href=\"/?mode=" + q.mode + "&amp;challenge=daily\"" + (daily ? " class=\"on\"" : "") + ">Daily</a>";
    h += "</nav>\n";
    if (daily) {
        int64_t left = EndsInSeconds(d.startMs, now);
        h += "<p class=\"challenge\">Daily challenge of " + d.date + ": " +
             (left ? "ends in " + TimeLeft(left) : std::string("ended")) + ".</p>\n<nav class=\"days\">";
        // Today and the seven days before it.
        int64_t todayStart = 0;
        ParseDay(Today(now), todayStart);
        for (int back = 0; back <= 7; back++) {
            std::string day = Today(todayStart - back * kDayMs);
            h += "<a href=\"/?mode=" + q.mode + "&amp;challenge=daily&amp;date=" + day + "\"" +
                 (day == d.date ? " class=\"on\"" : "") + ">" + (back ? day.substr(5) : std::string("Today")) + "</a>";
        }
        h += "</nav>\n";
    }
    h += "<table><thead><tr><th class=\"n\">#</th><th>Name</th><th class=\"n\">Score</th>"
         "<th class=\"n\">Wave</th><th class=\"date\">Date</th><th></th></tr></thead><tbody>\n";
    for (const ScoreRow& s : rows) {
        std::string name = NameText(s.nameHex);
        std::string id = std::to_string(s.id);
        h += "<tr id=\"game-" + id + "\"><td class=\"n\">" + std::to_string(s.rank) + "</td><td class=\"name\">" +
             (name.empty() ? "<span class=\"none\">no name</span>" : HtmlEscape(name)) + "</td><td class=\"n\">" +
             Thousands(s.score) + "</td><td class=\"n\">" + std::to_string(s.wave) + "</td><td class=\"date\">" +
             IsoDate(s.receivedMs).substr(0, 10) + "</td><td><a class=\"watch\" href=\"/play/?replay=/api/v1/games/" + id +
             "/journal\">Watch</a></td></tr>\n";
    }
    if (rows.empty()) h += "<tr><td colspan=\"6\" class=\"none\">No ranked games yet.</td></tr>\n";
    h += "</tbody></table>\n<footer>Every game here was replayed by the game itself before it was ranked. "
         "<a href=\"/play/\">Play in the browser</a>.</footer>\n</body></html>\n";
    reply.type = "text/html; charset=utf-8";
    reply.body = std::move(h);
    Keep(key, reply);
    return reply;
}

ApiReply Api::Health() {
    HealthState h = CurrentHealth();
    json j = {{"status", h.troubles.empty() ? "ok" : "failing"}};
    if (!h.troubles.empty()) j["troubles"] = h.troubles;
    if (!h.notes.empty()) j["notes"] = h.notes;
    try {
        auto c = pool_.Get();
        j["pending"] = PendingGames(*c);
    } catch (const SqlError& e) {
        j["status"] = "failing";
        j["troubles"]["database"] = "the database is not answering";
    }
    ApiReply r = JsonReply(j["status"] == "ok" ? 200 : 503, j);
    if (r.status == 503) r.headers.push_back({"Retry-After", "30"});
    return r;
}

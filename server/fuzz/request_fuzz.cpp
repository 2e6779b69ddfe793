// Feeds arbitrary requests to the server's handling, on a fresh database in
// memory each time. An input is a method number, then path, query and body:
//     <byte: method> path \n key=value&key=value \n body
// Journals the server takes are ranked at once (as if verified), so the
// tables and the page show names the fuzzer chose. The database starts with
// a few ranked games, so that every table the fuzzer asks for must show as
// many rows as its limit and offset leave, and the plain page and table
// asked for afterwards (through the same answer cache) must show all of
// them whatever the fuzzer asked before.
#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "server/api.h"
#include "server/header.h"
#include "server/store.h"

namespace {
constexpr int64_t kNow = 1700000000000;
const char* kSeedModes[] = {"medium", "medium", "medium", "easy", "easy"};

int64_t Seeded(const std::string& mode) {
    return std::count(std::begin(kSeedModes), std::end(kSeedModes), mode);
}

void Seed(SqlPool& pool) {
    auto c = pool.Get();
    int n = 0;
    for (const char* mode : kSeedModes) {
        JournalHeader h;
        h.rules = h.assets = "0123456789abcdef";
        h.mode = mode;
        h.name = "Seed" + std::to_string(n);
        h.nameHex = EncodeHex(h.name);
        h.score = 1000 + n;
        h.wave = 2;
        h.frames = 60;
        h.ms = 1000;
        std::string journal = "seed journal " + std::to_string(n);
        Submitted s = SubmitGame(*c, h, std::string(64, (char)('a' + n)), journal, "192.0.2.1", kNow);
        c->Run("UPDATE games SET status = 'ranked' WHERE id = ?", {SqlInt(s.id)});
        n++;
    }
}

// The rows a table answer holds: the page's or the API's.
int64_t Rows(const ApiReply& a) {
    if (a.type.rfind("text/html", 0) == 0) {
        int64_t n = 0;
        for (size_t p = a.body.find("<tr id=\"game-"); p != std::string::npos; p = a.body.find("<tr id=\"game-", p + 1))
            n++;
        return n;
    }
    auto j = nlohmann::json::parse(a.body, nullptr, false);
    if (j.is_discarded() || !j.contains("scores") || !j["scores"].is_array()) __builtin_trap();
    return (int64_t)j["scores"].size();
}

ApiRequest Get(const std::string& path, const char* mode) {
    ApiRequest r;
    r.method = "GET";
    r.path = path;
    r.address = "127.0.0.1";
    if (mode) r.params.emplace("mode", mode);
    return r;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* methods[] = {"GET", "POST", "HEAD", "OPTIONS", "DELETE", "PUT"};
    std::string in((const char*)data + 1, size - 1);
    ApiRequest r;
    r.method = methods[data[0] % 6];
    r.address = "127.0.0.1";
    size_t nl = in.find('\n');
    r.path = in.substr(0, nl);
    if (nl != std::string::npos) {
        size_t nl2 = in.find('\n', nl + 1);
        std::string query = in.substr(nl + 1, nl2 == std::string::npos ? std::string::npos : nl2 - nl - 1);
        for (size_t p = 0; p < query.size();) {
            size_t amp = query.find('&', p);
            std::string kv = query.substr(p, amp == std::string::npos ? std::string::npos : amp - p);
            size_t eq = kv.find('=');
            r.params.emplace(kv.substr(0, eq), eq == std::string::npos ? "" : kv.substr(eq + 1));
            if (amp == std::string::npos) break;
            p = amp + 1;
        }
        if (nl2 != std::string::npos) r.body = in.substr(nl2 + 1);
    }

    ServerOptions o;
    o.rateLimit = 0;
    o.getRateLimit = 0;
    o.maxJournalBytes = 65536;
    SqlPool pool(":memory:", 1);
    {
        auto c = pool.Get();
        MigrateSchema(*c);
    }
    Seed(pool);
    Api api(o, pool, [] { return kNow; }, [] {});
    ApiReply a = api.Handle(r);
    if (a.status < 200 || a.status > 599) __builtin_trap();
    if (a.type == "application/json") {
        auto j = nlohmann::json::parse(a.body, nullptr, false);
        if (j.is_discarded()) __builtin_trap();
        if (a.status >= 400 && !(j.contains("error") && j["error"].is_string())) __builtin_trap();
    }
    // A table answer holds as many rows as its limit and offset leave.
    bool page = r.path == "/" || r.path == "/index.html";
    if ((r.method == "GET" || r.method == "HEAD") && (page || r.path == "/api/v1/scores") && a.status == 200) {
        auto param = [&](const char* key, int64_t fallback) {
            auto it = r.params.find(key);
            int64_t v = fallback;
            if (it != r.params.end() && !ParseCount(it->second, v)) __builtin_trap();  // answered 200
            return v;
        };
        auto m = r.params.find("mode");
        std::string mode = m == r.params.end() ? "medium" : m->second;
        int64_t limit = param("limit", page ? 100 : 20), offset = param("offset", 0);
        if (limit < 1 || limit > 100) __builtin_trap();
        if (Rows(a) != std::min(limit, std::max<int64_t>(0, Seeded(mode) - offset))) __builtin_trap();
    }
    // Whatever came before, the plain page and table show every game.
    if (Rows(api.Handle(Get("/", nullptr))) != Seeded("medium")) __builtin_trap();
    if (Rows(api.Handle(Get("/", "easy"))) != Seeded("easy")) __builtin_trap();
    if (Rows(api.Handle(Get("/api/v1/scores", "medium"))) != Seeded("medium")) __builtin_trap();

    if (r.method == "POST" && r.path == "/api/v1/games" && a.status == 202) {
        int64_t newId = 0;
        {
            auto c = pool.Get();
            auto claim = ClaimGame(*c, "fuzz", 1, 1000);
            if (!claim) __builtin_trap();
            newId = claim->id;
            // Ranked by hand: the fuzzer's tokens were never issued.
            c->Run("UPDATE games SET status = 'ranked' WHERE id = ?", {SqlInt(claim->id)});
        }
        api.ScoresChanged();
        JournalHeader h;
        ParseJournalHeader(r.body, HeaderLimits{}, h);
        ApiRequest page;
        page.method = "GET";
        page.path = "/";
        page.params.emplace("mode", h.mode);
        ApiReply p = api.Handle(page);
        std::string shown = Latin1ToUtf8(h.name);
        // The new game's own row shows its name.
        size_t rowAt = p.body.find("<tr id=\"game-" + std::to_string(newId) + "\"");
        std::string row = rowAt == std::string::npos ? "" : p.body.substr(rowAt, p.body.find("</tr>", rowAt) - rowAt);
        if (p.status != 200 || row.find(shown.empty() ? "no name" : HtmlEscape(shown)) == std::string::npos)
            __builtin_trap();
        // Markup in a name never reaches the page as markup.
        if (shown.find_first_of("<>&\"'") != std::string::npos && p.body.find(shown) != std::string::npos)
            __builtin_trap();
        ApiRequest table;
        table.method = "GET";
        table.path = "/api/v1/scores";
        table.params.emplace("mode", h.mode);
        auto j = nlohmann::json::parse(api.Handle(table).body, nullptr, false);
        if (j.is_discarded() || (int64_t)j["scores"].size() != Seeded(h.mode) + 1) __builtin_trap();
        bool listed = false;
        for (const auto& s : j["scores"]) listed = listed || (s["id"] == newId && s["name"] == shown);
        if (!listed) __builtin_trap();
    }
    return 0;
}

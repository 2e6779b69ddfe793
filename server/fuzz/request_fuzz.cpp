// Feeds arbitrary requests to the server's handling, on a fresh database in
// memory each time. An input is a method number, then path, query and body:
//     <byte: method> path \n key=value&key=value \n body
// Journals the server takes are ranked at once (as if verified), so the
// tables and the page show names the fuzzer chose.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "server/api.h"
#include "server/header.h"
#include "server/store.h"

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
    o.maxJournalBytes = 65536;
    SqlPool pool(":memory:", 1);
    {
        auto c = pool.Get();
        MigrateSchema(*c);
    }
    Api api(o, pool, [] { return int64_t(1700000000000); }, [] {});
    ApiReply a = api.Handle(r);
    if (a.status < 200 || a.status > 599) __builtin_trap();
    if (a.type == "application/json") {
        auto j = nlohmann::json::parse(a.body, nullptr, false);
        if (j.is_discarded()) __builtin_trap();
        if (a.status >= 400 && !(j.contains("error") && j["error"].is_string())) __builtin_trap();
    }
    if (r.method == "POST" && r.path == "/api/v1/games" && a.status == 202) {
        {
            auto c = pool.Get();
            auto claim = ClaimGame(*c, "fuzz", 1, 1000);
            if (!claim) __builtin_trap();
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
        if (p.status != 200 || p.body.find(shown.empty() ? "no name" : HtmlEscape(shown)) == std::string::npos)
            __builtin_trap();
        // Markup in a name never reaches the page as markup.
        if (shown.find_first_of("<>&\"'") != std::string::npos && p.body.find(shown) != std::string::npos)
            __builtin_trap();
        ApiRequest table;
        table.method = "GET";
        table.path = "/api/v1/scores";
        table.params.emplace("mode", h.mode);
        auto j = nlohmann::json::parse(api.Handle(table).body, nullptr, false);
        if (j.is_discarded() || j["scores"].size() != 1 || j["scores"][0]["name"] != shown) __builtin_trap();
    }
    return 0;
}

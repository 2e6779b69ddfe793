// The server's requests and answers, apart from the HTTP library: the JSON
// API under /api/v1/, the leaderboard page at /, and the limits that guard
// them. The HTTP front end and the fuzz target both call Api::Handle.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "server/db.h"
#include "server/options.h"

struct ApiRequest {
    std::string method, path, body, address;
    std::string origin, host;  // the Origin and Host headers; "" when not sent
    std::multimap<std::string, std::string> params;  // the query, decoded
};

struct ApiReply {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// An error answer: {"error": sentence}.
ApiReply ErrorReply(int status, const std::string& sentence);
// The same with "permanent": true: the server will never take these bytes,
// so a client may drop them rather than send them again.
ApiReply PermanentErrorReply(int status, const std::string& sentence);
std::string HtmlEscape(const std::string& s);
// Milliseconds since 1970 as "2024-05-01T12:00:00Z".
std::string IsoDate(int64_t ms);

class Api {
public:
    // now: the clock in ms since 1970; wake: called when a game was queued.
    Api(const ServerOptions& o, SqlPool& pool, std::function<int64_t()> now, std::function<void()> wake);
    ApiReply Handle(const ApiRequest& r);
    // A game was ranked: cached tables are out of date.
    void ScoresChanged();

private:
    ApiReply Route(const ApiRequest& r);
    ApiReply NewSession(const ApiRequest& r);
    ApiReply Submit(const ApiRequest& r);
    ApiReply Game(int64_t id);
    ApiReply Journal(int64_t id);
    ApiReply Scores(const ApiRequest& r);
    ApiReply DailyScores(const ApiRequest& r, const std::string& mode, int64_t offset, int64_t limit);
    ApiReply Page(const ApiRequest& r);
    ApiReply Health();
    // False when the address (its IPv6 /64) has used up its allowance of
    // this kind: "post" (tokens and submissions) or "get".
    bool Allow(const std::string& address, const char* kind);
    // Refuses a POST from another web site's page (and its preflight) unless
    // the operator listed that origin; names a listed origin in the answer.
    bool CrossOriginRefused(const ApiRequest& r, ApiReply& refusal) const;
    bool ListedOrigin(const std::string& origin) const;
    bool Cached(const std::string& key, ApiReply& out);
    void Keep(const std::string& key, const ApiReply& reply);

    const ServerOptions& o_;
    SqlPool& pool_;
    std::function<int64_t()> now_;
    std::function<void()> wake_;

    struct Bucket {
        double tokens = 0;
        int64_t lastMs = 0;
    };
    std::mutex rateMutex_;
    std::unordered_map<std::string, Bucket> buckets_;

    struct CacheEntry {
        int64_t expiresMs = 0;
        int64_t refreshingSinceMs = 0;  // one request is reading it again; 0 when none
        ApiReply reply;
    };
    std::mutex cacheMutex_;
    std::unordered_map<std::string, CacheEntry> cache_;
};

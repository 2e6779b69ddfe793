// The score client (see online.h). The parts every build shares come first:
// the settings file, the outbox, reading the server's answers and the
// message texts. Then the desktop's workers (libcurl), then the page's calls
// into its script.
#include "services/online.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/journal.h"
#include "media/system.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/startup.h"
#include "shell/text.h"

#ifndef __EMSCRIPTEN__
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace {
const char* const kModeWords[3] = {"easy", "medium", "hard"};
const char* const kModeNames[3] = {"Easy", "Medium", "Hard"};
const char* const kSettingsFile = "Online.ini";

int ModeNumber(const std::string& word) {
    for (int m = 0; m < 3; m++)
        if (word == kModeWords[m]) return m;
    return -1;
}

std::string LowerText(std::string t) {
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return t;
}

// The server's reason in a few words the message font can draw: printable
// ASCII, blanks collapsed, no closing full stop, cut at a word near 44
// characters.
std::string ShortReason(const std::string& reason) {
    std::string out;
    for (unsigned char c : reason) {
        char k = c >= 32 && c < 127 ? (char)c : ' ';
        if (k == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += k;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    const size_t most = 44;
    if (out.size() > most) {
        size_t cut = out.rfind(' ', most);
        out = out.substr(0, cut == std::string::npos || cut < most / 2 ? most : cut) + "...";
    }
    return out.empty() ? "no reason given" : out;
}

// The server's reason on one log line: control bytes (a line break that
// would start a line of its own in Debug.txt) become blanks.
std::string OneLine(const std::string& reason) {
    std::string out = reason;
    for (char& c : out)
        if ((unsigned char)c < 32 || c == 127) c = ' ';
    return out;
}

// "YYYY-MM-DD": a daily challenge's date as the server gives it.
bool IsDayText(const std::string& t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    for (size_t i = 0; i < t.size(); i++)
        if (i != 4 && i != 7 && !std::isdigit((unsigned char)t[i])) return false;
    return true;
}

// What a game started from the title tells the player and the log about
// the token it took, on the desktop and in the page alike.
void AnnounceTicket(const OnlineTicket& t) {
    if (!t.daily.empty()) AddMessage("Daily Challenge, " + t.daily, 0);
    else if (t.token.empty()) AddMessage("Playing offline: this game will not be ranked", 0);
    LogLine(t.token.empty() ? "\tScore server: no session token ready; the game is played offline"
                            : "\tScore server: the game starts from its session token's seed" +
                                  (t.seed >= 0 ? " " + std::to_string(t.seed) : std::string(" (none given)")));
}

bool SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}
}  // namespace

// ---------------------------------------------------------------- settings ---

std::string ServerAddress(const std::string& text) {
    std::string t = TrimText(text);
    size_t scheme = t.find("://");
    if (scheme == std::string::npos) return "";
    std::string name = LowerText(t.substr(0, scheme));
    if (name != "http" && name != "https") return "";
    if (t.find_first_of("?#") != std::string::npos) return "";
    for (unsigned char c : t)
        if (c <= 32 || c >= 127) return "";
    while (t.size() > scheme + 3 && t.back() == '/') t.pop_back();
    std::string rest = t.substr(scheme + 3);
    if (rest.empty() || rest[0] == '/' || rest[0] == ':') return "";
    return name + t.substr(scheme);
}

OnlineSettings ReadOnlineSettings(const std::string& path) {
    OnlineSettings s;
    std::ifstream f(path, std::ios::binary);
    std::string line;
    while (f && std::getline(f, line)) {
        line = TrimText(line);
        size_t eq = line.find('=');
        if (line.empty() || line[0] == ';' || eq == std::string::npos) continue;
        std::string key = LowerText(TrimText(line.substr(0, eq)));
        std::string value = TrimText(line.substr(eq + 1));
        if (key == "send") s.send = value == "1";
        else if (key == "server") s.server = ServerAddress(value);
    }
    return s;
}

bool WriteOnlineSettings(const std::string& path, const OnlineSettings& s) {
    const std::string lines[] = {
        "; Wormlob 2's score server. While Send is 1, every finished game that",
        "; counts is sent to Server: the name typed at name entry and the game's",
        "; journal (its start, its input and its clock), nothing else.",
        "; Send=0 turns it off.",
        std::string("Send=") + (s.send ? "1" : "0"),
        "Server=" + s.server,
    };
    return WriteFileAtomically(path, lines, (int)(sizeof lines / sizeof lines[0]));
}

// ------------------------------------------------------------------ outbox ---

bool PutInOutbox(const std::string& outboxDir, const std::string& journalPath, std::string& error) {
    std::error_code ec;
    fs::create_directories(outboxDir, ec);
    std::ifstream in(journalPath, std::ios::binary);
    std::stringstream ss;
    if (in) ss << in.rdbuf();
    if (!in || in.bad()) {
        error = "the game journal " + journalPath + " cannot be read";
        return false;
    }
    std::string data = ss.str();
    std::string name = fs::path(journalPath).filename().string();
    std::string target = outboxDir + "/" + name, tmp = target + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    bool ok = f != nullptr;
    if (ok) {
        ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
        ok = std::fflush(f) == 0 && ok;
        ok = ok && fsync(fileno(f)) == 0;
        ok = std::fclose(f) == 0 && ok;
    }
    if (ok) ok = std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        std::remove(tmp.c_str());
        error = "the outbox " + outboxDir + " cannot be written";
        return false;
    }
    // The rename itself must survive a power loss too.
    SyncFolder(outboxDir);
    return true;
}

std::vector<std::string> OutboxEntries(const std::string& outboxDir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(outboxDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            fs::remove(it->path(), ec);
            ec.clear();
            continue;
        }
        if (it->is_regular_file(ec)) names.push_back(name);
        ec.clear();
    }
    std::sort(names.begin(), names.end());
    for (std::string& n : names) n = outboxDir + "/" + n;
    return names;
}

// ------------------------------------------------------------------- news ---

std::string OnlineMessageText(const OnlineNews& n) {
    switch (n.kind) {
    case NEWS_SENT:
        return "Score Sent";
    case NEWS_RANKED:
        if (n.daily && n.mode >= 0 && n.mode < 3)
            return "Ranked #" + std::to_string(n.rank) + " in today's " + kModeNames[n.mode] + " challenge";
        return "Ranked #" + std::to_string(n.rank) +
               (n.mode >= 0 && n.mode < 3 ? std::string(" in ") + kModeNames[n.mode] : std::string());
    case NEWS_REFUSED:
        return "Score Refused: " + ShortReason(n.reason);
    case NEWS_KEPT:
        return n.count > 1 ? std::to_string(n.count) + " Scores Kept to Send Later" : "Score Kept to Send Later";
    case NEWS_HELD:
        return "Score Kept: " + ShortReason(n.reason);
    }
    return "";
}

bool ParseOnlineNews(const std::string& line, OnlineNews& news) {
    news = OnlineNews();
    size_t sp = line.find(' ');
    std::string kind = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (kind == "sent") {
        news.kind = NEWS_SENT;
        return rest.empty();
    }
    if (kind == "refused" || kind == "held") {
        news.kind = kind == "refused" ? NEWS_REFUSED : NEWS_HELD;
        news.reason = rest;
        return true;
    }
    if (kind == "kept") {
        news.kind = NEWS_KEPT;
        news.count = TextToInt(rest);
        return news.count >= 1 && rest.find_first_not_of("0123456789") == std::string::npos;
    }
    if (kind == "ranked" || kind == "daily-ranked") {
        news.kind = NEWS_RANKED;
        news.daily = kind == "daily-ranked";
        size_t sp2 = rest.find(' ');
        std::string rank = rest.substr(0, sp2);
        news.rank = TextToInt(rank);
        news.mode = sp2 == std::string::npos ? -1 : ModeNumber(rest.substr(sp2 + 1));
        return news.rank >= 1 && news.mode >= 0 && rank.size() < 10 &&
               rank.find_first_not_of("0123456789") == std::string::npos;
    }
    return false;
}

std::string DailyRequestBody(int mode) {
    return std::string("{\"challenge\":\"daily\",\"mode\":\"") + kModeWords[mode >= 0 && mode < 3 ? mode : 1] +
           "\"}";
}

bool IsWebAddress(const std::string& text) {
    std::string t = LowerText(text.substr(0, 8));
    return t.rfind("http://", 0) == 0 || t.rfind("https://", 0) == 0;
}

#ifndef __EMSCRIPTEN__
// ====================================================== the desktop client ===
using Json = nlohmann::json;

namespace {
// The object of a JSON body, or a discarded value.
Json ParseObject(const std::string& body) {
    Json j = Json::parse(body, nullptr, false);
    if (!j.is_object()) return Json(Json::value_t::discarded);
    return j;
}

std::string StringField(const Json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end()) return "";
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<long long>());
    return "";
}

// A whole-number id or a short word: it goes into the address of the game.
bool UsableId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id)
        if (!std::isalnum((unsigned char)c) && c != '-' && c != '_') return false;
    return true;
}

OnlineVerdict Refusal(long status, const Json& j) {
    OnlineVerdict v;
    // A 4xx of the score server's own says why; any other 4xx (a wrong
    // address, a proxy) is no answer about the game, so it is kept.
    if (status >= 400 && status < 500 && status != 408 && status != 429 && !j.is_discarded()) {
        std::string why = StringField(j, "error");
        if (!why.empty()) {
            v.kind = VERDICT_REFUSED;
            v.reason = why;
        }
    }
    return v;
}
}  // namespace

OnlineVerdict ReadSubmitAnswer(long status, const std::string& body) {
    Json j = ParseObject(body);
    if (status >= 200 && status < 300 && !j.is_discarded()) {
        OnlineVerdict v;
        v.id = StringField(j, "id");
        if (UsableId(v.id)) v.kind = VERDICT_ACCEPTED;
        return v;
    }
    OnlineVerdict v = Refusal(status, j);
    // A game is dropped only when the server says it will never take it
    // (the bytes are not a journal, too large, a name it refuses). Any other
    // refusal may be the server's passing state or a mistake of its own, and
    // the game is all the player has: it stays and is sent again later.
    if (v.kind == VERDICT_REFUSED) {
        auto permanent = j.find("permanent");
        if (permanent == j.end() || !permanent->is_boolean() || !permanent->get<bool>()) v.kind = VERDICT_HELD;
    }
    return v;
}

OnlineVerdict ReadGameAnswer(long status, const std::string& body) {
    Json j = ParseObject(body);
    OnlineVerdict v;
    if (status != 200 || j.is_discarded()) return Refusal(status, j);
    std::string state = StringField(j, "status");
    if (state == "pending") {
        v.kind = VERDICT_PENDING;
    } else if (state == "rejected") {
        v.kind = VERDICT_REFUSED;
        v.reason = StringField(j, "reason");
    } else if (state == "ranked") {
        auto rank = j.find("rank");
        v.mode = ModeNumber(StringField(j, "mode"));
        if (rank != j.end() && rank->is_number_integer() && rank->get<long long>() >= 1 &&
            rank->get<long long>() < 1000000000 && v.mode >= 0) {
            v.kind = VERDICT_RANKED;
            v.rank = (int)rank->get<long long>();
            // A daily game's rank is its place in its day's table.
            v.daily = StringField(j, "challenge") == "daily";
        }
    }
    return v;
}

std::string ReadTokenAnswer(long status, const std::string& body) {
    if (status < 200 || status >= 300) return "";
    Json j = ParseObject(body);
    std::string t = j.is_discarded() ? "" : StringField(j, "token");
    if (t.empty() || t.size() > 128) return "";
    for (char c : t)
        if (!std::isalnum((unsigned char)c) && c != '-' && c != '_' && c != '.') return "";
    return t;
}

bool ReadSessionAnswer(long status, const std::string& body, int wantMode, OnlineTicket& ticket) {
    ticket = OnlineTicket();
    ticket.token = ReadTokenAnswer(status, body);
    if (ticket.token.empty()) return false;
    Json j = ParseObject(body);
    auto seed = j.find("seed");
    if (seed != j.end() && seed->is_number_integer() && seed->get<long long>() >= 0 &&
        seed->get<long long>() <= 2147483647)
        ticket.seed = seed->get<long long>();
    if (wantMode < 0) return true;
    // A daily challenge is played from its seed in its mode on its day: an
    // answer that does not say all three is not one.
    std::string date = StringField(j, "date");
    if (StringField(j, "challenge") != "daily" || ModeNumber(StringField(j, "mode")) != wantMode ||
        !IsDayText(date) || ticket.seed < 0) {
        ticket = OnlineTicket();
        return false;
    }
    ticket.daily = date;
    ticket.mode = wantMode;
    return true;
}

namespace {
using Clock = std::chrono::steady_clock;

// One exchange with the server; status 0 when there was no answer (error
// then says why).
struct HttpAnswer {
    long status = 0;
    std::string body;
    std::string error;
};

const size_t kMostAnswer = 1 << 20;         // what a verdict or token can take
const size_t kMostJournal = 16u << 20;      // what a watched journal can take

size_t KeepBody(char* data, size_t size, size_t count, void* user) {
    auto* a = static_cast<std::pair<std::string*, size_t>*>(user);
    size_t n = size * count;
    if (a->first->size() + n > a->second) return 0;  // too much: curl stops
    a->first->append(data, n);
    return n;
}

// Requests are plain: no cookies, no user agent, no redirects followed; only
// the body (the journal) and the address go out.
HttpAnswer Http(CURL* c, const std::string& url, const std::string* postBody, long timeoutMs, size_t most,
                const char* type = "application/octet-stream") {
    HttpAnswer a;
    curl_easy_reset(c);
    std::pair<std::string*, size_t> sink{&a.body, most};
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeoutMs, 5000L));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, KeepBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_slist* headers = nullptr;
    if (postBody) {
        headers = curl_slist_append(headers, (std::string("Content-Type: ") + type).c_str());
        // No "100 continue" round trip before a small body.
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)postBody->size());
    }
    CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_OK) {
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    } else {
        a.error = error[0] ? error : curl_easy_strerror(rc);
        a.body.clear();
    }
    curl_slist_free_all(headers);
    return a;
}

void StartCurl() {
    static bool started = false;
    if (!started) curl_global_init(CURL_GLOBAL_DEFAULT);
    started = true;
}

// ---- shared between the game's thread and the workers (under g_lock) ----
std::mutex g_lock;
std::condition_variable g_tokenWake, g_sendWake, g_tokenDone;
bool g_on = false;
std::string g_server, g_outbox;
std::string g_token;          // the running game's token
bool g_sendNow = false;       // a game was filed: send at once
std::deque<OnlineNews> g_news;
std::deque<std::string> g_logLines;
// The ticket kept ready for the next game, and when it came: one older than
// kFreshFor is replaced (the server lets a token wait only so long).
OnlineTicket g_ready;
Clock::time_point g_readySince;
const auto kFreshFor = std::chrono::minutes(10);
bool g_tokenBusy = false;     // the token worker is asking the server
bool g_readyFailed = false;   // its last ask for an ordinary token failed
// The daily challenge: asked for (mode), then ready or failed.
OnlineDailyState g_dailyState = DAILY_NONE;
int g_dailyMode = -1;
OnlineTicket g_daily;
std::string g_dailyTrouble;

OnlineNews News(OnlineNewsKind kind) {
    OnlineNews n;
    n.kind = kind;
    return n;
}

void Tell(const OnlineNews& n, const std::string& log) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_news.push_back(n);
    if (!log.empty()) g_logLines.push_back(log);
}
void Note(const std::string& log) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_logLines.push_back(log);
}

std::string Name(const std::string& path) { return fs::path(path).filename().string(); }

std::string Why(const HttpAnswer& a) { return a.status ? "status " + std::to_string(a.status) : a.error; }

// Keeps one ticket ready (fetched again once it is older than kFreshFor, or
// once a game took it) and fetches the daily challenge's when asked. A
// failed ask is tried again after 15 s, doubling to at most 5 minutes.
void TokenWorker() {
    CURL* c = curl_easy_init();
    auto pause = std::chrono::seconds(0);
    Clock::time_point retryAt = Clock::now();
    std::unique_lock<std::mutex> lk(g_lock);
    for (;;) {
        auto due = [&] {
            if (g_dailyState == DAILY_ASKING) return Clock::now();
            if (g_ready.token.empty()) return retryAt;
            return g_readySince + kFreshFor;
        };
        while (Clock::now() < due()) g_tokenWake.wait_until(lk, due());
        bool daily = g_dailyState == DAILY_ASKING;
        int mode = g_dailyMode;
        std::string url = g_server + "/api/v1/sessions";
        g_tokenBusy = true;
        lk.unlock();
        std::string body = daily ? DailyRequestBody(mode) : "{}";
        HttpAnswer a = c ? Http(c, url, &body, 5000, kMostAnswer, "application/json")
                         : HttpAnswer{0, "", "libcurl did not start"};
        OnlineTicket t;
        bool ok = ReadSessionAnswer(a.status, a.body, daily ? mode : -1, t);
        lk.lock();
        g_tokenBusy = false;
        if (daily) {
            if (ok) {
                g_daily = t;
                g_dailyState = DAILY_READY;
                g_logLines.push_back("\tScore server: daily challenge " + t.daily + " in " + kModeWords[mode]);
            } else {
                g_dailyState = DAILY_FAILED;
                g_dailyTrouble = a.status == 0 ? "the score server cannot be reached"
                                 : a.status >= 200 && a.status < 300 ? "the score server offers no daily challenge"
                                                                     : "the score server refused it";
                g_logLines.push_back("\tScore server: no daily challenge token (" + Why(a) + ")");
            }
        } else if (ok) {
            g_ready = t;
            g_readySince = Clock::now();
            g_readyFailed = false;
            pause = std::chrono::seconds(0);
            if (t.seed < 0)
                g_logLines.push_back("\tScore server: its session token came without a seed");
        } else {
            g_ready = OnlineTicket();  // a stale one is not kept either
            g_readyFailed = true;
            pause = std::min<std::chrono::seconds>(pause.count() ? pause * 2 : std::chrono::seconds(15),
                                                   std::chrono::seconds(300));
            retryAt = Clock::now() + pause;
            g_logLines.push_back("\tScore server: no session token (" + Why(a) + "); asked again in " +
                                 std::to_string(pause.count()) + " s");
        }
        g_tokenDone.notify_all();
    }
}

// A game the server has taken, whose verdict is asked for now and then.
struct Awaited {
    std::string id, name;
    int asked = 0;
    Clock::time_point next;
};

void SendWorker() {
    CURL* c = curl_easy_init();
    if (!c) {
        Note("\tScore server: libcurl did not start; games stay in the outbox");
        return;
    }
    std::vector<Awaited> awaited;
    std::set<std::string> toldKept;  // games whose "kept" the player has seen
    std::map<std::string, std::string> toldHeld;  // game -> the refusal the player has seen
    auto pause = std::chrono::seconds(0);
    Clock::time_point nextRound = Clock::now();  // the outbox is sent at the start
    bool roundDue = true;
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(g_lock);
            Clock::time_point wake = roundDue ? nextRound : Clock::time_point::max();
            for (const Awaited& w : awaited) wake = std::min(wake, w.next);
            if (!g_sendNow) {
                if (wake == Clock::time_point::max()) g_sendWake.wait(lk, [] { return g_sendNow; });
                else g_sendWake.wait_until(lk, wake, [] { return g_sendNow; });
            }
            if (g_sendNow) {
                // A game was just filed: everything goes now, whatever the pause.
                g_sendNow = false;
                roundDue = true;
                nextRound = Clock::now();
            }
        }
        std::string server;
        {
            std::lock_guard<std::mutex> lk(g_lock);
            server = g_server;
        }
        if (roundDue && Clock::now() >= nextRound) {
            std::vector<std::string> entries = OutboxEntries(g_outbox);
            bool failed = false, held = false;
            for (size_t i = 0; i < entries.size() && !failed; i++) {
                const std::string& path = entries[i];
                std::ifstream in(path, std::ios::binary);
                std::stringstream ss;
                if (in) ss << in.rdbuf();
                if (!in) continue;  // gone (removed by hand): nothing to send
                std::string body = ss.str();
                HttpAnswer a = Http(c, server + "/api/v1/games", &body, 60000, kMostAnswer);
                OnlineVerdict v = ReadSubmitAnswer(a.status, a.body);
                std::error_code ec;
                if (v.kind == VERDICT_ACCEPTED) {
                    // Acknowledged: the server has it, and the same journal
                    // sent again would be the same game anyway.
                    fs::remove(path, ec);
                    SyncFolder(g_outbox);
                    Tell(News(NEWS_SENT), "\tScore server: sent " + Name(path) + " (game " + v.id + ")");
                    awaited.push_back({v.id, Name(path), 0, Clock::now() + std::chrono::milliseconds(500)});
                } else if (v.kind == VERDICT_REFUSED) {
                    fs::remove(path, ec);
                    SyncFolder(g_outbox);
                    OnlineNews n = News(NEWS_REFUSED);
                    n.reason = v.reason;
                    Tell(n, "\tScore server: refused " + Name(path) + ": " + OneLine(v.reason));
                } else if (v.kind == VERDICT_HELD) {
                    // Refused, but not for good: the game stays and goes
                    // again with the next round, and the games after it go
                    // now. The player hears the reason once, and again only
                    // when it changes.
                    held = true;
                    toldKept.insert(Name(path));
                    auto told = toldHeld.find(Name(path));
                    if (told == toldHeld.end() || told->second != v.reason) {
                        toldHeld[Name(path)] = v.reason;
                        OnlineNews n = News(NEWS_HELD);
                        n.reason = v.reason;
                        Tell(n, "\tScore server: kept " + Name(path) + ", refused for now (status " +
                                    std::to_string(a.status) + "): " + OneLine(v.reason) +
                                    "; it is sent again later");
                    }
                } else {
                    failed = true;
                    int fresh = 0;
                    for (size_t k = i; k < entries.size(); k++)
                        if (toldKept.insert(Name(entries[k])).second) fresh++;
                    std::string why = a.status ? "status " + std::to_string(a.status) : a.error;
                    pause = std::min<std::chrono::seconds>(pause.count() ? pause * 2 : std::chrono::seconds(15),
                                                           std::chrono::seconds(600));
                    std::string log = "\tScore server: not reached (" + why + "); " +
                                      std::to_string(entries.size() - i) + " game(s) kept, tried again in " +
                                      std::to_string(pause.count()) + " s";
                    if (fresh) {
                        OnlineNews n = News(NEWS_KEPT);
                        n.count = fresh;
                        Tell(n, log);
                    } else {
                        Note(log);
                    }
                }
            }
            if (held && !failed)
                pause = std::min<std::chrono::seconds>(pause.count() ? pause * 2 : std::chrono::seconds(15),
                                                       std::chrono::seconds(600));
            roundDue = failed || held;
            if (roundDue) nextRound = Clock::now() + pause;
            else pause = std::chrono::seconds(0);
        }
        for (size_t i = 0; i < awaited.size();) {
            Awaited& w = awaited[i];
            if (Clock::now() < w.next) {
                i++;
                continue;
            }
            HttpAnswer a = Http(c, server + "/api/v1/games/" + w.id, nullptr, 15000, kMostAnswer);
            OnlineVerdict v = ReadGameAnswer(a.status, a.body);
            bool done = true;
            if (v.kind == VERDICT_RANKED) {
                OnlineNews n = News(NEWS_RANKED);
                n.rank = v.rank;
                n.mode = v.mode;
                n.daily = v.daily;
                Tell(n, "\tScore server: " + w.name + " ranked #" + std::to_string(v.rank) + " in " +
                            (v.daily ? "today's daily challenge, " : "") + kModeWords[v.mode]);
            } else if (v.kind == VERDICT_REFUSED) {
                OnlineNews n = News(NEWS_REFUSED);
                n.reason = v.reason;
                Tell(n, "\tScore server: " + w.name + " not ranked: " + OneLine(v.reason));
            } else if (++w.asked < 40) {
                // Verification takes a moment, longer behind a queue: ask
                // again after 1, 2, 4 ... then every 30 seconds.
                done = false;
                w.next = Clock::now() + std::chrono::seconds(std::min(1 << std::min(w.asked - 1, 5), 30));
            } else {
                Note("\tScore server: no verdict for " + w.name + " yet; it is on the leaderboard once ranked");
            }
            if (done) awaited.erase(awaited.begin() + (long)i);
            else i++;
        }
    }
}
}  // namespace

void OnlineStart() {
    if (!Options.replayFile.empty()) return;
    std::error_code ec;
    std::string data = fs::current_path(ec).string();
    std::string file = data + "/" + kSettingsFile;
    OnlineSettings s = ReadOnlineSettings(file);
    if (!Options.scoresServer.empty()) {
        s.send = Options.scoresServer != "off";
        if (s.send) s.server = ServerAddress(Options.scoresServer);
        if (!WriteOnlineSettings(file, s)) LogLine("\tCould not write " + std::string(kSettingsFile));
    }
    if (!s.send || s.server.empty()) return;
    LogLine("\tSending games to the score server " + s.server);
    StartCurl();
    {
        std::lock_guard<std::mutex> lk(g_lock);
        g_on = true;
        g_server = s.server;
        g_outbox = data + "/" + std::to_string(WeekNumber) + "/outbox";
    }
    fs::create_directories(g_outbox, ec);
    // The workers run until the process ends; ShutDown ends it without
    // waiting for them, and the outbox keeps whatever they had not finished.
    std::thread(TokenWorker).detach();
    std::thread(SendWorker).detach();
}

OnlineTicket OnlineGameStarted() {
    OnlineTicket t;
    {
        std::lock_guard<std::mutex> lk(g_lock);
        g_token.clear();
        // The demo player and --seed keep their own seeds, and are never sent.
        if (!g_on || Options.autoplay || Options.seed >= 0) return t;
    }
    OnlineSettle();
    {
        std::lock_guard<std::mutex> lk(g_lock);
        if (g_dailyState == DAILY_READY) {
            t = g_daily;
            g_daily = OnlineTicket();
            g_dailyState = DAILY_NONE;
        } else if (!g_ready.token.empty() && Clock::now() - g_readySince <= kFreshFor + std::chrono::minutes(1)) {
            t = g_ready;
        }
        // Spent either way: the next game takes the next token.
        if (t.daily.empty()) g_ready = OnlineTicket();
        g_token = t.token;
        g_tokenWake.notify_one();
    }
    AnnounceTicket(t);
    return t;
}

std::string OnlineGameToken() {
    std::lock_guard<std::mutex> lk(g_lock);
    return g_token;
}

bool OnlineSending() {
    std::lock_guard<std::mutex> lk(g_lock);
    return g_on && !Options.autoplay;
}

void OnlineAskDaily(int mode) {
    std::lock_guard<std::mutex> lk(g_lock);
    if (!g_on || g_dailyState == DAILY_ASKING) return;
    g_dailyState = DAILY_ASKING;
    g_dailyMode = mode;
    g_daily = OnlineTicket();
    g_tokenWake.notify_one();
}

OnlineDailyState OnlineDaily() {
    std::lock_guard<std::mutex> lk(g_lock);
    return g_dailyState;
}

std::string OnlineDailyTrouble() {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_dailyState == DAILY_FAILED) g_dailyState = DAILY_NONE;
    return g_dailyTrouble;
}

void OnlineSettle() {
    if (!Options.virtualClock) return;
    std::unique_lock<std::mutex> lk(g_lock);
    if (!g_on) return;
    // The first ask (or the daily one) is answered or has failed.
    g_tokenDone.wait_for(lk, std::chrono::seconds(10), [] {
        return !g_tokenBusy && g_dailyState != DAILY_ASKING && (!g_ready.token.empty() || g_readyFailed);
    });
}

void OnlineGameFiled(const std::string& journalPath, bool counts) {
    std::string outbox;
    {
        std::lock_guard<std::mutex> lk(g_lock);
        if (!g_on || !counts) return;
        outbox = g_outbox;
    }
    // Copied here, before the frame goes on: once this returns the game is
    // safe from a crash, whatever becomes of the journal in 418/games/.
    std::string error;
    if (!PutInOutbox(outbox, journalPath, error)) {
        LogLine("\tScore server: " + error + "; the game is not sent");
        return;
    }
    std::lock_guard<std::mutex> lk(g_lock);
    g_sendNow = true;
    g_sendWake.notify_one();
}

void OnlineFrame() {
    std::deque<OnlineNews> news;
    std::deque<std::string> lines;
    {
        // A worker holds the lock only to hand something over; a frame that
        // finds it taken picks the news up at the next one.
        std::unique_lock<std::mutex> lk(g_lock, std::try_to_lock);
        if (!lk.owns_lock() || (g_news.empty() && g_logLines.empty())) return;
        news.swap(g_news);
        lines.swap(g_logLines);
    }
    for (const std::string& l : lines) LogLine(l);
    for (const OnlineNews& n : news) AddMessage(OnlineMessageText(n), 0);
}

bool FetchToTempFile(const std::string& url, std::string& path, std::string& error) {
    StartCurl();
    CURL* c = curl_easy_init();
    if (!c) {
        error = "libcurl could not start";
        return false;
    }
    HttpAnswer a = Http(c, url, nullptr, 60000, kMostJournal);
    curl_easy_cleanup(c);
    if (a.status != 200) {
        error = a.status ? "the server answered with status " + std::to_string(a.status) : a.error;
        return false;
    }
    std::string dir = fs::temp_directory_path().string();
    std::string name = dir + "/wormlob2-watch-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back(0);
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        error = "no temporary file in " + dir;
        return false;
    }
    bool ok = write(fd, a.body.data(), a.body.size()) == (ssize_t)a.body.size();
    ok = close(fd) == 0 && ok;
    path = buf.data();
    if (!ok) {
        std::remove(path.c_str());
        error = "the temporary file " + path + " cannot be written";
    }
    return ok;
}

#else
// ========================================================= the page client ===
// The page's script does the talking (web/pre.js): fetch, and the outbox in
// IndexedDB. The program tells it what happens and asks it for news.
extern "C" {
void wormlob_online_start(const char* server);
int wormlob_online_take_ticket(char* out, int size);
void wormlob_online_game_filed(const char* path);
int wormlob_online_next_news(char* out, int size);
int wormlob_online_agreed_server(char* out, int size);
void wormlob_online_ask_daily(const char* mode);
int wormlob_online_daily_state();
int wormlob_online_has_server();
int wormlob_online_daily_trouble(char* out, int size);
}

namespace {
bool g_on = false;
std::string g_settingsFile;  // Online.ini in the data folder; "" before OnlineStart and in a replay
std::string g_token;  // the running game's

// The script hands a ticket over as one line: "TOKEN SEED DATE MODE", each
// "-" when there is none.
OnlineTicket TicketFromLine(const std::string& line) {
    OnlineTicket t;
    std::istringstream in(line);
    std::string token, seed, date, mode;
    if (!(in >> token >> seed >> date >> mode)) return t;
    bool tokenOk = !token.empty() && token.size() <= 128 && token != "-";
    for (char c : token)
        if (!std::isalnum((unsigned char)c) && c != '-' && c != '_' && c != '.') tokenOk = false;
    if (!tokenOk) return t;
    t.token = token;
    long long n = TextToLong(seed);
    if (seed.find_first_not_of("0123456789") == std::string::npos && seed.size() <= 10 && n >= 0 &&
        n <= 2147483647)
        t.seed = n;
    if (IsDayText(date) && ModeNumber(mode) >= 0 && t.seed >= 0) t.daily = date, t.mode = ModeNumber(mode);
    return t;
}
}  // namespace

bool ReadSessionAnswer(long, const std::string&, int, OnlineTicket& ticket) {
    ticket = OnlineTicket();
    return false;
}


OnlineVerdict ReadSubmitAnswer(long, const std::string&) { return OnlineVerdict(); }
OnlineVerdict ReadGameAnswer(long, const std::string&) { return OnlineVerdict(); }
std::string ReadTokenAnswer(long, const std::string&) { return ""; }

void OnlineStart() {
    if (!Options.replayFile.empty()) return;
    std::error_code ec;
    std::string file = fs::current_path(ec).string() + "/" + kSettingsFile;
    g_settingsFile = file;
    bool known = FileType(file) == 1;
    OnlineSettings s = ReadOnlineSettings(file);
    if (!Options.scoresServer.empty()) {
        known = true;
        s.send = Options.scoresServer != "off";
        if (s.send) s.server = ServerAddress(Options.scoresServer);
        if (!WriteOnlineSettings(file, s)) LogLine("\tCould not write " + std::string(kSettingsFile));
    }
    // A page that has not been told sends to the server that serves it, if
    // that is a score server (the script asks it).
    std::string server = !known ? "auto" : s.send ? s.server : "";
    if (server.empty()) return;
    g_on = true;
    LogLine("\tSending games to the score server " + (server == "auto" ? "that serves the page" : server));
    wormlob_online_start(server.c_str());
}

OnlineTicket OnlineGameStarted() {
    OnlineTicket t;
    g_token.clear();
    // The demo player and --seed keep their own seeds, and are never sent.
    if (!g_on || Options.autoplay || Options.seed >= 0) return t;
    char buf[256] = "";
    if (wormlob_online_take_ticket(buf, (int)sizeof buf) > 0) t = TicketFromLine(buf);
    g_token = t.token;
    AnnounceTicket(t);
    return t;
}

std::string OnlineGameToken() { return g_token; }

bool OnlineSending() { return g_on && !Options.autoplay && wormlob_online_has_server(); }

void OnlineAskDaily(int mode) {
    if (g_on) wormlob_online_ask_daily(kModeWords[mode >= 0 && mode < 3 ? mode : 1]);
}

OnlineDailyState OnlineDaily() {
    int s = g_on ? wormlob_online_daily_state() : 0;
    return s >= DAILY_NONE && s <= DAILY_FAILED ? (OnlineDailyState)s : DAILY_NONE;
}

std::string OnlineDailyTrouble() {
    char buf[256] = "";
    if (!g_on || wormlob_online_daily_trouble(buf, (int)sizeof buf) <= 0) return "no daily challenge was found";
    return ShortReason(buf);
}

// The page's script answers as it can; a page never holds its frame.
void OnlineSettle() {}

void OnlineGameFiled(const std::string& journalPath, bool counts) {
    if (!g_on || !counts) return;
    std::error_code ec;
    fs::path p = fs::absolute(journalPath, ec);
    wormlob_online_game_filed((ec ? fs::path(journalPath) : p).lexically_normal().string().c_str());
}

namespace {
// A score server named in the page's address is the player's choice only
// once the player has accepted it on the page (web/shell.html asks); it is
// then kept as --scores-server would keep it, and sending goes there.
void TakeAgreedServer() {
    // Frames run in the game folder: the file's place was noted at the start.
    if (g_settingsFile.empty()) return;
    char buf[512] = "";
    if (wormlob_online_agreed_server(buf, (int)sizeof buf) <= 0) return;
    std::string given = buf;
    OnlineSettings s;
    s.send = given != "off";
    if (s.send) {
        s.server = ServerAddress(given);
        if (s.server.empty()) return;
    }
    if (!s.send) s.server = ReadOnlineSettings(g_settingsFile).server;
    if (!WriteOnlineSettings(g_settingsFile, s)) LogLine("\tCould not write " + std::string(kSettingsFile));
    g_on = s.send;
    LogLine(s.send ? "\tSending games to the score server " + s.server + " (accepted on the page)"
                   : std::string("\tSending games to a score server turned off (accepted on the page)"));
    wormlob_online_start(s.send ? s.server.c_str() : "");
}
}  // namespace

void OnlineFrame() {
    TakeAgreedServer();
    if (!g_on) return;
    char buf[512];
    while (wormlob_online_next_news(buf, (int)sizeof buf) > 0) {
        OnlineNews n;
        if (!ParseOnlineNews(buf, n)) continue;
        AddMessage(OnlineMessageText(n), 0);
        LogLine("\tScore server: " + OneLine(buf));
    }
}

bool FetchToTempFile(const std::string&, std::string&, std::string& error) {
    error = "the page fetches a journal to watch before the program starts";
    return false;
}
#endif

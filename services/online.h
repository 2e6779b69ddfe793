// The score client: each finished game that counts goes to a score server in
// the background, with its game journal; the server replays it and ranks it,
// and the verdict comes back as a frame-hub message ("Ranked #3 in Medium").
//
// Off until the player turns it on: the choice and the server's address live
// in "Online.ini" in the data folder (Setup.ini is left as it is), set by hand
// or by --scores-server URL (--scores-server off turns it off again).
//
// Nothing is ever lost: a game to send is first copied into the outbox
// ("418/outbox/" in the data folder; write-then-rename, so a crash or a kill
// leaves either the whole file or none) and is removed only once the server
// has acknowledged it. The outbox is sent at every start and after every game,
// and again with a growing pause while the server cannot be reached. A game
// that reaches the server twice (the program was killed before it heard the
// answer) is one game: the server knows a journal by its hash.
//
// The desktop talks to the server with libcurl on two worker threads of this
// file's own (one takes session tokens, one sends the outbox and asks for the
// verdicts), so no frame ever waits on the network; the game's thread only
// hands them work and, once a frame, picks up what they have to say. The page
// does the same in its own script (web/pre.js) with fetch, its outbox in the
// browser's IndexedDB.
#pragma once

#include <string>
#include <vector>

// ---- the game's hooks ----

// What a game from the title starts with: the session token kept ready
// (taken ahead of time, so that starting never waits for the network) and
// the seed the server gave with it, or for a daily challenge that day's
// token, seed, date and mode.
struct OnlineTicket {
    std::string token;    // "" when none: the game is played offline
    long long seed = -1;  // the token's seed (0..2147483647), -1 when none
    std::string daily;    // the daily challenge's date (YYYY-MM-DD), "" when not one
    int mode = -1;        // the daily challenge's mode
};
// A game starts from the title: the ticket kept ready is taken and spent (a
// token starts one game; the next game takes the next one), or the daily
// challenge's when one is waiting. The demo player's games and --seed's take
// none. Tells the player how the game counts ("Playing offline: this game
// will not be ranked", "Daily Challenge, 2026-12-08").
OnlineTicket OnlineGameStarted();
// The token the running game started with; "" when none.
std::string OnlineGameToken();
// The game journal of a filed game is written at journalPath. counts is false
// for practice games (F3, F4) and the demo player's, which are never sent.
void OnlineGameFiled(const std::string& journalPath, bool counts);

// ---- the program's hooks ----

// At start-up, with the data folder as the working folder (after Setup.ini):
// reads Online.ini (and --scores-server, which it writes back), and when
// sending is on starts the workers, which send what the outbox holds. A
// replay sends nothing and starts nothing.
void OnlineStart();
// Once a frame, from the frame hub before the messages are drawn: the
// workers' news become messages and log lines. Never waits.
void OnlineFrame();
// Whether games are being sent (the title offers the daily challenge then).
bool OnlineSending();

// ---- the daily challenge ----

enum OnlineDailyState {
    DAILY_NONE,    // not asked for
    DAILY_ASKING,  // the server is being asked for today's token
    DAILY_READY,   // a daily ticket waits: the next game from the title takes it
    DAILY_FAILED,  // no daily token could be had (OnlineDailyTrouble says why)
};
// Asks the server for today's challenge in mode (0 easy, 1 medium, 2 hard),
// in the background.
void OnlineAskDaily(int mode);
OnlineDailyState OnlineDaily();
// Why the last ask failed, for the player; clears the failed state.
std::string OnlineDailyTrouble();
// Scripted runs on the virtual clock (tests) wait here, on the real clock,
// for a token or daily ticket being fetched (at most a few seconds), so that
// what a script plays does not depend on how fast the server answered.
// Anything else never waits.
void OnlineSettle();

// ---- the settings file ----

struct OnlineSettings {
    bool send = false;
    std::string server;  // "http://host:port" as ServerAddress gives it
};
// Reads the file; a missing or unreadable file, or odd lines, leave the
// defaults (off). Unknown lines are ignored.
OnlineSettings ReadOnlineSettings(const std::string& path);
// Writes it through a temporary file; false when that failed.
bool WriteOnlineSettings(const std::string& path, const OnlineSettings& s);
// An http:// or https:// address with a host, without a trailing slash and
// without a query or fragment; "" when text is not one.
std::string ServerAddress(const std::string& text);

// ---- the outbox ----

// Copies a journal into the outbox folder (made when missing) under its own
// file name, through "<name>.tmp" that is synced and renamed. False with
// error when it could not be kept.
bool PutInOutbox(const std::string& outboxDir, const std::string& journalPath, std::string& error);
// The games waiting in the outbox (full paths), oldest first: the names
// start with the game's time stamp. Half-written ".tmp" files left by a
// crash are removed (the journal they were copied from is still whole).
std::vector<std::string> OutboxEntries(const std::string& outboxDir);

// ---- what the server answers ----

enum OnlineVerdictKind {
    VERDICT_RETRY,     // no answer, or one that says "later": keep the game
    VERDICT_ACCEPTED,  // the game is the server's (id); ask for its verdict
    VERDICT_REFUSED,   // the server will never take it (reason)
    VERDICT_HELD,      // refused this time (reason), not for good: keep the game
    VERDICT_PENDING,   // still being verified
    VERDICT_RANKED,    // rank in mode
};
struct OnlineVerdict {
    OnlineVerdictKind kind = VERDICT_RETRY;
    std::string id;
    std::string reason;
    int rank = 0;
    int mode = -1;       // 0 easy, 1 medium, 2 hard
    bool daily = false;  // ranked in its day's daily challenge table
};
// The answer to sending a game (POST /api/v1/games); status 0 means no
// answer at all. Only a 4xx with the server's own {"error": ..., "permanent":
// true} refuses for good; another 4xx with the server's {"error": ...} holds
// the game (kept, the reason told); anything else unexpected ("too many
// requests", an address that is not a score server, a proxy's error page)
// keeps the game for later.
OnlineVerdict ReadSubmitAnswer(long status, const std::string& body);
// The answer to asking for a game's verdict (GET /api/v1/games/ID).
OnlineVerdict ReadGameAnswer(long status, const std::string& body);
// The token of POST /api/v1/sessions; "" unless it is one word of at most
// 128 letters, digits, '-', '_' or '.' (it goes into the journal's header).
std::string ReadTokenAnswer(long status, const std::string& body);
// The whole answer of POST /api/v1/sessions: the token and its seed (-1 when
// the server gave none, as an older server does); for a daily challenge
// (wantMode 0..2) also its date, and the answer must name the challenge and
// that mode. False when the answer gives no usable token (or, asked for a
// daily challenge, is not that challenge's).
bool ReadSessionAnswer(long status, const std::string& body, int wantMode, OnlineTicket& ticket);
// The body that asks for a daily challenge's token in mode.
std::string DailyRequestBody(int mode);

// ---- what the player is told ----

enum OnlineNewsKind { NEWS_SENT, NEWS_RANKED, NEWS_REFUSED, NEWS_KEPT, NEWS_HELD };
struct OnlineNews {
    OnlineNewsKind kind = NEWS_SENT;
    int rank = 0;
    int mode = -1;
    bool daily = false;  // ranked in today's daily challenge
    std::string reason;
    int count = 1;  // games kept to send later
};
// The message line: "Score Sent", "Ranked #3 in Medium", "Ranked #3 in
// today's Medium challenge", "Score Refused: the replay filed another
// record", "Score Kept to Send Later", "Score Kept: the server is not taking
// games now".
std::string OnlineMessageText(const OnlineNews& news);
// The page hands its news over as one line: "sent", "ranked RANK MODE",
// "daily-ranked RANK MODE", "refused REASON...", "held REASON..." or "kept
// COUNT" (mode easy, medium or hard).
bool ParseOnlineNews(const std::string& line, OnlineNews& news);

// ---- watching a game from the server ----

// Whether --replay was given a web address rather than a file.
bool IsWebAddress(const std::string& text);
// Downloads url into a new temporary file (path); false with error when the
// server could not be reached, answered other than 200, or sent more than a
// journal can hold. Desktop only (the page fetches before the program runs).
bool FetchToTempFile(const std::string& url, std::string& path, std::string& error);

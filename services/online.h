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

// A game starts from the title: a session token is taken in the background
// (the server compares the time since then with the game's own length).
void OnlineGameStarted();
// The token taken for the running game; "" when none (yet, or at all).
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
    int mode = -1;  // 0 easy, 1 medium, 2 hard
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

// ---- what the player is told ----

enum OnlineNewsKind { NEWS_SENT, NEWS_RANKED, NEWS_REFUSED, NEWS_KEPT, NEWS_HELD };
struct OnlineNews {
    OnlineNewsKind kind = NEWS_SENT;
    int rank = 0;
    int mode = -1;
    std::string reason;
    int count = 1;  // games kept to send later
};
// The message line: "Score Sent", "Ranked #3 in Medium", "Score Refused: the
// replay filed another record", "Score Kept to Send Later", "Score Kept: the
// server is not taking games now".
std::string OnlineMessageText(const OnlineNews& news);
// The page hands its news over as one line: "sent", "ranked RANK MODE",
// "refused REASON...", "held REASON..." or "kept COUNT" (mode easy, medium or
// hard).
bool ParseOnlineNews(const std::string& line, OnlineNews& news);

// ---- watching a game from the server ----

// Whether --replay was given a web address rather than a file.
bool IsWebAddress(const std::string& text);
// Downloads url into a new temporary file (path); false with error when the
// server could not be reached, answered other than 200, or sent more than a
// journal can hold. Desktop only (the page fetches before the program runs).
bool FetchToTempFile(const std::string& url, std::string& path, std::string& error);

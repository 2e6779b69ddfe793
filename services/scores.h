// High-score records, the one list of them and the file "scores.dat".
//
// Every finished game leaves one Scores record in ScoreList. The list is read
// from "scores.dat" (in the game folder) at start-up and written back right
// after each game is filed and again at shutdown. The file is plain 8-bit
// text, CR LF line ends, two lines per record, newest record first:
//   Score|Name|Badges|Timestamp|Level|GameMode|GameFlags|Quit
//   Best[1]|Best[2]|...|Best[30]
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

struct Scores {
    int64_t Score = 0;
    int64_t Timestamp = 0;  // see services/datetext.h; larger is later
    int32_t Badges = 0;     // bit k-1 = badge k; always 0 in this game
    std::string Name;
    int32_t Best[31] = {};  // per-game statistics, 1..30 stored
    int32_t Level = 0;      // table keys: level, mode, option flags
    int32_t GameMode = 0;
    int32_t GameFlags = 0;
    int32_t Quit = 0;  // 1 when the player quit the game early

    // Sort key: negative when this record is newer than other (so it sorts
    // first), positive when older, 0 for equal timestamps. A missing record
    // compares as 1. Compares the full 64-bit values, so the order is
    // consistent for any pair, however far apart.
    int Compare(const Scores* other) const;
};
using ScoreRef = std::shared_ptr<Scores>;

extern std::list<ScoreRef> ScoreList;
// The name offered by name entry: "Player" at first, then the newest
// record's name from the file, then whatever was last entered.
extern std::string PlayerName;

// The score table's view state (timeline scroll in pixels 0..1000 and the
// pinned pick); kept across title frames until a game has been played.
extern int ScoreScroll;
extern int ScorePick;
// Called by the outer loop after each game: scroll and pick back to 0.
void ResetScoreView();

// Stable sort, newest first; records with equal timestamps keep their order.
void SortScoreList();

// The two file lines of one record (without line ends).
std::string ScoreRecordLine(const Scores& r);
std::string ScoreBestLine(const Scores& r);
// Sorts ScoreList and returns the file's lines in order.
std::vector<std::string> ScoreFileLines();

// Parses one record line and its best line (which may be empty).
ScoreRef ParseScoreRecord(const std::string& recordLine, const std::string& bestLine);

// Replaces ScoreList with the records of the file and sets PlayerName to the
// first record's name. A missing file changes nothing. A file that exists but
// cannot be read, or is not empty yet holds no record, is logged, leaves the
// list as it was, and is copied to "<path>.bak" before WriteScoreFile first
// replaces it (to "<path>.bak.N" when an earlier, different backup is
// there). While the list holds a game filed this run whose write failed, the
// file is older than the list and is not read (the list and the name stay).
// Returns the number of records read.
int ReadScoreFile(const std::string& path = "scores.dat");

// Sorts ScoreList and writes it through a temporary file that is renamed over
// the old one, so a crash or a full disk never leaves a damaged table. On
// failure the old file stays, the failure is logged and false is returned.
bool WriteScoreFile(const std::string& path = "scores.dat");

// Files a finished game: a new record with the given score, mode and quit
// flag, PlayerName and the current timestamp is appended, the list sorted and
// the file written at once (so a crash later in the run loses no game).
ScoreRef FileScoreRecord(int64_t score, int mode, int quit);

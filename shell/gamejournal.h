// The shell's side of game journals (media/gamejournal.h): what a game
// inherits when it starts, writing each filed game to "418/games/", and
// replaying one game journal on its own (`--replay GAME.w2g`), which is how
// a score server verifies a submitted game.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct Scores;

// Set by the game when a practice key (F3, F4) is used; cleared when a game
// starts.
extern bool PracticeKeysUsed;

// At the start of a game, before its first clock reading: notes the state
// the game inherits and starts capturing its streams.
void BeginGameJournal();
// Right after the game's record is filed: writes the game journal into
// "games/" (the game folder's), keeps that folder small, and tells the score
// client. While a game journal is replayed this is where the replay ends:
// the filed record is compared with the journal's claims and the program
// exits (see GameJournalVerdict).
void EndGameJournal(const std::shared_ptr<Scores>& filed);

// At the end of every frame while a game is captured (or replayed), with
// the game state's checksum: notes the frame's clock reading and, while the
// game itself runs (not its name entry), its last frame.
void GameJournalFrame(uint64_t gameChecksum);

// The seed a journal's starting state names, when the recorded generator
// state is exactly the one that seed gives; -1 otherwise (no seed entry, an
// edited one, a generator moved on).
long long JournalSeed(const std::vector<std::pair<std::string, int64_t>>& numbers);
// The game played, whoever sent it under whatever name or token: the first
// 16 hex digits of SHA-256 over "MODE FRAMES CHECKSUM" (mode word, the
// game's last frame before name entry, the game state's checksum there in
// 16 hex digits).
std::string GameFingerprint(int mode, long long frames, uint64_t checksum);

// The fingerprints a game journal carries: of the program's game rules (the
// sources that steer a game, hashed at build time) and of the image files
// the game reads (hashed at the first use).
std::string RulesFingerprint();
std::string AssetsFingerprint();

// A game journal keeps the state checksum every this many frames (and at the
// last): a replay that goes its own way is caught within five seconds of
// play, for a few bytes a minute.
constexpr int GameCheckEvery = 300;

// ---- replaying a game journal ----

// Reads a game journal given to --replay; false with error (the file is
// malformed or from another version). Sets the options the replay needs.
bool LoadGameJournalReplay(const std::string& bytes, std::string& error);
bool ReplayingGameJournal();
// Puts the recorded Settings and Keys in place (after Setup.ini is read) and
// the recorded name (after the score file is read).
void GameJournalSetup();
void GameJournalPlayerName();
// After start-up: restores what the game inherited, plays the game from the
// journal and ends the process (status 0 when it filed the claimed record,
// 2 when the journal cannot be used here, 3 when the game went otherwise).
[[noreturn]] void RunGameJournalReplay();

// The folder every filed game's journal goes to, inside the game folder,
// and how many are kept: the newest, and each mode's best.
constexpr const char* GamesFolder = "games";
constexpr int KeepNewestGames = 20;
constexpr int KeepBestGamesPerMode = 10;
// Removes journals beyond those kept from folder; returns how many it removed.
int PruneGameJournals(const std::string& folder);

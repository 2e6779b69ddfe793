// The game journal: one game on its own, from the click on the start button
// to the filed record, in a file small enough to send to a score server.
//
// The file is a short text header that anyone can read (the server does,
// without linking any of the program) and a zlib-compressed binary body that
// only the program reads:
//
//   wormlob2 game 1          the first line; 1 is the format version
//   rules <16 hex>           fingerprint of the program's game rules
//   assets <16 hex>          fingerprint of the asset files the game reads
//   mode <easy|medium|hard>
//   name <hex>               the name typed at name entry ("-" when empty)
//   score <n>
//   wave <n>
//   frames <n>               game frames played
//   ms <n>                   the game's length on the program's clock
//   token <t>                the score server's session token, "-" if none
//   practice <0|1>           F3 or F4 was used
//   autoplay <0|1>           the demo player played it
//   (an empty line)
//   <body>
//
// The body holds the state the game inherited when it started (as named
// numbers and texts, so that a reader can tell what is missing) and the
// game's streams: clock readings, input events with the poll they came in,
// device answers, and a state checksum every so many frames. Each stream is
// kept field by field and delta-coded as variable-length integers before
// compression, which is what makes a long game small.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/journal.h"

struct GameJournalHeader {
    std::string rules, assets;  // 16 hex digits each
    int mode = 1;               // 0 easy, 1 medium, 2 hard
    std::string name;           // the bytes typed
    long long score = 0, wave = 1, frames = 0, ms = 0;
    std::string token;          // "" when none
    bool practice = false, autoplay = false;
};

struct GameJournal {
    GameJournalHeader header;
    std::vector<std::pair<std::string, int64_t>> numbers;  // the inherited state
    std::vector<std::pair<std::string, std::string>> texts;
    JournalData streams;  // clock (from clockBase), events, values, checks, endFrames
};

// Limits a reader keeps to, so that a hostile file costs little.
constexpr size_t GameJournalMaxFile = 4u << 20;       // bytes on disk
constexpr size_t GameJournalMaxBody = 16u << 20;      // bytes once inflated (an hour's game is ~3 MB)
constexpr size_t GameJournalMaxHeader = 4096;

const char* ModeWord(int mode);  // "easy", "medium", "hard"

// The whole file. Empty when compression fails.
std::string EncodeGameJournal(const GameJournal& journal);
// Whether the bytes start like a game journal (of any version).
bool LooksLikeGameJournal(const std::string& bytes);
// Reads the header alone; false with error on anything wrong. bodyStart is
// where the body begins.
bool DecodeGameJournalHeader(const std::string& bytes, GameJournalHeader& header, size_t& bodyStart,
                             std::string& error);
// Reads a whole file; false with error (a short sentence) on anything wrong.
bool DecodeGameJournal(const std::string& bytes, GameJournal& journal, std::string& error);

// Reads an inflated body alone into the state and streams (the header is
// left as it was); what DecodeGameJournal does after the header.
bool DecodeGameJournalBody(const std::string& body, GameJournal& journal, std::string& error);

// The name as lowercase hex ("-" when empty), and back.
std::string NameHex(const std::string& name);
bool NameFromHex(const std::string& hex, std::string& name);

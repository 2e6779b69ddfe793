// The text header at the start of a game journal: what the client claims
// about its game. Nothing in it is trusted; the server reads it to refuse a
// journal that is not one before storing anything, to show a pending game,
// and to compare the claims with what the replay files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct HeaderLimits {
    int64_t maxFrames = 216000;  // an hour at 60 frames a second
    size_t maxNameBytes = 40;
};

struct JournalHeader {
    std::string rules, assets;  // 16 lowercase hex digits each
    std::string mode;           // easy, medium or hard
    std::string name;           // the name's bytes (Latin-1)
    std::string nameHex;        // as written: lowercase hex, "" when empty
    int64_t score = 0, wave = 0, frames = 0, ms = 0;
    std::string token;  // "" when the game was played without one
    bool practice = false, autoplay = false;
    size_t bodyOffset = 0;  // where the binary body starts
};

// Reads the header at the start of data. Returns "" when it is well formed,
// or a sentence saying what is wrong with it.
std::string ParseJournalHeader(std::string_view data, const HeaderLimits& limits, JournalHeader& out);

// Name rules shared by the header and the replay's answer: printable
// Latin-1 (32..126 and 160..255), no "|", at most maxBytes bytes. Returns ""
// or what is wrong.
std::string CheckName(std::string_view name, size_t maxBytes);
// Lowercase hex to bytes; false when odd-length or not hex.
bool DecodeHex(std::string_view hex, std::string& out);
std::string EncodeHex(std::string_view bytes);
// A Latin-1 name as UTF-8, for JSON and HTML.
std::string Latin1ToUtf8(std::string_view s);
// A whole number of at most 15 digits, without sign or leading zeros.
bool ParseCount(std::string_view s, int64_t& out);

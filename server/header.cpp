#include "server/header.h"

#include <array>

namespace {
bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool IsTokenChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

// The longest header a well-formed journal can have, with margin; past it
// the server stops looking for the empty line.
constexpr size_t kMaxHeaderBytes = 1024;
}  // namespace

bool ParseCount(std::string_view s, int64_t& out) {
    if (s.empty() || s.size() > 15) return false;
    if (s.size() > 1 && s[0] == '0') return false;
    int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    out = n;
    return true;
}

bool DecodeHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!IsLowerHex(hex[i]) || !IsLowerHex(hex[i + 1])) return false;
        auto v = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        out.push_back((char)(v(hex[i]) * 16 + v(hex[i + 1])));
    }
    return true;
}

std::string EncodeHex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x80) {
            out.push_back((char)c);
        } else {
            out.push_back((char)(0xC0 | (c >> 6)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string CheckName(std::string_view name, size_t maxBytes) {
    if (name.size() > maxBytes) return "the name is longer than " + std::to_string(maxBytes) + " characters";
    for (unsigned char c : name) {
        if (c < 32 || (c >= 127 && c < 160) || c == '|') return "the name holds a character that is not allowed";
    }
    return "";
}

std::string ParseJournalHeader(std::string_view data, const HeaderLimits& limits, JournalHeader& out) {
    out = JournalHeader{};
    size_t end = data.substr(0, kMaxHeaderBytes).find("\n\n");
    if (end == std::string_view::npos) return "the journal has no header (it is not a game journal, or it is cut short)";
    std::string_view head = data.substr(0, end + 1);
    out.bodyOffset = end + 2;
    if (out.bodyOffset >= data.size()) return "the journal has no body";

    static const std::array<const char*, 11> keys = {"rules", "assets", "mode",  "name",  "score",    "wave",
                                                      "frames", "ms",     "token", "practice", "autoplay"};
    size_t pos = 0;
    auto nextLine = [&](std::string_view& line) {
        size_t nl = head.find('\n', pos);
        if (nl == std::string_view::npos) return false;
        line = head.substr(pos, nl - pos);
        pos = nl + 1;
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line.rfind("wormlob2 game ", 0) != 0) return "the journal is not a game journal";
    if (line != "wormlob2 game 1") return "the journal is in another format version than this server reads";
    for (const char* key : keys) {
        std::string k = std::string(key) + " ";
        if (!nextLine(line) || line.rfind(k, 0) != 0) return std::string("the header's \"") + key + "\" line is missing or out of order";
        std::string_view v = line.substr(k.size());
        std::string bad = std::string("the header's \"") + key + "\" value is malformed";
        std::string_view name = key;
        if (name == "rules" || name == "assets") {
            if (v.size() != 16) return bad;
            for (char c : v) {
                if (!IsLowerHex(c)) return bad;
            }
            (name == "rules" ? out.rules : out.assets) = std::string(v);
        } else if (name == "mode") {
            if (v != "easy" && v != "medium" && v != "hard") return bad;
            out.mode = std::string(v);
        } else if (name == "name") {
            if (v != "-") {
                if (v.empty() || !DecodeHex(v, out.name)) return bad;
                out.nameHex = std::string(v);
            }
            std::string why = CheckName(out.name, limits.maxNameBytes);
            if (!why.empty()) return why;
        } else if (name == "score" || name == "wave" || name == "frames" || name == "ms") {
            int64_t n = 0;
            if (!ParseCount(v, n)) return bad;
            if (name == "score") out.score = n;
            if (name == "wave") out.wave = n;
            if (name == "frames") out.frames = n;
            if (name == "ms") out.ms = n;
        } else if (name == "token") {
            if (v != "-") {
                if (v.empty() || v.size() > 64) return bad;
                for (char c : v) {
                    if (!IsTokenChar(c)) return bad;
                }
                out.token = std::string(v);
            }
        } else {
            if (v != "0" && v != "1") return bad;
            (name == "practice" ? out.practice : out.autoplay) = v == "1";
        }
    }
    if (pos != head.size()) return "the header has lines this server does not know";
    if (out.wave < 1) return "the header's wave is not at least 1";
    if (out.frames < 1) return "the header claims a game of no frames";
    if (out.frames > limits.maxFrames)
        return "the game is longer than the " + std::to_string(limits.maxFrames) + " frames this server replays";
    return "";
}

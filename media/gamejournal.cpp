// Writing and reading game journals (see gamejournal.h for the layout).
#include "media/gamejournal.h"

#include <zlib.h>

#include <charconv>
#include <cstring>
#include <limits>

namespace {
const char* const kFirstLine = "wormlob2 game 1";
const char* const kStem = "wormlob2 game ";
const char* const kModes[3] = {"easy", "medium", "hard"};

// ---- variable-length integers ----

void PutVar(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back((char)(0x80 | (v & 0x7F)));
        v >>= 7;
    }
    out.push_back((char)v);
}
void PutSigned(std::string& out, int64_t v) { PutVar(out, ((uint64_t)v << 1) ^ (uint64_t)(v >> 63)); }
void PutText(std::string& out, const std::string& t) {
    PutVar(out, t.size());
    out += t;
}

// Reads from a body with every step checked: a short or damaged body makes
// `ok` false and every later read gives 0.
struct Reader {
    const std::string& b;
    size_t pos = 0;
    bool ok = true;
    uint64_t Var() {
        uint64_t v = 0;
        for (int shift = 0; ok; shift += 7) {
            if (pos >= b.size() || shift > 63) {
                ok = false;
                break;
            }
            uint8_t c = (uint8_t)b[pos++];
            v |= (uint64_t)(c & 0x7F) << shift;
            if (!(c & 0x80)) return v;
        }
        return 0;
    }
    int64_t Signed() {
        uint64_t u = Var();
        return (int64_t)(u >> 1) ^ -(int64_t)(u & 1);
    }
    // A count of items still to come: each takes at least one byte, so a
    // count larger than what is left is damage, not a reason to allocate.
    size_t Count() {
        uint64_t n = Var();
        if (n > b.size() - pos) ok = false;
        return ok ? (size_t)n : 0;
    }
    // A count of items that take at least `each` bytes apiece, of which no
    // more than `most` can belong to the game: checked before anything is
    // allocated for them, so that a small file cannot ask for a large table.
    size_t Count(size_t each, uint64_t most) {
        size_t n = Count();
        if (ok && (n > (b.size() - pos) / each || n > most)) ok = false;
        return ok ? n : 0;
    }
    std::string Text() {
        size_t n = Count();
        if (!ok || n > 4096) {
            ok = false;
            return "";
        }
        std::string t = b.substr(pos, n);
        pos += n;
        return t;
    }
    int32_t Int32() {
        int64_t v = Signed();
        if (v < INT32_MIN || v > INT32_MAX) ok = false;
        return ok ? (int32_t)v : 0;
    }
};

bool Number(const std::string& word, long long lo, long long hi, long long& out) {
    if (word.empty()) return false;
    const char* end = word.data() + word.size();
    auto r = std::from_chars(word.data(), end, out, 10);
    return r.ec == std::errc() && r.ptr == end && out >= lo && out <= hi;
}

bool IsHex16(const std::string& w) {
    if (w.size() != 16) return false;
    for (char c : w)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Tokens are the server's; they go back to it as they came, so only a safe
// alphabet is allowed in the header.
bool TokenWord(const std::string& w) {
    if (w.empty() || w.size() > 128) return false;
    for (char c : w)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' ||
              c == '.'))
            return false;
    return true;
}

std::string Deflate(const std::string& in) {
    uLongf size = compressBound((uLong)in.size());
    std::string out(size, '\0');
    if (compress2((Bytef*)out.data(), &size, (const Bytef*)in.data(), (uLong)in.size(), 9) != Z_OK) return "";
    out.resize(size);
    return out;
}

// Inflates at most `limit` bytes; false when the stream is damaged, cut
// short, followed by anything, or larger than the limit.
bool Inflate(const std::string& in, size_t limit, std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = (Bytef*)in.data();
    z.avail_in = (uInt)in.size();
    out.clear();
    char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = (Bytef*)chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        out.append(chunk, sizeof chunk - z.avail_out);
        if (out.size() > limit) {
            rc = Z_MEM_ERROR;
            break;
        }
        if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
            rc = Z_BUF_ERROR;  // the input ended inside the stream
            break;
        }
    }
    bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}
}  // namespace

const char* ModeWord(int mode) { return mode >= 0 && mode <= 2 ? kModes[mode] : "medium"; }

std::string NameHex(const std::string& name) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : name) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out.empty() ? "-" : out;
}

bool NameFromHex(const std::string& hex, std::string& name) {
    name.clear();
    if (hex == "-") return true;
    if (hex.empty() || hex.size() % 2 || hex.size() > 512) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; k++) {
            char c = hex[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        name.push_back((char)v);
    }
    return true;
}

std::string EncodeGameJournal(const GameJournal& j) {
    const GameJournalHeader& h = j.header;
    std::string out = std::string(kFirstLine) + "\n";
    out += "rules " + h.rules + "\n";
    out += "assets " + h.assets + "\n";
    out += std::string("mode ") + ModeWord(h.mode) + "\n";
    out += "name " + NameHex(h.name) + "\n";
    out += "score " + std::to_string(h.score) + "\n";
    out += "wave " + std::to_string(h.wave) + "\n";
    out += "frames " + std::to_string(h.frames) + "\n";
    out += "ms " + std::to_string(h.ms) + "\n";
    out += "token " + (h.token.empty() ? std::string("-") : h.token) + "\n";
    out += std::string("practice ") + (h.practice ? "1" : "0") + "\n";
    out += std::string("autoplay ") + (h.autoplay ? "1" : "0") + "\n";
    out += "\n";

    const JournalData& s = j.streams;
    std::string body;
    PutVar(body, j.numbers.size());
    for (const auto& n : j.numbers) {
        PutText(body, n.first);
        PutSigned(body, n.second);
    }
    PutVar(body, j.texts.size());
    for (const auto& t : j.texts) {
        PutText(body, t.first);
        PutText(body, t.second);
    }
    PutVar(body, s.clockBase);
    PutVar(body, s.endFrames < 0 ? 0 : (uint64_t)s.endFrames);
    // Clock runs: the steps, then the run lengths.
    PutVar(body, s.clock.size());
    for (const auto& r : s.clock) PutSigned(body, r.delta);
    for (const auto& r : s.clock) PutVar(body, r.count);
    // Events field by field: poll steps, kinds, codes, then x and y as steps
    // from the event before (a moving pointer changes little a frame).
    PutVar(body, s.events.size());
    uint64_t poll = 0;
    for (const auto& e : s.events) {
        PutVar(body, e.poll - poll);
        poll = e.poll;
    }
    for (const auto& e : s.events) PutVar(body, (uint64_t)e.e.type * 2 + (e.e.repeat ? 1 : 0));
    for (const auto& e : s.events) PutSigned(body, e.e.code);
    int64_t x = 0, y = 0;
    for (const auto& e : s.events) {
        PutSigned(body, (int64_t)e.e.x - x);
        x = e.e.x;
    }
    for (const auto& e : s.events) {
        PutSigned(body, (int64_t)e.e.y - y);
        y = e.e.y;
    }
    PutVar(body, s.values.size());
    for (int32_t v : s.values) PutSigned(body, v);
    PutVar(body, s.checks.size());
    uint64_t frame = 0;
    for (const auto& c : s.checks) {
        PutVar(body, c.first - frame);
        frame = c.first;
        for (int k = 0; k < 8; k++) body.push_back((char)(c.second >> (8 * k)));
    }
    std::string packed = Deflate(body);
    if (packed.empty()) return "";
    return out + packed;
}

bool LooksLikeGameJournal(const std::string& bytes) { return bytes.rfind(kStem, 0) == 0; }

bool DecodeGameJournalHeader(const std::string& bytes, GameJournalHeader& h, size_t& bodyStart, std::string& error) {
    h = GameJournalHeader();
    error.clear();
    if (!LooksLikeGameJournal(bytes)) {
        error = "not a wormlob2 game journal";
        return false;
    }
    size_t end = bytes.find("\n\n");
    if (end == std::string::npos || end > GameJournalMaxHeader) {
        error = "the journal's header is cut short or too long";
        return false;
    }
    bodyStart = end + 2;
    static const char* keys[] = {"rules", "assets", "mode", "name", "score", "wave",
                                 "frames", "ms", "token", "practice", "autoplay"};
    size_t pos = 0, line = 0;
    const size_t wantLines = 1 + sizeof keys / sizeof keys[0];
    while (pos <= end) {
        size_t nl = bytes.find('\n', pos);
        std::string text = bytes.substr(pos, nl - pos);
        pos = nl + 1;
        if (line == 0) {
            if (text != kFirstLine) {
                error = "the journal is format \"" + text.substr(std::strlen(kStem)) +
                        "\", but this program reads format 1";
                return false;
            }
            line++;
            continue;
        }
        if (line >= wantLines) {
            error = "the journal's header has more lines than it should";
            return false;
        }
        size_t sp = text.find(' ');
        std::string key = text.substr(0, sp), value = sp == std::string::npos ? "" : text.substr(sp + 1);
        const char* want = keys[line - 1];
        if (key != want) {
            error = std::string("the journal's header line ") + std::to_string(line + 1) + " should be \"" + want +
                    "\"";
            return false;
        }
        long long n = 0;
        bool ok = true;
        if (key == "rules") ok = IsHex16(value), h.rules = value;
        else if (key == "assets") ok = IsHex16(value), h.assets = value;
        else if (key == "mode") {
            ok = false;
            for (int m = 0; m < 3; m++)
                if (value == kModes[m]) h.mode = m, ok = true;
        } else if (key == "name") ok = NameFromHex(value, h.name);
        else if (key == "score") ok = Number(value, 0, INT64_MAX / 2, n), h.score = n;
        else if (key == "wave") ok = Number(value, 1, INT32_MAX, n), h.wave = n;
        else if (key == "frames") ok = Number(value, 0, INT32_MAX, n), h.frames = n;
        else if (key == "ms") ok = Number(value, 0, INT64_MAX / 2, n), h.ms = n;
        else if (key == "token") ok = value == "-" || TokenWord(value), h.token = value == "-" ? "" : value;
        else if (key == "practice") ok = Number(value, 0, 1, n), h.practice = n == 1;
        else if (key == "autoplay") ok = Number(value, 0, 1, n), h.autoplay = n == 1;
        if (!ok) {
            error = "the journal's " + key + " \"" + value.substr(0, 40) + "\" is not valid";
            return false;
        }
        line++;
    }
    if (line != wantLines) {
        error = "the journal's header is missing lines";
        return false;
    }
    return true;
}

bool DecodeGameJournal(const std::string& bytes, GameJournal& j, std::string& error) {
    j = GameJournal();
    if (bytes.size() > GameJournalMaxFile) {
        error = "the journal is larger than any game's";
        return false;
    }
    size_t bodyStart = 0;
    if (!DecodeGameJournalHeader(bytes, j.header, bodyStart, error)) return false;
    std::string body;
    if (!Inflate(bytes.substr(bodyStart), GameJournalMaxBody, body)) {
        error = "the journal's body is damaged or cut short";
        return false;
    }
    GameJournalHeader header = j.header;
    if (!DecodeGameJournalBody(body, j, error)) return false;
    j.header = header;
    if (j.streams.endFrames != j.header.frames) {
        error = "the journal's frame count does not match its header";
        j = GameJournal();
        return false;
    }
    return true;
}

bool DecodeGameJournalBody(const std::string& body, GameJournal& j, std::string& error) {
    j = GameJournal();
    Reader r{body};
    // The state is a few hundred named values: far more is not a game's.
    size_t n = r.Count(2, 100000);
    for (size_t i = 0; i < n && r.ok; i++) {
        std::string name = r.Text();
        int64_t v = r.Signed();
        j.numbers.push_back({name, v});
    }
    n = r.Count(2, 1000);
    for (size_t i = 0; i < n && r.ok; i++) {
        std::string name = r.Text();
        std::string v = r.Text();
        j.texts.push_back({name, v});
    }
    JournalData& s = j.streams;
    uint64_t base = r.Var();
    if (base > UINT32_MAX) r.ok = false;
    s.clockBase = (uint32_t)base;
    uint64_t frames = r.Var();
    if (frames > (uint64_t)INT32_MAX) r.ok = false;
    s.endFrames = (long long)frames;
    // Each table is bounded by the bytes its items need at the least (a run
    // is a step and a count; an event five fields; an answer one) and by
    // what the claimed frames can use; the replay holds to the same bounds
    // per frame (media/journal.h).
    uint64_t frameRoom = frames + GameReplaySpareFrames;
    n = r.Count(2, frameRoom * GameReplayMaxReadingsPerFrame);
    s.clock.resize(n);
    for (auto& c : s.clock) c.delta = r.Int32();
    uint64_t readings = 0;
    for (auto& c : s.clock) {
        uint64_t count = r.Var();
        if (count < 1 || count > UINT32_MAX) r.ok = false;
        c.count = (uint32_t)count;
        readings += r.ok ? count : 0;
    }
    if (readings > frameRoom * GameReplayMaxReadingsPerFrame) r.ok = false;
    n = r.Count(5, frameRoom * GameReplayMaxEventsPerFrame);
    s.events.resize(n, JournalEvent{0, InputEvent{INPUT_KEY_DOWN}});
    uint64_t poll = 0;
    for (auto& e : s.events) {
        uint64_t step = r.Var();
        if (step > ((uint64_t)1 << 40)) r.ok = false;
        poll += step;
        e.poll = poll;
        if (poll == 0) r.ok = false;  // polls count from 1
    }
    for (auto& e : s.events) {
        uint64_t kind = r.Var();
        if (kind / 2 > (uint64_t)INPUT_PAD_GONE) r.ok = false;
        e.e.type = (InputEventType)(r.ok ? kind / 2 : 0);
        e.e.repeat = kind & 1;
    }
    for (auto& e : s.events) e.e.code = r.Int32();
    int64_t x = 0, y = 0;
    for (auto& e : s.events) {
        x += r.Signed();
        if (x < INT32_MIN || x > INT32_MAX) r.ok = false, x = 0;
        e.e.x = (int)x;
    }
    for (auto& e : s.events) {
        y += r.Signed();
        if (y < INT32_MIN || y > INT32_MAX) r.ok = false, y = 0;
        e.e.y = (int)y;
    }
    n = r.Count(1, frameRoom * GameReplayMaxAnswersPerFrame);
    s.values.resize(n);
    for (auto& v : s.values) v = r.Int32();
    n = r.Count(9, frames);
    uint64_t frame = 0;
    for (size_t i = 0; i < n && r.ok; i++) {
        uint64_t step = r.Var();
        if (step == 0 || step > frames) r.ok = false;
        frame += step;
        if (r.pos + 8 > body.size()) {
            r.ok = false;
            break;
        }
        uint64_t sum = 0;
        for (int k = 0; k < 8; k++) sum |= (uint64_t)(uint8_t)body[r.pos++] << (8 * k);
        s.checks.push_back({frame, sum});
    }
    if (!r.ok || r.pos != body.size() || frame > frames) {
        error = "the journal's body is damaged";
        j = GameJournal();
        return false;
    }
    return true;
}

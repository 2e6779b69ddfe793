// Recording and replaying the run journal (see journal.h for the format).
#include "media/journal.h"

#include "media/system.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
const char* const kHeader = "wormlob2 journal 1";
const char* const kHeaderStem = "wormlob2 journal ";

enum Mode { MODE_OFF, MODE_RECORD, MODE_REPLAY };
Mode g_mode = MODE_OFF;
void (*g_stop)(const std::string&) = nullptr;

// Shared by both directions.
uint32_t g_lastMs = 0;      // the previous clock reading
uint64_t g_poll = 0;        // input polls so far
long long g_frames = 0;     // frames ended so far

// Recording.
std::FILE* g_out = nullptr;
bool g_writeFailed = false;
bool g_runOpen = false;  // a clock run not yet written
JournalClockRun g_run{0, 0};

// Replaying.
JournalData g_data;
size_t g_runIndex = 0, g_runUsed = 0, g_eventIndex = 0, g_valueIndex = 0, g_checkIndex = 0;
bool g_delivering = false;
bool g_paced = false;
uint64_t g_frameReadings = 0;  // clock readings within the current frame

// The game capture.
bool g_capturing = false;
JournalData g_capture;
uint32_t g_captureLastMs = 0;
uint64_t g_capturePoll = 0;
uint64_t g_captureLastCheck = 0;
long long g_captureFrames = 0;

void CaptureClock(uint32_t ms) {
    if (!g_capturing) return;
    int32_t delta = (int32_t)(ms - g_captureLastMs);
    g_captureLastMs = ms;
    if (!g_capture.clock.empty() && g_capture.clock.back().delta == delta && g_capture.clock.back().count < UINT32_MAX)
        g_capture.clock.back().count++;
    else
        g_capture.clock.push_back(JournalClockRun{delta, 1});
}

[[noreturn]] void Stop(const std::string& why) {
    // Whatever the handler does on its way out runs on the plain clock and
    // input, not into the exhausted journal again.
    g_mode = MODE_OFF;
    if (g_stop) g_stop(why);
    std::fprintf(stderr, "wormlob2: replay stopped: %s\n", why.c_str());
    EndProcess(3);
}

// A game journal's replay: its streams hold checkpoints, not a checksum a
// frame, and it has a claimed length.
bool GameReplay() { return g_mode == MODE_REPLAY && g_data.frames.empty() && g_data.endFrames >= 0; }

std::string AtFrame() { return " (frame " + std::to_string(g_frames + 1) + ")"; }

void Write(const char* text) {
    if (g_out && std::fputs(text, g_out) < 0) g_writeFailed = true;
}

void FlushRun() {
    if (!g_runOpen) return;
    char line[48];
    if (g_run.count == 1) std::snprintf(line, sizeof line, "c %" PRId32 "\n", g_run.delta);
    else std::snprintf(line, sizeof line, "c %" PRId32 " %" PRIu32 "\n", g_run.delta, g_run.count);
    Write(line);
    g_runOpen = false;
}

// ---- parsing ----

// The next blank-separated word of a line, or "" at its end.
std::string Word(const std::string& line, size_t& pos) {
    while (pos < line.size() && line[pos] == ' ') pos++;
    size_t start = pos;
    while (pos < line.size() && line[pos] != ' ') pos++;
    return line.substr(start, pos - start);
}

// A whole decimal number (optional minus) within lo..hi filling the word.
bool Number(const std::string& word, long long lo, long long hi, long long& out) {
    if (word.empty()) return false;
    const char* end = word.data() + word.size();
    auto r = std::from_chars(word.data(), end, out, 10);
    return r.ec == std::errc() && r.ptr == end && out >= lo && out <= hi;
}

bool ParseLine(const std::string& line, JournalData& d, std::string& what) {
    size_t pos = 0;
    std::string kind = Word(line, pos);
    std::vector<std::string> f;
    for (std::string w = Word(line, pos); !w.empty(); w = Word(line, pos)) {
        if (f.size() == 8) break;  // more than any item has; reported below
        f.push_back(w);
    }
    auto want = [&](size_t lo, size_t hi) {
        if (f.size() >= lo && f.size() <= hi) return true;
        what = "\"" + kind + "\" wants " + std::to_string(lo) +
               (hi != lo ? " or " + std::to_string(hi) : std::string()) + " values";
        return false;
    };
    long long n = 0;
    if (kind == "c") {
        if (!want(1, 2)) return false;
        JournalClockRun run{0, 1};
        if (!Number(f[0], INT32_MIN, INT32_MAX, n)) {
            what = "clock step \"" + f[0] + "\" is not a whole number of milliseconds";
            return false;
        }
        run.delta = (int32_t)n;
        if (f.size() == 2) {
            if (!Number(f[1], 1, UINT32_MAX, n)) {
                what = "clock run length \"" + f[1] + "\" is not a count from 1";
                return false;
            }
            run.count = (uint32_t)n;
        }
        d.clock.push_back(run);
    } else if (kind == "e") {
        if (!want(6, 6)) return false;
        JournalEvent je{0, InputEvent{INPUT_KEY_DOWN}};
        if (!Number(f[0], 1, INT64_MAX, n)) {
            what = "input poll \"" + f[0] + "\" is not a count from 1";
            return false;
        }
        je.poll = (uint64_t)n;
        if (!d.events.empty() && je.poll < d.events.back().poll) {
            what = "input poll " + f[0] + " comes before the previous event's";
            return false;
        }
        if (!Number(f[1], INPUT_KEY_DOWN, INPUT_PAD_GONE, n)) {
            what = "event type \"" + f[1] + "\" is not one of 0.." + std::to_string((int)INPUT_PAD_GONE);
            return false;
        }
        je.e.type = (InputEventType)n;
        long long v[3];
        for (int i = 0; i < 3; i++) {
            if (!Number(f[2 + i], INT32_MIN, INT32_MAX, v[i])) {
                what = "event value \"" + f[2 + i] + "\" is not a whole number";
                return false;
            }
        }
        je.e.code = (int)v[0], je.e.x = (int)v[1], je.e.y = (int)v[2];
        if (!Number(f[5], 0, 1, n)) {
            what = "auto-repeat flag \"" + f[5] + "\" is not 0 or 1";
            return false;
        }
        je.e.repeat = n == 1;
        d.events.push_back(je);
    } else if (kind == "v") {
        if (!want(1, 1)) return false;
        if (!Number(f[0], INT32_MIN, INT32_MAX, n)) {
            what = "device value \"" + f[0] + "\" is not a whole number";
            return false;
        }
        d.values.push_back((int32_t)n);
    } else if (kind == "f") {
        if (!want(1, 1)) return false;
        uint64_t sum = 0;
        const char* end = f[0].data() + f[0].size();
        auto r = std::from_chars(f[0].data(), end, sum, 16);
        if (f[0].size() != 16 || r.ec != std::errc() || r.ptr != end) {
            what = "frame checksum \"" + f[0] + "\" is not 16 hex digits";
            return false;
        }
        d.frames.push_back(sum);
    } else if (kind == "o") {
        if (!want(2, 2)) return false;
        d.options.push_back({f[0], f[1]});
    } else if (kind == "end") {
        if (!want(1, 1)) return false;
        if (!Number(f[0], 0, INT64_MAX, n) || (size_t)n != d.frames.size()) {
            what = "end after " + f[0] + " frames, but the journal has " + std::to_string(d.frames.size());
            return false;
        }
        d.endFrames = n;
    } else {
        what = kind.empty() ? "blank line" : "unknown item \"" + kind + "\" (c, e, v, f, o or end)";
        return false;
    }
    return true;
}
}  // namespace

bool ParseJournal(const std::string& text, JournalData& data, std::string& error) {
    data = JournalData();
    error.clear();
    size_t start = 0;
    int number = 0;
    bool ended = false;
    std::string what;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        start = nl + 1;
        number++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool ok = true;
        if (number == 1) {
            if (line.rfind(kHeaderStem, 0) == 0 && line != kHeader) {
                what = "format \"" + line.substr(std::string(kHeaderStem).size()) +
                       "\", but this program reads format 1";
                ok = false;
            } else if (line != kHeader) {
                what = "not a wormlob2 journal (the first line is not \"" + std::string(kHeader) + "\")";
                ok = false;
            }
        } else if (ended) {
            what = "something after the end line";
            ok = false;
        } else {
            ok = ParseLine(line, data, what);
            ended = data.endFrames >= 0;
        }
        if (!ok) {
            error = "line " + std::to_string(number) + ": " + what;
            data = JournalData();
            return false;
        }
    }
    if (number == 0) {
        error = "empty (not a wormlob2 journal)";
        return false;
    }
    return true;
}

bool ReadJournal(const std::string& path, JournalData& data, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    if (f) ss << f.rdbuf();
    if (!f || f.bad()) {
        data = JournalData();
        error = "cannot be read";
        return false;
    }
    return ParseJournal(ss.str(), data, error);
}

bool StartRecording(const std::string& path, std::string& error) {
    g_out = std::fopen(path.c_str(), "wb");
    if (!g_out) {
        error = "cannot be created";
        return false;
    }
    g_mode = MODE_RECORD;
    g_writeFailed = false;
    g_runOpen = false;
    g_lastMs = 0;
    g_poll = 0;
    g_frames = 0;
    Write(kHeader);
    Write("\n");
    return true;
}

void JournalOption(const std::string& name, const std::string& value) {
    if (g_mode != MODE_RECORD) return;
    FlushRun();
    Write(("o " + name + " " + value + "\n").c_str());
}

void StartReplay(const JournalData& data) {
    g_mode = MODE_REPLAY;
    g_data = data;
    g_runIndex = g_runUsed = g_eventIndex = g_valueIndex = g_checkIndex = 0;
    g_lastMs = data.clockBase;
    g_poll = 0;
    g_frames = 0;
    g_frameReadings = 0;
}

bool Recording() { return g_mode == MODE_RECORD; }
bool Replaying() { return g_mode == MODE_REPLAY; }

std::string FinishJournal(long long frames) {
    std::string trouble;
    if (g_mode == MODE_RECORD) {
        FlushRun();
        Write(("end " + std::to_string(frames) + "\n").c_str());
        if (std::fclose(g_out) != 0) g_writeFailed = true;
        g_out = nullptr;
        if (g_writeFailed) trouble = "the journal could not be written completely";
    } else if (g_mode == MODE_REPLAY) {
        size_t readings = 0;
        for (size_t i = g_runIndex; i < g_data.clock.size(); i++) readings += g_data.clock[i].count;
        readings -= g_runUsed;
        size_t events = g_data.events.size() - g_eventIndex;
        if (g_data.endFrames >= 0 && frames != g_data.endFrames)
            trouble = "the replay ended after " + std::to_string(frames) + " frames, the recording after " +
                      std::to_string(g_data.endFrames);
        else if (readings || events)
            trouble = "the journal has " + std::to_string(readings) + " clock readings and " +
                      std::to_string(events) + " input events left over";
    }
    g_mode = MODE_OFF;
    return trouble;
}

void SetJournalStopHandler(void (*stop)(const std::string& why)) { g_stop = stop; }

int JournalClock(int platformMs) {
    if (g_mode == MODE_RECORD) {
        int32_t delta = (int32_t)((uint32_t)platformMs - g_lastMs);
        g_lastMs = (uint32_t)platformMs;
        if (g_runOpen && delta == g_run.delta && g_run.count < UINT32_MAX) {
            g_run.count++;
        } else {
            FlushRun();
            g_run = JournalClockRun{delta, 1};
            g_runOpen = true;
        }
        CaptureClock((uint32_t)platformMs);
        return platformMs;
    }
    if (g_mode != MODE_REPLAY) {
        CaptureClock((uint32_t)platformMs);
        return platformMs;
    }
    if (g_runIndex >= g_data.clock.size()) Stop("the journal's clock readings ran out" + AtFrame());
    if (GameReplay() && ++g_frameReadings > GameReplayMaxReadingsPerFrame)
        Stop("the journal reads the clock more often within one frame than any game does" + AtFrame());
    const JournalClockRun& run = g_data.clock[g_runIndex];
    g_lastMs += (uint32_t)run.delta;
    if (++g_runUsed == run.count) {
        g_runIndex++;
        g_runUsed = 0;
    }
    CaptureClock(g_lastMs);
    return (int)g_lastMs;
}

int JournalNow() { return (int)g_lastMs; }
void SetReplayPacing(bool paced) { g_paced = paced; }
bool ReplayPaced() { return g_mode == MODE_REPLAY && g_paced; }

void JournalPoll() {
    if (g_mode != MODE_OFF) g_poll++;
    if (g_capturing) g_capturePoll++;
}

uint64_t JournalPollCount() { return g_poll; }

void JournalPosted(const InputEvent& e, bool inPoll) {
    if (g_capturing) g_capture.events.push_back(JournalEvent{inPoll ? g_capturePoll : g_capturePoll + 1, e});
    if (g_mode != MODE_RECORD) return;
    FlushRun();
    // An event that arrives between polls is seen by the next one.
    uint64_t poll = inPoll ? g_poll : g_poll + 1;
    char line[96];
    std::snprintf(line, sizeof line, "e %" PRIu64 " %d %d %d %d %d\n", poll, (int)e.type, e.code, e.x, e.y,
                  e.repeat ? 1 : 0);
    Write(line);
}

void JournalDeliver() {
    if (g_mode != MODE_REPLAY) return;
    g_delivering = true;
    while (g_eventIndex < g_data.events.size() && g_data.events[g_eventIndex].poll <= g_poll)
        PostInputEvent(g_data.events[g_eventIndex++].e);
    g_delivering = false;
}

bool JournalAccepts() { return g_mode != MODE_REPLAY || g_delivering; }

int32_t JournalValue(int32_t (*ask)(int a, int b), int a, int b) {
    if (g_mode == MODE_REPLAY) {
        if (g_valueIndex >= g_data.values.size()) Stop("the journal's device answers ran out" + AtFrame());
        int32_t v = g_data.values[g_valueIndex++];
        if (g_capturing) g_capture.values.push_back(v);
        return v;
    }
    int32_t v = ask(a, b);
    if (g_capturing) g_capture.values.push_back(v);
    if (g_mode == MODE_RECORD) {
        FlushRun();
        Write(("v " + std::to_string(v) + "\n").c_str());
    }
    return v;
}

void JournalFrame(uint64_t checksum) {
    if (g_mode == MODE_RECORD) {
        FlushRun();
        char line[32];
        std::snprintf(line, sizeof line, "f %016" PRIx64 "\n", checksum);
        Write(line);
        // Each frame reaches the file, so a run that is killed still leaves
        // a journal that replays up to its last frame.
        if (g_out && std::fflush(g_out) != 0) g_writeFailed = true;
    } else if (g_mode == MODE_REPLAY && g_data.frames.empty()) {
        // A game journal: the checkpoints only.
        g_frameReadings = 0;
        if (g_data.endFrames >= 0 && (uint64_t)g_frames >= (uint64_t)g_data.endFrames + GameReplaySpareFrames)
            Stop("the replay ran past the " + std::to_string(g_data.endFrames) + " frames its journal claims");
        while (g_checkIndex < g_data.checks.size() && g_data.checks[g_checkIndex].first < (uint64_t)g_frames + 1)
            g_checkIndex++;
        if (g_checkIndex < g_data.checks.size() && g_data.checks[g_checkIndex].first == (uint64_t)g_frames + 1) {
            uint64_t want = g_data.checks[g_checkIndex++].second;
            if (checksum != want) {
                char why[160];
                std::snprintf(why, sizeof why,
                              "the game went differently from the recording by frame %lld (state checksum %016" PRIx64
                              ", recorded %016" PRIx64 ")",
                              g_frames + 1, checksum, want);
                Stop(why);
            }
        }
    } else if (g_mode == MODE_REPLAY) {
        if (g_frames >= (long long)g_data.frames.size()) Stop("the journal's frames ran out" + AtFrame());
        uint64_t want = g_data.frames[g_frames];
        if (checksum != want) {
            char why[160];
            std::snprintf(why, sizeof why,
                          "frame %lld went differently from the recording (state checksum %016" PRIx64
                          ", recorded %016" PRIx64 ")",
                          g_frames + 1, checksum, want);
            Stop(why);
        }
    }
    g_frames++;
}

void StartGameCapture(uint32_t clockBase) {
    g_capture = JournalData();
    g_capture.clockBase = clockBase;
    g_captureLastMs = clockBase;
    g_capturePoll = 0;
    g_captureFrames = 0;
    g_captureLastCheck = 0;
    g_capturing = true;
}

bool GameCapturing() { return g_capturing; }

void GameCaptureFrame(uint64_t checksum, int checkEvery) {
    if (!g_capturing) return;
    g_captureFrames++;
    // The last frame's checksum is kept too: it replaces a checkpoint
    // taken since the previous regular one, so the list ends at the end.
    if (!g_capture.checks.empty() && g_capture.checks.back().first > g_captureLastCheck) g_capture.checks.pop_back();
    g_capture.checks.push_back({(uint64_t)g_captureFrames, checksum});
    if (checkEvery > 0 && g_captureFrames % checkEvery == 0) g_captureLastCheck = (uint64_t)g_captureFrames;
}

JournalData TakeGameCapture() {
    g_capturing = false;
    JournalData d = std::move(g_capture);
    g_capture = JournalData();
    d.endFrames = g_captureFrames;
    return d;
}

uint32_t GameCaptureLastMs() { return g_captureLastMs; }

long long JournalFramesSoFar() { return g_frames; }


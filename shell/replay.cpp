#include "shell/replay.h"

#include <cinttypes>
#include <cstdio>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "game/state.h"
#include "media/graphics.h"
#include "media/system.h"
#include "media/journal.h"
#include "media/gamejournal.h"
#include "shell/gamejournal.h"
#include "screens/helpers.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace {
JournalData g_replay;
std::FILE* g_checksums = nullptr;
bool g_framesGiven = false;  // --frames cuts this replay short on purpose
// The recording's Settings and Keys tables and starting player name, put in
// place at the points of start-up where the recording read them.
std::vector<int> g_settings, g_keys;
std::string g_playerName;
bool g_haveName = false;

std::string JoinNumbers(const int* v, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += (i ? "," : "") + std::to_string(v[i]);
    return out;
}

// Exactly n comma-separated whole numbers.
bool SplitNumbers(const std::string& text, size_t n, std::vector<int>& out) {
    out.clear();
    std::stringstream ss(text);
    for (std::string item; std::getline(ss, item, ',');) {
        size_t used = 0;
        long long v = 0;
        try {
            v = std::stoll(item, &used);
        } catch (...) {
            return false;
        }
        if (used != item.size() || v < INT32_MIN || v > INT32_MAX) return false;
        out.push_back((int)v);
    }
    return out.size() == n && !text.empty() && text.back() != ',';
}

// A name as hex digits, two a byte ("-" when empty), so that blanks and
// any byte fit in one word.
std::string HexText(const std::string& text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) out += std::string(1, digits[c >> 4]) + digits[c & 15];
    return out.empty() ? "-" : out;
}
bool UnhexText(const std::string& hex, std::string& out) {
    out.clear();
    if (hex == "-") return true;
    if (hex.size() % 2 || hex.size() > 512) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; k++) {
            char c = hex[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back((char)v);
    }
    return true;
}

void CloseChecksums() {
    if (g_checksums) std::fclose(g_checksums);
    g_checksums = nullptr;
}

// A replay that cannot go on ends here: said in the log and on standard
// error, and no file of the game is written.
[[noreturn]] void StopReplay(const std::string& why) {
    LogLine("");
    LogLine("Replay stopped: " + why);
    std::cerr << "wormlob2: replay stopped: " << why << "\n";
    CloseChecksums();
    CloseDisplay();
    CloseLog();
    ShutdownAudio();
    EndProcess(3);
}
}  // namespace

namespace {
// A whole number in lo..hi filling the text.
bool OptionNumber(const std::string& text, long long lo, long long hi, long long& out) {
    size_t used = 0;
    try {
        out = std::stoll(text, &used);
    } catch (...) {
        return false;
    }
    return used == text.size() && out >= lo && out <= hi;
}

// Takes the recorded run's options into Options; false with what when one
// is unknown or its value is not one the program could have been given.
bool ApplyRecordedOption(const std::string& name, const std::string& value, std::string& what) {
    long long n = 0;
    bool ok = true;
    if (name == "frames") {
        ok = OptionNumber(value, 0, INT64_MAX, n);
        // --frames given to the replay can only cut it shorter than the
        // recording.
        if (ok && (!g_framesGiven || (n > 0 && n <= Options.frames))) {
            Options.frames = n;
            g_framesGiven = false;
        }
    } else if (name == "games") {
        ok = OptionNumber(value, 0, INT64_MAX, n);
        Options.games = n;
    } else if (name == "autoplay") {
        ok = OptionNumber(value, 0, 1, n);
        Options.autoplay = n == 1;
    } else if (name == "mode") {
        ok = OptionNumber(value, -1, 2, n);
        Options.mode = (int)n;
    } else if (name == "seed") {
        ok = OptionNumber(value, -1, INT32_MAX, n);
        Options.seed = n;
    } else if (name == "settings") {
        ok = SplitNumbers(value, 100, g_settings);
    } else if (name == "keys") {
        ok = SplitNumbers(value, 101, g_keys);
    } else if (name == "player") {
        ok = g_haveName = UnhexText(value, g_playerName);
    } else if (name == "autoplay-steer") {
        ok = OptionNumber(value, 0, 2, n);
        Options.autoplaySteer = (int)n;
    } else if (name == "steering") {
        ok = OptionNumber(value, 0, 1, n);
        Options.steering = n == 1;
    } else if (name == "headless-size") {
        int w = 0, h = 0;
        ok = std::sscanf(value.c_str(), "%dx%d", &w, &h) == 2 && w >= 320 && h >= 200 && w <= 16384 && h <= 16384;
        // A watched replay opens the window its setup asks for.
        if (ok && Options.headless) Options.headlessWidth = w, Options.headlessHeight = h;
    } else {
        what = "run option \"" + name + "\" is not known to this program";
        return false;
    }
    if (!ok) what = "run option " + name + " has the odd value \"" + value + "\"";
    return ok;
}
}  // namespace

bool CheckJournalOptions() {
    if (!Options.recordFile.empty() && !Options.replayFile.empty()) {
        std::cerr << "wormlob2: --record and --replay cannot be used together\n";
        return false;
    }
    // A held performance test is a measurement, not a run to keep: its
    // length would have to be journaled with the options.
    if (Options.testLoad > 0 && (!Options.recordFile.empty() || !Options.replayFile.empty())) {
        std::cerr << "wormlob2: --test-load cannot be used with --record or --replay\n";
        return false;
    }
    if (Options.replayFile.empty()) return true;
    if (!Options.inputScript.empty() || Options.virtualClock || Options.autoplay || Options.mode >= 0 ||
        Options.seed >= 0 || Options.games > 0 || Options.autoplaySteer != 0) {
        std::cerr << "wormlob2: --replay takes its input, its clock and the recorded run's options from the "
                     "journal; --input, --virtual-clock, --autoplay, --autoplay-steer, --mode, --seed and --games "
                     "cannot be used with it\n";
        return false;
    }
    std::string error;
    {
        // A game journal (one game, from 418/games/) is replayed on its own.
        std::ifstream f(Options.replayFile, std::ios::binary);
        std::string head(32, '\0');
        f.read(head.data(), (std::streamsize)head.size());
        head.resize((size_t)std::max<std::streamsize>(0, f.gcount()));
        if (LooksLikeGameJournal(head)) {
            std::ifstream whole(Options.replayFile, std::ios::binary);
            std::stringstream ss;
            ss << whole.rdbuf();
            if (!LoadGameJournalReplay(ss.str(), error)) {
                std::cerr << "wormlob2: " << error << "\n";
                return false;
            }
            if (Options.frames > 0) {
                std::cerr << "wormlob2: --frames cannot cut a game journal's replay short\n";
                return false;
            }
            return true;
        }
    }
    if (!ReadJournal(Options.replayFile, g_replay, error)) {
        std::cerr << "wormlob2: journal " << Options.replayFile << ": " << error << "\n";
        return false;
    }
    g_framesGiven = Options.frames > 0;
    // A run recorded before keys and pads steered says nothing of them.
    Options.steering = false;
    for (const auto& option : g_replay.options) {
        if (!ApplyRecordedOption(option.first, option.second, error)) {
            std::cerr << "wormlob2: journal " << Options.replayFile << ": " << error << "\n";
            return false;
        }
    }
    return true;
}

bool StartRunJournal() {
    std::string error;
    if (!Options.checksumFile.empty()) {
        g_checksums = std::fopen(Options.checksumFile.c_str(), "wb");
        if (!g_checksums) {
            std::cerr << "wormlob2: checksum file " << Options.checksumFile << ": cannot be created\n";
            return false;
        }
    }
    if (!Options.recordFile.empty() && !StartRecording(Options.recordFile, error)) {
        std::cerr << "wormlob2: journal " << Options.recordFile << ": " << error << "\n";
        CloseChecksums();
        return false;
    }
    if (Recording()) {
        // What steers the run besides its input: the replay does the same.
        JournalOption("frames", std::to_string(Options.frames));
        JournalOption("games", std::to_string(Options.games));
        JournalOption("autoplay", Options.autoplay ? "1" : "0");
        JournalOption("mode", std::to_string(Options.mode));
        JournalOption("seed", std::to_string(Options.seed));
        JournalOption("autoplay-steer", std::to_string(Options.autoplaySteer));
        JournalOption("steering", "1");
        if (Options.headless)
            JournalOption("headless-size",
                          std::to_string(Options.headlessWidth) + "x" + std::to_string(Options.headlessHeight));
    }
    if (!Options.replayFile.empty() && !ReplayingGameJournal()) {
        SetJournalStopHandler(StopReplay);
        // On a display the replay runs at the recorded speed, to be watched;
        // headless it runs as fast as it can.
        SetReplayPacing(!Options.headless);
        StartReplay(g_replay);
        g_replay = JournalData();
    }
    return true;
}

void JournalSetup() {
    if (Recording()) {
        JournalOption("settings", JoinNumbers(Settings, 100));
        JournalOption("keys", JoinNumbers(Keys, 101));
    }
    if (!Replaying()) return;
    // The recording's configuration steers the replay (frame skipping, the
    // display mode, the bindings), whatever this folder's Setup.ini says.
    for (size_t i = 0; i < g_settings.size(); i++) Settings[i] = g_settings[i];
    for (size_t i = 0; i < g_keys.size(); i++) Keys[i] = g_keys[i];
}

void JournalPlayerName() {
    if (Recording()) JournalOption("player", HexText(PlayerName));
    if (Replaying() && g_haveName) PlayerName = g_playerName;
}

void JournalFrameEnd() {
    if (!g_checksums && !Recording() && !Replaying() && !GameCapturing()) return;
    uint64_t game = GameChecksum();
    GameJournalFrame(game);
    if (g_checksums) std::fprintf(g_checksums, "%lld %016" PRIx64 "\n", FrameCounter, game);
    if (!Recording() && !Replaying() && !GameCapturing()) return;
    // The journal's check covers the shell's state that steers the run too:
    // the screen, the mode picked, the pointer, the measured frame rate and
    // what the performance test decided.
    uint64_t h = game;
    int shell[] = {PlayState, CurrentMode, FrameMouseX, FrameMouseY, FrameRate,
                   Settings[7], SpriteBudget[1], SpriteBudget[2], SpriteBudget[3]};
    for (int v : shell) h = (h ^ (uint32_t)v) * 1099511628211ull;
    GameCaptureFrame(h, GameCheckEvery);
    if (Recording() || Replaying()) JournalFrame(h);
}

int EndRunJournal() {
    bool replay = Replaying();
    bool record = Recording();
    std::string trouble = FinishJournal(FrameCounter);
    CloseChecksums();
    if (record && !trouble.empty()) std::cerr << "wormlob2: " << trouble << "\n";
    if (!replay) return 0;
    if (g_framesGiven) {
        LogLine("Replay stopped by --frames after " + std::to_string(FrameCounter) + " frames");
        return 0;
    }
    if (trouble.empty()) {
        LogLine("Replay finished as recorded after " + std::to_string(FrameCounter) + " frames");
        return 0;
    }
    LogLine("Replay stopped: " + trouble);
    std::cerr << "wormlob2: replay: " << trouble << "\n";
    return 3;
}


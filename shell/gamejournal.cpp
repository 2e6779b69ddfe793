#include "shell/gamejournal.h"

#ifndef __EMSCRIPTEN__
#include <openssl/sha.h>
#endif

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>

#include "game/assets.h"
#include "game/autoplay.h"
#include "game/steer.h"
#include "game/state.h"
#include "media/gamejournal.h"
#include "media/journal.h"
#include "media/system.h"
#include "rules_fingerprint.h"
#include "screens/helpers.h"
#include "services/online.h"
#include "services/popups.h"
#include "services/scores.h"
#include "services/sequencer.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace fs = std::filesystem;

bool PracticeKeysUsed = false;

namespace {

// The game being captured.
std::vector<std::pair<std::string, int64_t>> g_numbers;
std::vector<std::pair<std::string, std::string>> g_texts;
bool g_autoplayGame = false;
// What the game's frames say (counted from 1): the clock at the first and
// the last, and the game's own last frame (before name entry) with the
// game state's checksum there. A game's length is read from its frames,
// which the replay checks, not from readings after them, which nothing
// checks; and the game played is known by its last frame, whatever name
// was typed afterwards.
long long g_frameCount = 0;
uint32_t g_firstFrameMs = 0, g_lastFrameMs = 0;
long long g_playFrames = 0;
uint64_t g_playChecksum = 0;

// The game journal being replayed.
bool g_replaying = false;
GameJournal g_replay;

int64_t FloatBits(float f) {
    int32_t v;
    std::memcpy(&v, &f, 4);
    return v;
}
float BitsToFloat(int64_t v) {
    int32_t b = (int32_t)v;
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// What a game inherits from the program around it: everything read during a
// game that the game itself did not set. The names are the tables' own, so
// a journal from a program that keeps another table is told apart.
void SnapshotState(std::vector<std::pair<std::string, int64_t>>& n,
                   std::vector<std::pair<std::string, std::string>>& t, long long seed) {
    n.clear();
    t.clear();
    auto add = [&](const std::string& name, int64_t v) { n.push_back({name, v}); };
    add("random", RandomState());
    // The score server's seed the generator was started from, when the
    // game took one with its token.
    if (seed >= 0) add("seed", seed);
    add("mode", CurrentMode);
    for (int i = 0; i < 100; i++) add("settings." + std::to_string(i), Settings[i]);
    for (int i = 0; i < 101; i++) add("keys." + std::to_string(i), Keys[i]);
    add("autoplay", Options.autoplay ? 1 : 0);
    int tick = 0, titleFrames = 0;
    SaveAutoplayState(tick, titleFrames);
    add("autoplay.tick", tick), add("autoplay.title-frames", titleFrames);
    // How the demo player steers decides which inputs it reads each frame.
    add("autoplay.steer", Options.autoplaySteer);
    // The display the game was laid out on.
    add("screen.w", ScreenWidth), add("screen.h", ScreenHeight);
    add("view.w", ViewWidth), add("view.h", ViewHeight);
    add("margin.x", MarginX), add("row.step", RowStep);
    // The frame hub's timing, pointer and clicks, panel and messages' clock.
    add("frame.mark", FrameTimeMark), add("frame.rate", FrameRate), add("frame.average", FrameRateSmoothing());
    add("frame.show-rate", ShowFrameRate), add("frame.skip", FrameSkipPhase);
    add("mouse.x", FrameMouseX), add("mouse.y", FrameMouseY);
    add("mouse.prev-x", PrevMouseX), add("mouse.prev-y", PrevMouseY);
    add("clicks.left", FrameLeftClicks), add("clicks.right", FrameRightClicks);
    add("settings.open", SettingsOpen), add("panel.offset", PanelOffset);
    // Unplugging the pad a game was played with pauses it.
    add("steer.pad-played", PadPlayedInGame() ? 1 : 0);
    for (int i = 0; i < 20; i++) add("sprites." + std::to_string(i), SpriteBudget[i]);
    add("effect.slot", SfxSlot);
    // The drum sequencer draws random numbers during a game.
    for (int i = 0; i < 5; i++) add("track.on." + std::to_string(i), TrackOn[i]);
    for (int i = 0; i < 5; i++) add("track.step." + std::to_string(i), TrackStep[i]);
    add("sequencer.running", SequencerRunning), add("sequencer.step-frames", StepFrames);
    add("sequencer.bar", BarBeats), add("sequencer.clock", SequencerClock);
    add("sequencer.next", NextStepFrame);
    // Score pop-ups still rising from the game before.
    add("popups", (int64_t)PopupList.size());
    int k = 0;
    for (const auto& p : PopupList) {
        std::string s = "popup." + std::to_string(k++) + ".";
        add(s + "n", p->n), add(s + "x", FloatBits(p->x)), add(s + "y", FloatBits(p->y)), add(s + "t", p->t);
        add(s + "r", p->r), add(s + "g", p->g), add(s + "b", p->b);
    }
    // Joysticks as counted, with their rest positions and switches.
    add("joy.count", JoyCount);
    for (int j = 0; j < 5; j++) {
        std::string s = "joy." + std::to_string(j) + ".";
        add(s + "buttons", JoyButtons[j]), add(s + "enabled", JoyEnabled[j]), add(s + "hat", JoyHatCentred[j]);
        for (int a = 0; a < 6; a++) add(s + "rest." + std::to_string(a), FloatBits(JoyRest[a][j]));
        t.push_back({s + "name", JoyNames[j]});
    }
    // The input tables: only what is not zero.
    std::vector<int32_t> in = SaveInputTables();
    for (size_t i = 0; i < in.size(); i++)
        if (in[i]) add("input." + std::to_string(i), in[i]);
    t.push_back({"player", PlayerName});
}

// Puts a snapshot back; false with what is missing or out of range.
bool RestoreState(const std::vector<std::pair<std::string, int64_t>>& numbers,
                  const std::vector<std::pair<std::string, std::string>>& texts, std::string& error) {
    std::map<std::string, int64_t> n(numbers.begin(), numbers.end());
    std::map<std::string, std::string> t(texts.begin(), texts.end());
    bool ok = true;
    auto get = [&](const std::string& name, int64_t lo, int64_t hi) -> int64_t {
        auto it = n.find(name);
        if (it == n.end() || it->second < lo || it->second > hi) {
            if (ok) error = "the journal's starting state lacks a valid \"" + name + "\"";
            ok = false;
            return 0;
        }
        return it->second;
    };
    auto i32 = [&](const std::string& name) { return (int)get(name, INT32_MIN, INT32_MAX); };
    SeedRandom((int)get("random", 1, 2147483646));
    Options.autoplay = get("autoplay", 0, 1) == 1;
    int tick = i32("autoplay.tick");
    RestoreAutoplayState(tick, i32("autoplay.title-frames"));
    Options.autoplaySteer = (int)get("autoplay.steer", 0, 2);
    CurrentMode = (int)get("mode", 0, 2);
    // The tables come from outside: each value must be one the program itself
    // could hold, as Setup.ini's reader and the settings panel keep them.
    // The display mode's index and the audio back end's are this machine's
    // own (its mode list and drivers), set when the display and sound were
    // opened, and steer nothing in a game.
    for (int i = 0; i < 100; i++) {
        std::string name = "settings." + std::to_string(i);
        if (i == 4 || i == 14) continue;
        if (i == 1 || i == 2 || i == 7) Settings[i] = (int)get(name, 0, 1);
        else if (i == 3) Settings[i] = (int)get(name, 0, 2);
        else Settings[i] = i32(name);
    }
    for (int i = 0; i < 101; i++) Keys[i] = i32("keys." + std::to_string(i));
    MarginX = (int)get("margin.x", 0, 4096), RowStep = (int)get("row.step", 0, 4096);
    FrameTimeMark = i32("frame.mark"), FrameRate = i32("frame.rate");
    SetFrameRateSmoothing(i32("frame.average"));
    ShowFrameRate = i32("frame.show-rate"), FrameSkipPhase = (int)get("frame.skip", 0, 1);
    FrameMouseX = i32("mouse.x"), FrameMouseY = i32("mouse.y");
    PrevMouseX = i32("mouse.prev-x"), PrevMouseY = i32("mouse.prev-y");
    FrameLeftClicks = i32("clicks.left"), FrameRightClicks = i32("clicks.right");
    SettingsOpen = (int)get("settings.open", 0, 1), PanelOffset = (int)get("panel.offset", -300, 0);
    SetPadPlayedInGame(get("steer.pad-played", 0, 1) == 1);
    for (int i = 0; i < 20; i++) SpriteBudget[i] = i32("sprites." + std::to_string(i));
    SfxSlot = (int)get("effect.slot", 0, 259);
    for (int i = 0; i < 5; i++) TrackOn[i] = i32("track.on." + std::to_string(i));
    for (int i = 0; i < 5; i++) TrackStep[i] = i32("track.step." + std::to_string(i));
    SequencerRunning = i32("sequencer.running"), StepFrames = (int)get("sequencer.step-frames", 1, 1000);
    BarBeats = (int)get("sequencer.bar", 1, 64), SequencerClock = i32("sequencer.clock");
    NextStepFrame = i32("sequencer.next");
    PopupList.clear();
    int64_t popups = get("popups", 0, 1000);
    for (int64_t k = 0; k < popups && ok; k++) {
        std::string s = "popup." + std::to_string(k) + ".";
        auto p = std::make_shared<ScorePopup>();
        p->n = i32(s + "n"), p->x = BitsToFloat(get(s + "x", INT32_MIN, INT32_MAX));
        p->y = BitsToFloat(get(s + "y", INT32_MIN, INT32_MAX)), p->t = (int)get(s + "t", 0, PopupLife);
        p->r = i32(s + "r"), p->g = i32(s + "g"), p->b = i32(s + "b");
        PopupList.push_back(p);
    }
    JoyCount = (int)get("joy.count", 0, 4);
    for (int j = 0; j < 5; j++) {
        std::string s = "joy." + std::to_string(j) + ".";
        JoyButtons[j] = i32(s + "buttons"), JoyEnabled[j] = i32(s + "enabled"), JoyHatCentred[j] = i32(s + "hat");
        for (int a = 0; a < 6; a++) JoyRest[a][j] = BitsToFloat(get(s + "rest." + std::to_string(a), INT32_MIN, INT32_MAX));
        JoyNames[j] = t.count(s + "name") ? t[s + "name"] : "";
    }
    std::vector<int32_t> in(InputTablesSize, 0);
    for (const auto& [name, v] : n) {
        if (name.rfind("input.", 0) != 0) continue;
        long long i = TextToLong(name.substr(6));
        if (i < 0 || (size_t)i >= in.size() || v < INT32_MIN || v > INT32_MAX) {
            if (ok) error = "the journal's starting state has a bad \"" + name + "\"";
            ok = false;
            continue;
        }
        in[(size_t)i] = (int32_t)v;
    }
    RestoreInputTables(in);
    if (t.count("player")) PlayerName = t["player"];
    return ok;
}

std::string Hex16(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

// 64-bit FNV-1a: a fingerprint to tell asset sets apart, not a defence (a
// submitted game is trusted only because it replays).
struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void Add(const void* data, size_t n) {
        const unsigned char* p = (const unsigned char*)data;
        for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
    }
    void Add(const std::string& s) { Add(s.data(), s.size() + 1); }
};

std::string ReadFileBytes(const std::string& path, size_t limit, bool& ok) {
    std::ifstream f(path, std::ios::binary);
    std::string bytes;
    ok = false;
    if (!f) return bytes;
    f.seekg(0, std::ios::end);
    std::streamoff size = f.tellg();
    if (size < 0 || (uint64_t)size > limit) return bytes;
    f.seekg(0);
    bytes.resize((size_t)size);
    f.read(bytes.data(), size);
    ok = (bool)f || f.gcount() == size;
    return bytes;
}

// The games folder's journals with what pruning needs from their headers.
struct KeptGame {
    std::string file;
    int mode = 1;
    long long score = 0;
};

std::string TimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
}

// A file name no other journal in the folder has: the time, the mode and
// the score, and a count when the same second saw more than one game.
std::string NewJournalName(const GameJournalHeader& h) {
    std::string stem = std::string(GamesFolder) + "/" + TimeStamp() + "-" + ModeWord(h.mode) + "-" +
                       std::to_string(h.score);
    std::string name = stem + ".w2g";
    for (int k = 2; FileType(name) != 0 && k < 1000; k++) name = stem + "-" + std::to_string(k) + ".w2g";
    return name;
}

[[noreturn]] void EndReplay(int status, const std::string& line, bool toStdout) {
    LogLine("");
    LogLine(status == 0 ? "Game journal verified" : "Game journal refused: " + line);
    if (toStdout) std::cout << line << std::endl;
    else std::cerr << "wormlob2: " << line << std::endl;
    CloseDisplay();
    CloseLog();
    ShutdownAudio();
    EndProcess(status);
}

[[noreturn]] void StopGameReplay(const std::string& why) { EndReplay(3, "replay stopped: " + why, false); }
}  // namespace

long long JournalSeed(const std::vector<std::pair<std::string, int64_t>>& numbers) {
    int64_t seed = -1, random = -1;
    int seeds = 0, randoms = 0;
    for (const auto& [name, v] : numbers) {
        if (name == "seed") seed = v, seeds++;
        if (name == "random") random = v, randoms++;
    }
    if (seeds != 1 || randoms != 1 || seed < 0 || seed > 2147483647) return -1;
    // The generator's state as SeedRandom(seed) leaves it; the generator
    // itself is put back as it was.
    int64_t was = RandomState();
    SeedRandom((int)seed);
    int64_t seeded = RandomState();
    SeedRandom((int)was);
    return seeded == random ? seed : -1;
}

std::string GameFingerprint(int mode, long long frames, uint64_t checksum) {
    char text[80];
    std::snprintf(text, sizeof text, "%s %lld %016" PRIx64, ModeWord(mode), frames, checksum);
#ifndef __EMSCRIPTEN__
    unsigned char sum[SHA256_DIGEST_LENGTH];
    SHA256((const unsigned char*)text, std::strlen(text), sum);
    std::string hex;
    for (int i = 0; i < 8; i++) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", sum[i]);
        hex += two;
    }
    return hex;
#else
    // The page has no SHA-256 of its own; only a server's replay (the
    // desktop program) needs the fingerprint.
    return "-";
#endif
}

std::string RulesFingerprint() { return WORMLOB_RULES_FINGERPRINT; }

std::string AssetsFingerprint() {
    // The images decide what touches what (the pixel collisions) and how the
    // field is laid out; sounds and fonts do not steer a game.
    static std::string cached;
    if (!cached.empty()) return cached;
    Fnv fnv;
    for (const char* folder : {"../Common", "."}) {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            bool ok = false;
            std::string bytes = ReadFileBytes(std::string(folder) + "/" + name, 64u << 20, ok);
            fnv.Add(name);
            fnv.Add(ok ? bytes : std::string("unreadable"));
        }
    }
    cached = Hex16(fnv.h);
    return cached;
}

void BeginGameJournal() {
    PracticeKeysUsed = false;
    long long seed = -1;
    if (!g_replaying) {
        // The game starts from the seed its token came with (a daily
        // challenge also in its mode), before the journal notes the
        // generator; without one it goes on from the generator as it is.
        OnlineTicket ticket = OnlineGameStarted();
        if (!ticket.daily.empty() && ticket.mode >= 0 && ticket.mode <= 2) CurrentMode = ticket.mode;
        if (ticket.seed >= 0 && ticket.seed <= 2147483647) {
            seed = ticket.seed;
            SeedRandom((int)seed);
        }
    }
    g_autoplayGame = Options.autoplay;
    g_frameCount = g_playFrames = 0;
    g_firstFrameMs = g_lastFrameMs = 0;
    g_playChecksum = 0;
    SnapshotState(g_numbers, g_texts, seed);
    StartGameCapture((uint32_t)PeekMillisecs());
}

void GameJournalFrame(uint64_t gameChecksum) {
    if (!GameCapturing()) return;
    g_frameCount++;
    // The clock reading that ended the frame (the frame hub's own).
    g_lastFrameMs = GameCaptureLastMs();
    if (g_frameCount == 1) g_firstFrameMs = g_lastFrameMs;
    if (PlayState != 0) g_playFrames = g_frameCount, g_playChecksum = gameChecksum;
}

void EndGameJournal(const std::shared_ptr<Scores>& filed) {
    if (!GameCapturing()) return;
    GameJournal j;
    j.streams = TakeGameCapture();
    j.numbers = std::move(g_numbers);
    j.texts = std::move(g_texts);
    GameJournalHeader& h = j.header;
    h.rules = RulesFingerprint();
    h.assets = AssetsFingerprint();
    h.mode = filed ? filed->GameMode : CurrentMode;
    h.name = filed ? filed->Name : PlayerName;
    h.score = filed ? filed->Score : Game.GameScore;
    h.wave = std::max(1, Game.WaveNumber);
    h.frames = j.streams.endFrames;
    h.ms = g_frameCount ? (uint32_t)(g_lastFrameMs - g_firstFrameMs) : 0;
    h.practice = PracticeKeysUsed;
    h.autoplay = g_autoplayGame;
    if (!g_replaying) h.token = OnlineGameToken();

    if (g_replaying) {
        // The replay ends here: it proves the journal's claims or refuses it.
        const GameJournalHeader& claim = g_replay.header;
        std::string differs;
        if (h.score != claim.score) differs = "score " + std::to_string(h.score) + ", not " + std::to_string(claim.score);
        else if (h.mode != claim.mode) differs = std::string("mode ") + ModeWord(h.mode);
        else if (h.name != claim.name) differs = "another name";
        else if (h.wave != claim.wave) differs = "wave " + std::to_string(h.wave) + ", not " + std::to_string(claim.wave);
        else if (h.frames != claim.frames) differs = std::to_string(h.frames) + " frames";
        else if (h.ms != claim.ms) differs = "a game of " + std::to_string(h.ms) + " ms";
        else if (h.practice != claim.practice) differs = "practice keys used";
        if (!differs.empty()) StopGameReplay("the game filed another record than the journal claims (" + differs + ")");
        std::string trouble = FinishJournal(JournalFramesSoFar());
        if (!trouble.empty()) StopGameReplay(trouble);
        bool autoplay = false;
        for (const auto& [name, v] : g_replay.numbers)
            if (name == "autoplay") autoplay = v != 0;
        long long seed = JournalSeed(g_replay.numbers);
        EndReplay(0,
                  std::string("verified mode=") + ModeWord(h.mode) + " score=" + std::to_string(h.score) +
                      " wave=" + std::to_string(h.wave) + " frames=" + std::to_string(h.frames) +
                      " ms=" + std::to_string(h.ms) + " practice=" + (h.practice ? "1" : "0") +
                      " autoplay=" + (autoplay ? "1" : "0") + " name=" + NameHex(h.name) +
                      " seed=" + (seed >= 0 ? std::to_string(seed) : std::string("-")) +
                      " fingerprint=" + GameFingerprint(h.mode, g_playFrames, g_playChecksum),
                  true);
    }

    std::string bytes = EncodeGameJournal(j);
    std::error_code ec;
    fs::create_directories(GamesFolder, ec);
    std::string path = NewJournalName(h);
    if (bytes.empty() || !WriteBytesAtomically(path, bytes)) {
        LogLine("\tThe game's journal could not be written to " + path);
        return;
    }
    PruneGameJournals(GamesFolder);
    // A practice or demo game, or one from --seed's seed, is kept to be
    // watched but never sent.
    OnlineGameFiled(path, !h.practice && !h.autoplay && Options.seed < 0);
}

int PruneGameJournals(const std::string& folder) {
    std::vector<KeptGame> games;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".w2g") != 0) continue;
        KeptGame g;
        g.file = it->path().string();
        // Only the header is needed; a file whose header cannot be read is
        // kept by its age alone (as the lowest score).
        std::ifstream f(g.file, std::ios::binary);
        std::string head(GameJournalMaxHeader + 2, '\0');
        f.read(head.data(), (std::streamsize)head.size());
        head.resize((size_t)f.gcount());
        GameJournalHeader h;
        size_t body = 0;
        std::string error;
        if (DecodeGameJournalHeader(head, h, body, error)) g.mode = h.mode, g.score = h.score;
        else g.mode = -1, g.score = -1;
        games.push_back(g);
    }
    // Names begin with the time they were filed, so the name orders by age.
    std::sort(games.begin(), games.end(), [](const KeptGame& a, const KeptGame& b) { return a.file > b.file; });
    std::vector<bool> keep(games.size(), false);
    for (size_t i = 0; i < games.size() && i < (size_t)KeepNewestGames; i++) keep[i] = true;
    for (int mode = 0; mode < 3; mode++) {
        std::vector<size_t> order;
        for (size_t i = 0; i < games.size(); i++)
            if (games[i].mode == mode) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return games[a].score > games[b].score; });
        for (size_t k = 0; k < order.size() && k < (size_t)KeepBestGamesPerMode; k++) keep[order[k]] = true;
    }
    int removed = 0;
    for (size_t i = 0; i < games.size(); i++) {
        if (keep[i]) continue;
        if (fs::remove(games[i].file, ec)) {
            removed++;
            // The page keeps its files in the browser's storage: forget it there too.
            std::string stored = PlatformFilePath(games[i].file);
            if (!stored.empty()) PlatformFileWritten(stored);
        }
    }
    return removed;
}

bool LoadGameJournalReplay(const std::string& bytes, std::string& error) {
    if (!DecodeGameJournal(bytes, g_replay, error)) return false;
    if (g_replay.header.rules != RulesFingerprint()) {
        error = "the journal was made by another version of the game (its rules differ)";
        return false;
    }
    int64_t w = 0, h = 0;
    bool autoplay = false;
    for (const auto& [name, v] : g_replay.numbers) {
        if (name == "screen.w") w = v;
        if (name == "screen.h") h = v;
        if (name == "autoplay") autoplay = v != 0;
    }
    (void)autoplay;
    if (w < 320 || h < 200 || w > 16384 || h > 16384) {
        error = "the journal's starting state lacks a valid display size";
        return false;
    }
    // Start-up runs on a virtual clock (its length does not matter); the
    // game's own clock comes from the journal. A headless replay lays the
    // game out on the display it was played on.
    Options.virtualClock = true;
    if (Options.headless) Options.headlessWidth = (int)w, Options.headlessHeight = (int)h;
    g_replaying = true;
    return true;
}

bool ReplayingGameJournal() { return g_replaying; }

void GameJournalSetup() {
    if (!g_replaying) return;
    // Only the tables that decide the display now; the whole state is put
    // back when the game starts.
    std::string error;
    for (const auto& [name, v] : g_replay.numbers) {
        if (name.rfind("settings.", 0) == 0) {
            long long i = TextToLong(name.substr(9));
            // As RestoreState keeps them: this machine's mode and driver
            // indexes, the switches within their ranges.
            if (i < 0 || i >= 100 || i == 4 || i == 14 || v < INT32_MIN || v > INT32_MAX) continue;
            if ((i == 1 || i == 2 || i == 7) && (v < 0 || v > 1)) continue;
            if (i == 3 && (v < 0 || v > 2)) continue;
            Settings[i] = (int)v;
        }
    }
}

void GameJournalPlayerName() {}

void RunGameJournalReplay() {
    if (g_replay.header.assets != AssetsFingerprint())
        EndReplay(2, "the journal was made with other game assets than this program's", false);
    std::string error;
    if (!RestoreState(g_replay.numbers, g_replay.texts, error)) EndReplay(2, error, false);
    int64_t sw = 0, sh = 0, vw = 0, vh = 0;
    for (const auto& [name, v] : g_replay.numbers) {
        if (name == "screen.w") sw = v;
        if (name == "screen.h") sh = v;
        if (name == "view.w") vw = v;
        if (name == "view.h") vh = v;
    }
    if (sw != ScreenWidth || sh != ScreenHeight || vw != ViewWidth || vh != ViewHeight)
        EndReplay(2,
                  "the game was played on a " + std::to_string(sw) + "x" + std::to_string(sh) +
                      " display, which could not be set up here",
                  false);
    LogLine("");
    LogLine("Replaying a game journal");
    SetJournalStopHandler(StopGameReplay);
    // Watched on a display it runs at the recorded speed; headless (a
    // server verifying it) as fast as it can.
    SetReplayPacing(!Options.headless);
    StartReplay(g_replay.streams);
    StartGameFromTitle();
    // EndGameJournal ends the process once the record is filed; a game that
    // returns without filing one did not end as recorded.
    StopGameReplay("the game ended without filing its record");
}


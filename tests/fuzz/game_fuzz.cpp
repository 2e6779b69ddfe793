// Plays the whole program with arbitrary input: the bytes choose the mode
// and the seed, then give each frame's input events (pointer moves anywhere,
// far outside the window too, the three buttons, every key the program
// reacts to, typed characters, focus changes, and a joystick's axes, hat and
// buttons), posted through PostInputEvent once a frame (see Post) into the
// real title loop on the null display and the virtual clock: title,
// games, pause, settings panel (resolution and "Apply"), name entry and the
// score table. A run ends when the input is used up, after MaxFrames
// frames, or when Escape leaves the title.
//
// Each input is played twice, with the grid broad phase and with the plain
// loops; the state checksum must agree after every frame. After every frame
// the state must hold (a breach aborts, naming it):
// - no NaN or infinity in any Pod, Particle or game float;
// - every list within its bound (see CheckLists);
// - the score never falls in a game, and each frame's rise is the points of
//   its new pop-ups (5 x a pod's health x head: 0..25) plus the bonuses the
//   frame paid: 100 when the tally counted a mushroom, 1000 when it paid a
//   ball, and on the frame the row of three caught pods is evaluated 100
//   for "Bonus Points" or 2500 for "Super Bonus";
// - reserve balls, timers, the net, the bat's width and lift in range, the
//   bat inside the drawing area, mushrooms sorted by height;
// - after a game is filed, scores.dat reads back as the score list, the new
//   game included.
//
// The program starts once (its data folder a copy of Files/ in memory);
// every run begins from the state start-up left: settings, keys, display,
// sprite budgets, clock, input, joystick, channels, score list and file,
// title, panel, pop-ups, messages and the game tables.
//
// The environment variable WORMLOB_FUZZ_FRAMES_FILE names a file the target
// rewrites every few seconds (and at exit) with the number of runs and game
// frames played so far, so a long campaign can stop at a frame count.
#include <SDL.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "game/assets.h"
#include "game/broadphase.h"
#include "game/game.h"
#include "media/graphics.h"
#include "media/system.h"
#include "screens/enginetest.h"
#include "screens/helpers.h"
#include "services/nameentry.h"
#include "services/popups.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "shell/text.h"
#include "shell/title.h"
#include "tests/fuzz/game_fuzz_input.h"

namespace fs = std::filesystem;

namespace {
// Frames of one run (every FinishFrame counts: title, game, pause, name
// entry, the performance test after "Apply").
constexpr int MaxFrames = 3000;
// F11 writes a PNG and "Apply" re-runs the performance test: both are
// slow, so a run gets a few of each (later F11 presses are dropped; a run
// ends after its MaxDisplayChanges-th display change).
constexpr int MaxScreenshots = 3;
constexpr int MaxDisplayChanges = 3;
// Frames a game or name prompt runs on once the input is used up.
constexpr int EndGrace = 600;
// Every F3 press adds a ball, and the plain loops test every ball against
// every Pod: past 400 presses a run would take minutes, so later ones are
// dropped.
constexpr int MaxBallPresses = 400;
// A wait that draws nothing (the name prompt waiting for Escape to be let
// go, the pause screen waiting likewise) gets every held key and button
// released after this long, as a player would let go.
constexpr int ReleaseAfterMs = 2000;
// No frame for this long is a hang.
constexpr int StuckAfterMs = 120000;

std::string g_dataDir, g_gameDir;

void Breach(const char* what, long long a = 0, long long b = 0) {
    std::fprintf(stderr, "game_fuzz: breach: %s (%lld, %lld)\n", what, a, b);
    std::fflush(stderr);
    // abort skips the exit handler that removes the data folder.
    std::error_code ec;
    fs::remove_all(g_dataDir, ec);
    std::abort();
}

struct RunEnd {};

struct Reader {
    const uint8_t* p = nullptr;
    size_t n = 0, at = 0;
    bool Done() const { return at >= n; }
    int U8() { return at < n ? p[at++] : 0; }
    int S16() {
        int lo = U8(), hi = U8();
        return (int16_t)(uint16_t)(lo | hi << 8);
    }
};

// ------------------------------------------------------------ start-up ---

SDL_Joystick* g_joy = nullptr;
long long g_totalFrames = 0, g_totalRuns = 0;
std::string g_countFile;
std::time_t g_lastCountWrite = 0;

// What start-up left, restored before every run.
struct Snapshot {
    int settings[100];
    int keys[101];
    int joyEnabled[5];
    int spriteBudget[20];
    int targetRate;
    int screenW, screenH, viewW, viewH;
    int clock;
} g_start;

void WriteCount() {
    if (g_countFile.empty()) return;
    std::string tmp = g_countFile + ".tmp";
    if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
        std::fprintf(f, "runs %lld frames %lld\n", g_totalRuns, g_totalFrames);
        std::fclose(f);
        std::rename(tmp.c_str(), g_countFile.c_str());
    }
}

void AtExit() {
    WriteCount();
    std::fprintf(stderr, "game_fuzz: %lld runs, %lld frames\n", g_totalRuns, g_totalFrames);
    std::error_code ec;
    fs::remove_all(g_dataDir, ec);
}

// The display modes the settings panel can step through: 4:3 and 16:9
// (the program offers no others), and one it must leave out.
const int ModeList[][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}, {1280, 720}, {1600, 900}, {1280, 800}};
int ModeListCount() { return 7; }
void ModeListGet(int i, int& w, int& h, int& d, int& hz) {
    w = ModeList[i][0];
    h = ModeList[i][1];
    d = 32;
    hz = 60;
}
bool ModeListExists(int w, int h, int d, int) {
    if (d != 32) return false;
    for (auto& m : ModeList)
        if (m[0] == w && m[1] == h) return true;
    return false;
}

// The performance test would climb to 20,000 sprites on the virtual clock
// (it measures 66 frames a second whatever is drawn): a machine that keeps
// 60 up to 3,000 sprites and then drops gives the usual budgets in 56
// frames instead of 320.
int g_testFrames = 0;
int TestFrameRate() {
    if (ShowFrameRate != 0) {
        g_testFrames = 0;
        return 60;
    }
    return ++g_testFrames <= 6 * 8 ? 60 : 30;
}

bool StartOnce() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("ALSOFT_DRIVERS", "null", 1);
    if (const char* f = std::getenv("WORMLOB_FUZZ_FRAMES_FILE")) g_countFile = f;
    // A copy of Files/ in memory (tmpfs) when there is one: scores.dat and
    // Setup.ini are written through synced temporary files.
    char shm[] = "/dev/shm/wl2_game_fuzz_XXXXXX";
    char tmp[] = "/tmp/wl2_game_fuzz_XXXXXX";
    const char* dir = mkdtemp(shm);
    if (!dir) dir = mkdtemp(tmp);
    if (!dir) return false;
    g_dataDir = dir;
    std::atexit(AtExit);
    std::error_code ec;
    fs::copy(std::string(WORMLOB_SOURCE_DIR) + "/Files", g_dataDir, fs::copy_options::recursive, ec);
    if (ec) return false;
    g_gameDir = g_dataDir + "/418";
    {
        std::ofstream setup(g_dataDir + "/Setup.ini", std::ios::binary);
        setup << "[Audio]\r\nAudioDriver = Null\r\n";
        if (!setup.flush()) {
            std::fprintf(stderr, "game_fuzz: cannot write %s/Setup.ini\n", g_dataDir.c_str());
            return false;
        }
    }

    // One joystick with six axes, twelve buttons and a hat, present before
    // start-up counts the devices.
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0) {
        int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 12, 1);
        if (index >= 0) g_joy = SDL_JoystickOpen(index);
    }
    // Without it every joystick event of every input would be dropped and
    // the pad's whole road through the game left unfuzzed.
    if (!g_joy) {
        std::fprintf(stderr, "game_fuzz: no virtual joystick: %s\n", SDL_GetError());
        return false;
    }

    ForceNullGraphics(true);
    SetNullDisplayMode(1280, 960);
    SetDisplayModeSource({ModeListCount, ModeListGet, ModeListExists});
    FrameRateOverride = TestFrameRate;
    char a0[] = "game_fuzz", a1[] = "--virtual-clock", a2[] = "--files";
    std::string filesDir = g_dataDir;
    char* argv[] = {a0, a1, a2, filesDir.data(), nullptr};
    if (StartProgram(4, argv) != -1) return false;

    // Player 2's pause-menu controls on the joystick: axis Y, the hat and
    // two buttons, so the joystick reaches the game too.
    Keys[20] = 300;  // up: Y-
    Keys[28] = 301;  // down: Y+
    Keys[30] = 330;  // confirm: button 0
    Keys[31] = 320;  // confirm: hat up

    std::memcpy(g_start.settings, Settings, sizeof Settings);
    std::memcpy(g_start.keys, Keys, sizeof Keys);
    std::memcpy(g_start.joyEnabled, JoyEnabled, sizeof JoyEnabled);
    std::memcpy(g_start.spriteBudget, SpriteBudget, sizeof SpriteBudget);
    g_start.targetRate = TargetRate;
    g_start.screenW = ScreenWidth;
    g_start.screenH = ScreenHeight;
    g_start.viewW = ViewWidth;
    g_start.viewH = ViewHeight;
    g_start.clock = Millisecs();
    return true;
}

// ------------------------------------------------------------- one run ---

struct Run {
    Reader in;
    int idle = 0;  // frames left before the next frame record is read
    int frames = 0;
    bool broad = true;
    std::vector<uint64_t>* sums = nullptr;  // recorded (broad) or compared
    size_t sumAt = 0;
    int screenshots = 0, displayChanges = 0;
    int grace = 0;
    int gameFrames = 0, pausedFrames = 0, namingFrames = 0, panelFrames = 0;  // for WORMLOB_FUZZ_VERBOSE
    bool wasTesting = false;
    bool held[256] = {}, heldButton[4] = {};
    bool padHeld[MaxPads][PAD_BUTTONS] = {}, padPushed[MaxPads][PAD_AXES] = {};
    int f3Presses = 0;
    std::vector<InputEvent> pending;  // posted at the next frame's first poll
    int lastFrameAt = 0;
    bool released = false;

    // The game being watched.
    int prevPlayState = 0;
    int score = 0;
    int reserve = 0;
    int wave = 0, toSpawn = 0;
    long long spawned = 0;
    long long sparkCap = 0, pointCap = 0;
    std::shared_ptr<ScorePopup> newestPopup;
    // What a pop-up needs a cause among, as the previous frame left it:
    // loose pods by health (a bat bounce pays 5 x the health before it),
    // balls (a ball's strike pays 0; one resting may be launched and strike
    // in the same frame; what it strikes may have entered in that frame).
    long long looseAtHealth[7] = {}, balls = 0, standing = 0;  // standing: for the report
    // What the bonuses hang on, as the previous frame left it.
    int mushroomBonuses = 0, ballBonusLeft = 0, caughtAge = 0;
    std::vector<ScoreRef> seenScores;
    int filed = 0;
} *g_run = nullptr;

// Pointer moves reach the tables at once, before the frame hub samples the
// pointer for the next frame (where the demo player moves it too). Buttons,
// keys, characters and focus changes arrive as the next frame begins, with
// its first input poll after the pacing wait: the settings panel reads the
// clicks made since the hub last sampled them, so a click posted before
// that sampling would never reach it.
void Post(const InputEvent& e) {
    if (e.type == INPUT_MOUSE_MOVE) PostInputEvent(e);
    else g_run->pending.push_back(e);
}

// A pad event whose slot or code lies past the input tables.
bool PastTheTables(const InputEvent& e) {
    bool pad = e.type == INPUT_PAD_DOWN || e.type == INPUT_PAD_UP || e.type == INPUT_PAD_AXIS || e.type == INPUT_PAD_GONE;
    if (!pad) return false;
    if (e.y < 0 || e.y >= MaxPads) return true;
    if (e.type == INPUT_PAD_AXIS) return e.code < 0 || e.code >= PAD_AXES;
    if (e.type == INPUT_PAD_GONE) return false;
    return e.code < 0 || e.code >= PAD_BUTTONS;
}

void PostPending() {
    std::vector<InputEvent> events;
    events.swap(g_run->pending);
    for (const InputEvent& e : events) {
        if (!PastTheTables(e)) {
            PostInputEvent(e);
            continue;
        }
        std::vector<int32_t> before = SaveInputTables();
        PostInputEvent(e);
        if (SaveInputTables() != before) Breach("a pad event past the tables changed them", e.y, e.code);
    }
}

void KeyEvent(int code, bool down) {
    Run& r = *g_run;
    if (code == 122 && down) {
        if (r.screenshots >= MaxScreenshots) return;
        r.screenshots++;
    }
    if (code == 114 && down && !r.held[code]) {
        if (r.f3Presses >= MaxBallPresses) return;
        r.f3Presses++;
    }
    r.held[code] = down;
    InputEvent e{down ? INPUT_KEY_DOWN : INPUT_KEY_UP};
    e.code = code;
    Post(e);
}

void ButtonEvent(int b, bool down) {
    g_run->heldButton[b] = down;
    InputEvent e{down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP};
    e.code = b;
    Post(e);
}

// A pad's event as the platform posts it; slots and codes past the tables
// are posted too, and must change nothing.
void PadEvent(InputEventType type, int pad, int code, int value) {
    Run& r = *g_run;
    bool inPad = pad >= 0 && pad < MaxPads;
    if (inPad && code >= 0 && code < PAD_BUTTONS && (type == INPUT_PAD_DOWN || type == INPUT_PAD_UP))
        r.padHeld[pad][code] = type == INPUT_PAD_DOWN;
    if (inPad && code >= 0 && code < PAD_AXES && type == INPUT_PAD_AXIS) r.padPushed[pad][code] = value != 0;
    if (inPad && type == INPUT_PAD_GONE) {
        std::memset(r.padHeld[pad], 0, sizeof r.padHeld[pad]);
        std::memset(r.padPushed[pad], 0, sizeof r.padPushed[pad]);
    }
    InputEvent e{type};
    e.y = pad, e.code = code, e.x = value;
    Post(e);
}

void ReleaseAll() {
    Run& r = *g_run;
    for (int k = 0; k < 256; k++)
        if (r.held[k]) KeyEvent(k, false);
    for (int b = 1; b <= 3; b++)
        if (r.heldButton[b]) ButtonEvent(b, false);
    // Pads let go and come to rest as well (a held pad button holds the
    // pointer's button, which a name prompt waits on).
    for (int p = 0; p < MaxPads; p++) {
        for (int b = 0; b < PAD_BUTTONS; b++)
            if (r.padHeld[p][b]) PadEvent(INPUT_PAD_UP, p, b, 0);
        for (int a = 0; a < PAD_AXES; a++)
            if (r.padPushed[p][a]) PadEvent(INPUT_PAD_AXIS, p, a, 0);
    }
}

// Hat positions as SDL gives them: centred, then clockwise from up.
const Uint8 HatPositions[9] = {SDL_HAT_CENTERED, SDL_HAT_UP,   SDL_HAT_RIGHTUP,  SDL_HAT_RIGHT, SDL_HAT_RIGHTDOWN,
                               SDL_HAT_DOWN,     SDL_HAT_LEFTDOWN, SDL_HAT_LEFT, SDL_HAT_LEFTUP};

void OneEvent(Reader& in) {
    int kind = in.U8() % K_COUNT;
    switch (kind) {
    case K_MOVE: {
        InputEvent e{INPUT_MOUSE_MOVE};
        e.x = in.S16();
        e.y = in.S16();
        Post(e);
        break;
    }
    case K_MOVE_FAR: {
        // 0..7 a far place, 8..15 near the window: just outside each edge,
        // on each edge, the centre, twice the size.
        int b = in.U8();
        auto place = [](int n, int size) {
            const int near[8] = {-1, 0, size - 1, size, size / 2, 2 * size, -size, size + 1};
            return n < 8 ? GameFuzzFarPlaces[n] : near[n - 8];
        };
        InputEvent e{INPUT_MOUSE_MOVE};
        e.x = place(b & 15, WindowWidth());
        e.y = place(b >> 4, WindowHeight());
        Post(e);
        break;
    }
    case K_BUTTON_DOWN:
    case K_BUTTON_UP: ButtonEvent(1 + in.U8() % 3, kind == K_BUTTON_DOWN); break;
    case K_KEY_DOWN:
    case K_KEY_UP: KeyEvent(GameFuzzKeys[in.U8() % GameFuzzKeyCount], kind == K_KEY_DOWN); break;
    case K_KEY_TAP: {
        int code = GameFuzzKeys[in.U8() % GameFuzzKeyCount];
        KeyEvent(code, true);
        KeyEvent(code, false);
        break;
    }
    case K_CHAR: {
        int lo = in.U8(), hi = in.U8();
        InputEvent e{INPUT_CHAR};
        e.code = lo | hi << 8;
        Post(e);
        break;
    }
    case K_JOY_AXIS: {
        int axis = in.U8() % 6;
        int v = in.S16();
        if (g_joy) SDL_JoystickSetVirtualAxis(g_joy, axis, (Sint16)v);
        break;
    }
    case K_JOY_HAT: {
        int h = in.U8() % 9;
        if (g_joy) SDL_JoystickSetVirtualHat(g_joy, 0, HatPositions[h]);
        break;
    }
    case K_JOY_BUTTON: {
        int b = in.U8();
        if (g_joy) SDL_JoystickSetVirtualButton(g_joy, (b & 127) % 12, (b & 128) ? SDL_PRESSED : SDL_RELEASED);
        break;
    }
    case K_WHEEL: {
        InputEvent e{INPUT_WHEEL};
        e.code = (int8_t)in.U8();
        Post(e);
        break;
    }
    case K_PAD: {
        static const InputEventType kinds[4] = {INPUT_PAD_DOWN, INPUT_PAD_UP, INPUT_PAD_AXIS, INPUT_PAD_GONE};
        int op = in.U8(), code = in.U8() % 24, v = in.S16();
        PadEvent(kinds[op & 3], (op >> 2) % 6, code, v);
        break;
    }
    case K_FOCUS: {
        InputEvent e{in.U8() % 2 == 0 ? INPUT_SUSPEND : INPUT_RESUME};
        Post(e);
        // Focus changes clear the tables: nothing is held any more.
        std::memset(g_run->held, 0, sizeof g_run->held);
        std::memset(g_run->heldButton, 0, sizeof g_run->heldButton);
        break;
    }
    }
}

// The platform's pump: a frame's buttons and keys arrive with the first poll
// after the frame hub's pacing wait (see Post); nothing else arrives between
// frames, except that a wait that draws nothing (frames come every 15 ms of
// the program's clock) sees every key and button let go after a while.
void Pump() {
    if (!g_run) return;
    Run& r = *g_run;
    int waited = MsDiff(PeekMillisecs(), r.lastFrameAt);
    if (waited != 0 && !r.pending.empty()) PostPending();
    if (waited > ReleaseAfterMs && !r.released) {
        r.released = true;
        ReleaseAll();
        PostPending();
    }
    if (waited > StuckAfterMs) Breach("no frame for two minutes of the program's clock", waited);
}

void InstallPump() {
    PlatformHooks h;
    h.pump = Pump;
    InstallPlatformHooks(h);
}

// ----------------------------------------------------------- the checks ---

bool Finite(float v) { return std::isfinite(v); }

void CheckPod(const Pod& p) {
    const float f[] = {p.x, p.y, p.spd, p.d, p.y2, p.RSpd, p.wx1, p.wy1, p.wx2, p.wy2, p.wx3, p.wy3, p.rot, p.grot, p.gx, p.gy};
    for (float v : f)
        if (!Finite(v)) Breach("a Pod holds NaN or infinity");
    if (p.health < 0 || p.health > 6) Breach("a Pod's health out of 0..6", p.health);
}

// The points a full row of caught pods pays, from its three colour classes
// alone (not from the message the game chose, which the code under test
// sets in the same call that pays): two yellow (a pair of class 3) pay 2500;
// a row that makes no power-up pays 100; every other row pays nothing.
long long RowBonus(int c1, int c2, int c3) {
    int pair = 0;
    if (c1 == c2) pair = c1;
    if (c2 == c3) pair = c2;
    if (c1 == c3) pair = c1;
    int odd = 0;
    if (c1 != pair) odd = c1;
    if (c2 != pair) odd = c2;
    if (c3 != pair) odd = c3;
    bool special = false;
    auto has = [&](int c) { return c1 == c || c2 == c || c3 == c; };
    if (has(1) && has(2) && has(3)) special = true, pair = 0;  // Flaming Balls
    if (pair == 5 && odd == 6) special = true, pair = 0;       // Slippery!
    if (pair == 3) return 2500;                                // Super Bonus
    if (pair >= 1 && pair <= 7) special = true;                // the pair's own power-up
    return special ? 0 : 100;
}

int StartReserve() { return CurrentMode == 0 ? 5 : CurrentMode == 1 ? 3 : 0; }

// The state of the game after one of its frames.
void CheckGame(Run& r) {
    const GameState& s = Game;
    long long pods = 0, balls = 0;
    for (const Pod& p : s.PodList) {
        CheckPod(p);
        if (p.ball == 1) balls++;
        else pods++;
    }
    for (const Particle& p : s.ParticleList) {
        if (!Finite(p.x) || !Finite(p.y) || !Finite(p.gx) || !Finite(p.gy) || !Finite(p.alp))
            Breach("a Particle holds NaN or infinity");
        // Sparks start at alpha 1, lose 0.025 a frame and go below 0.05.
        if (p.alp > 1.0f || p.alp < 0.04f) Breach("a Particle's alpha out of 0.05..1");
    }
    const Mushroom* prev = nullptr;
    long long mushrooms = 0;
    for (const Mushroom& m : s.MushroomList) {
        if (m.h < 1 || m.h > 5) Breach("a Mushroom's height out of 1..5", m.h);
        if (prev && prev->y > m.y) Breach("MushroomList out of order", prev->y, m.y);
        prev = &m;
        mushrooms++;
    }
    const float gf[] = {s.SlipDrift, s.PlantPitch, s.NetScale, s.BackR, s.BackG, s.BackB, s.BackDirR,
                        s.BackDirG, s.BackDirB, s.BackAlpha, s.BatWidth};
    for (float v : gf)
        if (!Finite(v)) Breach("a game float holds NaN or infinity");

    // Centipedes entered so far: CentipedesToSpawn counts down within a wave.
    if (s.WaveNumber == r.wave && s.CentipedesToSpawn < r.toSpawn) r.spawned += r.toSpawn - s.CentipedesToSpawn;
    if (s.WaveNumber < r.wave) Breach("WaveNumber fell", r.wave, s.WaveNumber);
    r.wave = s.WaveNumber;
    r.toSpawn = s.CentipedesToSpawn;

    // Lists. Segments and loose pods come only from centipedes of at most
    // 20 segments. Balls: the first, the reserve, one per F3 press, one per
    // tally, and "Extra Ball" results, at most one per 60 frames (the row
    // of caught pods takes that long to clear). Mushrooms: at most 17
    // planted per wave, and at most one per strike on an attached Pod
    // (a segment is struck once, a resting ball once per wave). Sparks live
    // at most 39 frames and pop-ups 120; a frame throws at most 20 sparks
    // for the lost bat plus, per Pod, 18 for a bat bounce, 7 per mushroom
    // and 6 per attached Pod struck, and scores at most once per bounce,
    // mushroom and struck Pod.
    long long ballCap = 1 + 5 + r.f3Presses + s.WaveNumber + s.FrameNo / 60 + 1;
    if (pods > 20 * r.spawned) Breach("more segments and loose pods than centipedes brought", pods, r.spawned);
    if (balls > ballCap) Breach("more balls than were given", balls, ballCap);
    if (mushrooms > 17LL * s.WaveNumber + 20 * r.spawned + ballCap * s.WaveNumber)
        Breach("more mushrooms than were planted or struck", mushrooms);
    long long all = pods + balls;
    r.sparkCap = std::max(r.sparkCap, 20 + all * (18 + 7 * mushrooms + 6 * all));
    r.pointCap = std::max(r.pointCap, all * (1 + mushrooms + all));
    if ((long long)s.ParticleList.size() > 39 * r.sparkCap) Breach("more sparks than 39 frames can throw");
    if ((long long)PopupList.size() > 120 * std::max(r.pointCap, 1LL)) Breach("more pop-ups than 120 frames can score");

    // Ranges.
    if (s.ReserveBalls < 0 || s.ReserveBalls > StartReserve()) Breach("ReserveBalls out of range", s.ReserveBalls);
    if (s.ReserveBalls > r.reserve) Breach("ReserveBalls rose", r.reserve, s.ReserveBalls);
    r.reserve = s.ReserveBalls;
    struct {
        int v, hi;
        const char* name;
    } timers[] = {{s.SickTimer, 900, "SickTimer"},         {s.LoveBatTimer, 600, "LoveBatTimer"},
                  {s.FlameTimer, 600, "FlameTimer"},       {s.FreezeTimer, 600, "FreezeTimer"},
                  {s.SlipperyTimer, 900, "SlipperyTimer"}, {s.AutoLaunchTimer, 360, "AutoLaunchTimer"},
                  {s.WaveIntroTimer, 180, "WaveIntroTimer"}, {s.WaveEndClock, 150, "WaveEndClock"},
                  {s.BatLostClock, 120, "BatLostClock"},   {s.CaughtCount, 3, "CaughtCount"}};
    for (auto& t : timers)
        if (t.v < 0 || t.v > t.hi) Breach(t.name, t.v, t.hi);
    // The net opens 0.1 a frame from the game's start value 0, and closes
    // to 0.125 at least.
    if (s.NetScale < 0 || s.NetScale > 1.0f + 1e-4f) Breach("NetScale out of 0..1");
    if (s.BatWidth < 1 || s.BatWidth > 4) Breach("BatWidth out of 1..4");
    if (s.BatLift < 15 || s.BatLift > 135) Breach("BatLift out of 15..135", s.BatLift);
    float h = s.BatWidth / 2;
    if ((float)s.BatX < (float)Trunc(h) || (float)s.BatX > (float)ViewWidth - h)
        Breach("the bat left the play area", s.BatX, ViewWidth);

    // Score: each rise is made of this frame's pop-ups and bonuses. Pop-ups
    // are appended and all live equally long, so the new ones are those
    // after the newest one seen before (kept alive here, so its address is
    // not reused); when it has gone, all are new.
    long long popped = 0;
    auto from = PopupList.begin();
    for (auto it = PopupList.end(); it != PopupList.begin();)
        if (*--it == r.newestPopup) {
            from = std::next(it);
            break;
        }
    long long newAt[6] = {};  // new pop-ups by points / 5
    for (auto it = from; it != PopupList.end(); ++it) {
        int n = (*it)->n;
        if (n < 0 || n > 25 || n % 5 != 0) Breach("a pop-up with points no rule gives", n);
        else newAt[n / 5]++;
        popped += n;
    }
    // Each pop-up has its cause in the frame before: 10 to 25 only from a
    // bat bounce of a loose pod of health 2 to 5, and 0 only from a ball's
    // strike on a segment or a resting ball.
    for (int k = 2; k <= 5; k++)
        if (newAt[k] > r.looseAtHealth[k]) Breach("a bounce pop-up without a loose pod of its health", 5 * k, r.looseAtHealth[k]);
    if (newAt[0] > 0 && r.balls == 0) Breach("a strike pop-up of 0 points without a ball", newAt[0], r.standing);
    std::fill(std::begin(r.looseAtHealth), std::end(r.looseAtHealth), 0);
    r.balls = r.standing = 0;
    for (const Pod& p : s.PodList) {
        if (p.free == 1 && p.ball == 0 && p.health >= 0 && p.health <= 6) r.looseAtHealth[p.health]++;
        if (p.free != 2 && p.ball == 1) r.balls++;
        if (p.free == 0) r.standing++;
    }
    if (!PopupList.empty()) r.newestPopup = PopupList.back();
    long long rise = (long long)s.GameScore - r.score;
    if (rise < 0) Breach("the score fell", r.score, s.GameScore);
    // Bonuses, each paid on its own frame: a mushroom of the tally (the
    // tally's count of them rises by one), a ball of the tally (the balls
    // left to pay fall by one), and the row of three caught pods on the
    // frame it is evaluated (its first pod's age leaves 0).
    long long due = 0;
    if (s.MushroomBonusCount == r.mushroomBonuses + 1) due += 100;
    if (r.ballBonusLeft > 0 && s.BallBonusLeft == r.ballBonusLeft - 1) due += 1000;
    if (s.CaughtCount == 3 && r.caughtAge == 0 && s.CaughtAge[1] != 0)
        due += RowBonus(s.CaughtColour[1], s.CaughtColour[2], s.CaughtColour[3]);
    if (rise - popped != due) Breach("the score rose by other than its pop-ups and due bonuses", rise - popped, due);
    r.mushroomBonuses = s.MushroomBonusCount;
    r.ballBonusLeft = s.BallBonusLeft;
    r.caughtAge = s.CaughtAge[1];
    r.score = s.GameScore;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// scores.dat after a game was filed: the score list, newest first, the new
// game among it.
void CheckScoreFile(Run& r) {
    std::vector<std::string> lines = FileLines(g_gameDir + "/scores.dat");
    std::vector<ScoreRef> read;
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].find('|') == std::string::npos) continue;
        std::string best = i + 1 < lines.size() ? lines[i + 1] : std::string();
        read.push_back(ParseScoreRecord(lines[i], best));
        i++;
    }
    if (read.size() != ScoreList.size()) Breach("scores.dat does not hold every filed game", read.size(), ScoreList.size());
    size_t i = 0;
    bool newFound = false;
    for (const ScoreRef& s : ScoreList) {
        const Scores& f = *read[i++];
        if (f.Score != s->Score || f.Timestamp != s->Timestamp || f.GameMode != s->GameMode || f.Quit != s->Quit ||
            f.Name != TrimText(s->Name))
            Breach("a record of scores.dat differs from the score list", (long long)i);
        bool seen = false;
        for (const ScoreRef& q : r.seenScores) seen = seen || q == s;
        if (!seen) {
            newFound = true;
            if (s->Score != r.score || s->GameMode != CurrentMode) Breach("the filed game is not the one played", s->Score, r.score);
        }
    }
    if (!newFound) Breach("the filed game is missing from the score list");
    r.seenScores.assign(ScoreList.begin(), ScoreList.end());
    r.filed++;
}

void CheckFrame(Run& r) {
    if (ScoreList.size() != r.seenScores.size()) CheckScoreFile(r);
    // A game starts when the title hands over (PlayState leaves 0).
    if (PlayState != 0 && r.prevPlayState == 0) {
        r.score = 0;
        r.reserve = StartReserve();
        r.wave = 1;
        r.toSpawn = Game.CentipedesToSpawn;
        r.spawned = 0;
        r.sparkCap = r.pointCap = 0;
        r.mushroomBonuses = r.ballBonusLeft = r.caughtAge = 0;
    }
    r.prevPlayState = PlayState;
    // Between games Game keeps the last game's state; it must hold too.
    if (r.wave > 0) CheckGame(r);
    if (MessageList.size() > 181) Breach("more messages than 180 frames can add", MessageList.size());
    if (SettingsOpen != 0 && SettingsOpen != 1) Breach("SettingsOpen out of 0..1", SettingsOpen);
    // The panel slides 32 a frame from -300 and stops at the first step
    // past 0.
    if (PanelOffset < -300 || PanelOffset > 20) Breach("PanelOffset out of -300..20", PanelOffset);
}

// ------------------------------------------------------- the frame hook ---

void FrameInput() {
    Run& r = *g_run;
    InstallPump();  // opening a display removes the platform's hooks
    r.frames++;
    g_totalFrames++;
    r.lastFrameAt = PeekMillisecs();
    r.released = false;

    CheckFrame(r);
    r.gameFrames += PlayState == 1;
    r.pausedFrames += PlayState == 2;
    r.namingFrames += NameEntryActive;
    r.panelFrames += PanelOffset > -300;
    uint64_t sum = GameChecksum();
    // WORMLOB_FUZZ_TRACE=FILE: each frame's checksum and what most often
    // tells two passes apart, for looking into a difference.
    static std::FILE* trace = std::getenv("WORMLOB_FUZZ_TRACE") ? std::fopen(std::getenv("WORMLOB_FUZZ_TRACE"), "w") : nullptr;
    if (trace)
        std::fprintf(trace, "%s %d %016llx clock %d random %d play %d name %d\n", r.broad ? "grid" : "plain", r.frames,
                     (unsigned long long)sum, Millisecs(), RandomState(), PlayState, NameEntryActive),
            std::fflush(trace);
    if (r.broad) {
        r.sums->push_back(sum);
    } else {
        if (r.sumAt >= r.sums->size()) Breach("the plain loops ran more frames than the grid", (long long)r.sumAt);
        if ((*r.sums)[r.sumAt] != sum) Breach("the plain loops and the grid differ at frame", (long long)r.sumAt);
        r.sumAt++;
    }

    // The performance test runs while "Apply" re-opens the display: a run
    // ends only outside it.
    bool testing = ShowFrameRate == 0;
    if (testing && !r.wasTesting) r.displayChanges++;
    r.wasTesting = testing;
    bool used = r.in.Done() && r.idle == 0;
    if (!testing && (r.frames >= MaxFrames || r.displayChanges >= MaxDisplayChanges)) throw RunEnd{};
    if (used) {
        // The input is used up. A game or name prompt still running gets up
        // to EndGrace frames more, with Enter tapped at the prompt, so that
        // a game that was ending is filed; on the title the run ends.
        if (!testing && ((PlayState == 0 && !NameEntryActive) || r.grace >= EndGrace)) throw RunEnd{};
        if (NameEntryActive && r.grace % 8 == 0) {
            KeyEvent(13, true);
            KeyEvent(13, false);
        }
        r.grace++;
        return;
    }

    if (r.idle > 0) {
        r.idle--;
        return;
    }
    int head = r.in.U8();
    r.idle = head >> 3;
    for (int k = head & 7; k > 0 && !r.in.Done(); k--) OneEvent(r.in);
}

// --------------------------------------------------------- run set-up ---

void RestoreStart(int mode, int seed) {
    FrameInputHook = nullptr;
    ChangeDir(g_gameDir);
    std::memcpy(Settings, g_start.settings, sizeof Settings);
    std::memcpy(Keys, g_start.keys, sizeof Keys);
    std::memcpy(JoyEnabled, g_start.joyEnabled, sizeof JoyEnabled);
    UseVirtualClock(g_start.clock);
    g_testFrames = 0;
    if (ScreenWidth != g_start.screenW || ScreenHeight != g_start.screenH || ViewWidth != g_start.viewW ||
        ViewHeight != g_start.viewH) {
        ApplyGraphicsSettings();
        std::memcpy(Settings, g_start.settings, sizeof Settings);
    }
    std::memcpy(SpriteBudget, g_start.spriteBudget, sizeof SpriteBudget);
    std::memset(SpriteCount, 0, sizeof SpriteCount);
    TargetRate = g_start.targetRate;
    ShowFrameRate = 1;
    UseVirtualClock(g_start.clock);
    // The display paces presented frames on the program's clock, which has
    // just been set back: the window start-up opened is opened again, so
    // the pacing starts from now as it did then.
    CloseDisplay();
    OpenDisplay(ScreenWidth, ScreenHeight, 0, 60, 0);
    SetResolution((float)ViewWidth, (float)ViewHeight);
    ResetInputTables();
    InputEvent centre{INPUT_MOUSE_MOVE};
    centre.x = WindowWidth() / 2;
    centre.y = WindowHeight() / 2;
    PostInputEvent(centre);
    if (g_joy) {
        for (int a = 0; a < 6; a++) SDL_JoystickSetVirtualAxis(g_joy, a, 0);
        SDL_JoystickSetVirtualHat(g_joy, 0, SDL_HAT_CENTERED);
        for (int b = 0; b < 12; b++) SDL_JoystickSetVirtualButton(g_joy, b, SDL_RELEASED);
    }
    for (ChannelRef& ch : Channels) {
        if (ch) ch->Stop();
        ch.reset();
    }
    FrameTimeMark = Millisecs();
    FrameRate = 0;
    FrameSkipPhase = 0;
    FrameMouseX = PrevMouseX = (int)MouseXPos();
    FrameMouseY = PrevMouseY = (int)MouseYPos();
    FrameLeftClicks = FrameRightClicks = 0;
    SettingsOpen = 0;
    PanelOffset = -300;
    MessageList.clear();
    PopupList.clear();
    PlayState = 0;
    GameStartTime = 0;
    CurrentMode = mode;
    MouseGame = 1;
    SlideIn = StartLatch = StartHeld = BobAngle = 0;
    ScoreList.clear();
    PlayerName = "Player";
    ResetScoreView();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(g_gameDir, ec))
        if (e.path().filename().string().rfind("scores.dat", 0) == 0) fs::remove(e.path(), ec);
    for (const auto& e : fs::directory_iterator(g_dataDir, ec))
        if (e.path().extension() == ".png") fs::remove(e.path(), ec);
    NameEntryActive = 0;
    CreateGameTables();
    SfxSlot = 19;
    // A fresh Debug.txt for every run, as for every start of the program.
    CloseLog();
    OpenLog(g_dataDir + "/Debug.txt");
    SeedRandom(seed);
}

int PlayOnce(const uint8_t* data, size_t size, bool broad, std::vector<uint64_t>& sums) {
    Run r;
    r.in.p = data;
    r.in.n = size;
    int mode = r.in.U8() % 3;
    int seed = 0;
    for (int k = 0; k < 4; k++) seed |= r.in.U8() << (8 * k);
    seed &= 0x7fffffff;
    RestoreStart(mode, seed);
    GameBroadPhase = broad;
    r.broad = broad;
    r.sums = &sums;
    r.lastFrameAt = PeekMillisecs();
    g_run = &r;
    InstallPump();
    FrameInputHook = FrameInput;
    try {
        TitleLoop();
    } catch (const RunEnd&) {
    }
    FrameInputHook = nullptr;
    InstallPlatformHooks(PlatformHooks{});
    g_run = nullptr;
    GameBroadPhase = true;
    if (!broad && r.sumAt != sums.size()) Breach("the plain loops ran fewer frames than the grid", (long long)r.sumAt);
    if (std::getenv("WORMLOB_FUZZ_VERBOSE"))
        std::fprintf(stderr,
                     "game_fuzz: %s: mode %d, %d frames (%d game, %d paused, %d naming, %d panel), %d games filed, "
                     "%d display changes, %d F3, wave %d, score %d, pods %zu, joysticks %d\n",
                     broad ? "grid" : "plain loops", mode, r.frames, r.gameFrames, r.pausedFrames, r.namingFrames,
                     r.panelFrames, r.filed, r.displayChanges, r.f3Presses, Game.WaveNumber, Game.GameScore,
                     Game.PodList.size(), JoyCount);
    return r.filed;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = StartOnce();
    if (!started) {
        std::fprintf(stderr, "game_fuzz: the program did not start\n");
        std::abort();
    }
    std::vector<uint64_t> sums;
    int filedA = PlayOnce(data, size, true, sums);
    int filedB = PlayOnce(data, size, false, sums);
    if (filedA != filedB) Breach("the plain loops filed a different number of games", filedA, filedB);
    // What the runs made is let go now rather than at the next input's
    // start: libFuzzer plays an input again, looking for leaks, whenever it
    // allocated more than it freed.
    ScoreList.clear();
    PopupList.clear();
    MessageList.clear();
    CreateGameTables();
    for (ChannelRef& ch : Channels) {
        if (ch) ch->Stop();
        ch.reset();
    }
    g_totalRuns++;
    std::time_t now = std::time(nullptr);
    if (now - g_lastCountWrite >= 5) {
        g_lastCountWrite = now;
        WriteCount();
    }
    return 0;
}

// Timing, random numbers, text-to-number, files and the input tables.
#include "media/system.h"

#include "media/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <sstream>

// ---------------------------------------------------------------- timing ---

namespace {
bool g_virtualClock = false;
uint32_t g_virtualNow = 0;

uint32_t RealMillis() {
    using namespace std::chrono;
    // Milliseconds since an arbitrary fixed point (the steady clock's epoch,
    // usually boot), truncated to 32 bits: the counter wraps like the
    // platform's tick count does.
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return (uint32_t)(uint64_t)ms;
}
}  // namespace

int Millisecs() {
    if (Replaying()) return JournalClock(0);
    int now = (int)(g_virtualClock ? g_virtualNow : RealMillis());
    return Recording() || GameCapturing() ? JournalClock(now) : now;
}

int PeekMillisecs() {
    if (Replaying()) return JournalNow();
    return (int)(g_virtualClock ? g_virtualNow : RealMillis());
}

void SleepMs(int ms) {
    // A replay's time comes from the journal; waiting adds nothing to it.
    if (ms < 0 || Replaying()) return;
    if (g_virtualClock) {
        g_virtualNow += (uint32_t)ms;
        return;
    }
    PlatformSleepMs(ms);
}

void UseVirtualClock(int startMs) {
    g_virtualClock = true;
    g_virtualNow = (uint32_t)startMs;
}
void UseRealClock() { g_virtualClock = false; }
bool VirtualClockActive() { return g_virtualClock; }
void AdvanceVirtualClock(int ms) {
    if (g_virtualClock && ms > 0) g_virtualNow += (uint32_t)ms;
}

namespace {
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
bool LocalNow(std::tm& out) {
    std::time_t t = std::time(nullptr);
    return localtime_r(&t, &out) != nullptr;
}
}  // namespace

// Formatted by hand rather than with strftime so the result never depends on
// the process locale.
std::string DateText() {
    std::tm tm{};
    if (!LocalNow(tm)) return "01 Jan 1970";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d %s %04d", tm.tm_mday,
                  kMonths[(tm.tm_mon % 12 + 12) % 12], tm.tm_year + 1900);
    return buf;
}

std::string TimeText() {
    std::tm tm{};
    if (!LocalNow(tm)) return "00:00:00";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// ---------------------------------------------------------------- random ---

namespace {
int32_t g_randState = 4660;

// One step of the 48271 / 2^31-1 generator, by Schrage's method so the
// product never overflows 32 bits.
int32_t RandomStep() {
    int32_t s = g_randState;
    s = 48271 * (s % 44488) - 3399 * (s / 44488);
    if (s < 0) s += 2147483647;
    g_randState = s;
    return s;
}
}  // namespace

void SeedRandom(int seed) {
    int32_t s = (int32_t)((uint32_t)seed & 0x7FFFFFFFu);
    if (s == 0 || s == 0x7FFFFFFF) s = 4660;
    g_randState = s;
}

int RandomState() { return g_randState; }

double RandomUnit() {
    int32_t s1 = RandomStep();
    int32_t s2 = RandomStep();
    return ((double)(s1 & 0x1FFFFFFC) + (double)(s2 & 0x1FFFFFF8) / 134217728.0) /
           536870912.0;
}

double RandomFloat(double a, double b) {
    double lo = a, hi = b;
    if (a > b) { lo = b; hi = a; }
    return lo + RandomUnit() * (hi - lo);
}

int RandomInt(int a, int b) {
    int lo = a, hi = b;
    if (b < a) { lo = b; hi = a; }
    // In 64 bits, so the full int range cannot overflow.
    int64_t span = (int64_t)hi - (int64_t)lo + 1;
    return (int)((int64_t)lo + (int64_t)(RandomUnit() * (double)span));
}

// ----------------------------------------------------------- text numbers ---

namespace {
// Unsigned accumulation wraps modulo 2^64; the caller narrows. This gives
// the "register" result for overflowing input instead of undefined behaviour.
uint64_t LeadingInteger(const std::string& text, bool& negative) {
    size_t i = 0, n = text.size();
    negative = false;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) i++;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    uint64_t v = 0;
    if (i < n && text[i] == '$') {
        for (i++; i < n; i++) {
            char c = text[i];
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else break;
            v = v * 16 + (uint64_t)d;
        }
    } else if (i < n && text[i] == '%') {
        for (i++; i < n && (text[i] == '0' || text[i] == '1'); i++) v = v * 2 + (uint64_t)(text[i] - '0');
    } else {
        for (; i < n && text[i] >= '0' && text[i] <= '9'; i++) v = v * 10 + (uint64_t)(text[i] - '0');
    }
    return v;
}
}  // namespace

int32_t TextToInt(const std::string& text) {
    bool neg;
    uint32_t v = (uint32_t)LeadingInteger(text, neg);
    if (neg) v = 0u - v;
    return (int32_t)v;  // two's complement narrowing (defined since C++20)
}

int64_t TextToLong(const std::string& text) {
    bool neg;
    uint64_t v = LeadingInteger(text, neg);
    if (neg) v = 0u - v;
    return (int64_t)v;
}

int32_t AbsInt(int32_t v) { return v < 0 ? (int32_t)(0u - (uint32_t)v) : v; }
int64_t AbsLong(int64_t v) { return v < 0 ? (int64_t)(0u - (uint64_t)v) : v; }

// ----------------------------------------------------------------- files ---

namespace {
void (*g_loadFailureHook)(const std::string& path) = nullptr;
}

void SetLoadFailureHook(void (*hook)(const std::string& path)) { g_loadFailureHook = hook; }

void ReportLoadFailure(const std::string& path) {
    if (g_loadFailureHook) g_loadFailureHook(path);
}

bool ChangeDir(const std::string& path) {
    return !path.empty() && chdir(path.c_str()) == 0;
}

int FileType(const std::string& path) {
    if (path.empty() || path.find('<') != std::string::npos || path.find('>') != std::string::npos)
        return 0;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return 2;
    return 1;
}

TStream* ReadFile(const std::string& path) {
    if (FileType(path) != 1) return nullptr;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    auto* s = new TStream;
    s->f = f;
    return s;
}

TStream* WriteFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return nullptr;
    auto* s = new TStream;
    s->f = f;
    s->writing = true;
    s->stored = PlatformFilePath(path);
    return s;
}

std::string ReadLine(TStream* s) {
    std::string line;
    if (!s || !s->f) return line;
    int c;
    while ((c = std::getc(s->f)) != EOF) {
        if (c == 10 || c == 0) break;
        if (c == 13) continue;
        line.push_back((char)c);
    }
    return line;
}

bool WriteLine(TStream* s, const std::string& text) {
    if (!s || !s->f) return false;
    size_t n = text.size();
    bool ok = std::fwrite(text.data(), 1, n, s->f) == n;
    ok = ok && std::fwrite("\r\n", 1, 2, s->f) == 2;
    if (!ok) s->failed = true;
    return ok;
}

bool EndOfStream(TStream* s) {
    if (!s || !s->f) return true;
    int c = std::getc(s->f);
    if (c == EOF) return true;
    std::ungetc(c, s->f);
    return false;
}

bool FlushStream(TStream* s) {
    if (!s || !s->f) return false;
    bool ok = std::fflush(s->f) == 0 && !s->failed;
    if (!s->stored.empty()) PlatformFileWritten(s->stored);
    return ok;
}

bool CloseStream(TStream* s) {
    if (!s) return true;
    bool ok = !s->failed;
    if (s->f) {
        if (s->writing && std::fflush(s->f) != 0) ok = false;
        if (std::fclose(s->f) != 0) ok = false;
    }
    if (s->writing && !s->stored.empty()) PlatformFileWritten(s->stored);
    delete s;
    return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string* lines, int count) {
    std::string text;
    for (int i = 0; i < count; i++) text += lines[i] + "\r\n";
    return WriteBytesAtomically(path, text);
}

bool WriteBytesAtomically(const std::string& path, const std::string& bytes) {
    std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fflush(f) != 0) ok = false;
    if (ok && fsync(fileno(f)) != 0) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        std::remove(tmp.c_str());
        return false;
    }
    std::string stored = PlatformFilePath(path);
    if (!stored.empty()) PlatformFileWritten(stored);
    // Sync the folder too, so the rename itself survives a power loss.
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
}

// ----------------------------------------------------------------- input ---

namespace {
struct InputTables {
    int keyDown[256] = {};
    int keyHits[256] = {};
    uint16_t chars[256] = {};
    uint32_t charRead = 0, charWrite = 0;
    int mouseDown[4] = {};
    int mouseHits[4] = {};
    int mouseX = 0, mouseY = 0;
    int wheel = 0;
    int padDown[MaxPads][PAD_BUTTONS] = {};
    int padAxis[MaxPads][PAD_AXES] = {};
};
InputTables g_in;
PlatformHooks g_hooks;
float g_mouseScaleX = 1.0f, g_mouseScaleY = 1.0f;

std::deque<ScriptedInput> g_script;
int g_scriptStart = 0;
bool g_inPump = false;
bool g_inPlatformPump = false;
bool g_ignorePlatformPointer = false;
bool g_joysticksChanged = false;
bool g_padLeft = false;
void (*g_pollHook)() = nullptr;

void ClearTables() {
    std::memset(g_in.keyDown, 0, sizeof g_in.keyDown);
    std::memset(g_in.keyHits, 0, sizeof g_in.keyHits);
    std::memset(g_in.mouseDown, 0, sizeof g_in.mouseDown);
    std::memset(g_in.mouseHits, 0, sizeof g_in.mouseHits);
    g_in.charRead = g_in.charWrite = 0;
}
}  // namespace

int ClampPointer(int v) { return v < -MaxPointerPlace ? -MaxPointerPlace : v > MaxPointerPlace ? MaxPointerPlace : v; }

namespace {
int g_viewerDown[256], g_viewerHits[256];

void NoteViewerKey(const InputEvent& e) {
    if (e.code < 0 || e.code > 255) return;
    if (e.type == INPUT_KEY_DOWN && !e.repeat && !g_viewerDown[e.code]) g_viewerHits[e.code]++;
    if (e.type == INPUT_KEY_DOWN) g_viewerDown[e.code] = 1;
    if (e.type == INPUT_KEY_UP) g_viewerDown[e.code] = 0;
}
}  // namespace

int ViewerKeyHits(int key) {
    if (key < 0 || key > 255) return 0;
    int n = g_viewerHits[key];
    g_viewerHits[key] = 0;
    return n;
}

bool ViewerKeyDown(int key) { return key >= 0 && key <= 255 && g_viewerDown[key]; }

void PostInputEvent(const InputEvent& e) {
    // A replay's input is the journal's alone: what the window reports
    // while it is watched must not change the run. Its keys steer the
    // watching.
    if (!JournalAccepts()) {
        if (e.type == INPUT_KEY_DOWN || e.type == INPUT_KEY_UP) NoteViewerKey(e);
        return;
    }
    if (g_inPlatformPump && g_ignorePlatformPointer && e.type != INPUT_KEY_DOWN && e.type != INPUT_KEY_UP &&
        e.type != INPUT_CHAR)
        return;
    JournalPosted(e, g_inPump);
    switch (e.type) {
    case INPUT_KEY_DOWN:
        if (e.code < 0 || e.code > 255) return;
        // Auto-repeat never counts as a new press.
        if (!g_in.keyDown[e.code]) {
            g_in.keyDown[e.code] = 1;
            g_in.keyHits[e.code]++;
        }
        break;
    case INPUT_KEY_UP:
        if (e.code >= 0 && e.code <= 255) g_in.keyDown[e.code] = 0;
        break;
    case INPUT_CHAR:
        if (g_in.charWrite - g_in.charRead < 256) {
            g_in.chars[g_in.charWrite & 255] = (uint16_t)e.code;
            g_in.charWrite++;
        }
        break;
    case INPUT_MOUSE_DOWN:
        if (e.code < 0 || e.code > 3) return;
        if (!g_in.mouseDown[e.code]) {
            g_in.mouseDown[e.code] = 1;
            g_in.mouseHits[e.code]++;
        }
        break;
    case INPUT_MOUSE_UP:
        if (e.code >= 0 && e.code <= 3) g_in.mouseDown[e.code] = 0;
        break;
    case INPUT_MOUSE_MOVE:
        g_in.mouseX = ClampPointer(e.x);
        g_in.mouseY = ClampPointer(e.y);
        break;
    case INPUT_WHEEL:
        g_in.wheel += e.code;
        break;
    case INPUT_SUSPEND:
    case INPUT_RESUME:
        ClearTables();
        break;
    case INPUT_JOYSTICKS_CHANGED:
        g_joysticksChanged = true;
        break;
    case INPUT_PAD_DOWN:
    case INPUT_PAD_UP:
        if (e.y >= 0 && e.y < MaxPads && e.code >= 0 && e.code < PAD_BUTTONS)
            g_in.padDown[e.y][e.code] = e.type == INPUT_PAD_DOWN ? 1 : 0;
        break;
    case INPUT_PAD_AXIS:
        if (e.y >= 0 && e.y < MaxPads && e.code >= 0 && e.code < PAD_AXES)
            g_in.padAxis[e.y][e.code] = e.x < -32768 ? -32768 : e.x > 32767 ? 32767 : e.x;
        break;
    case INPUT_PAD_GONE:
        if (e.y >= 0 && e.y < MaxPads) {
            std::memset(g_in.padDown[e.y], 0, sizeof g_in.padDown[e.y]);
            std::memset(g_in.padAxis[e.y], 0, sizeof g_in.padAxis[e.y]);
            g_padLeft = true;
        }
        break;
    }
}

std::vector<int32_t> SaveInputTables() {
    std::vector<int32_t> v;
    v.insert(v.end(), g_in.keyDown, g_in.keyDown + 256);
    v.insert(v.end(), g_in.keyHits, g_in.keyHits + 256);
    v.insert(v.end(), g_in.chars, g_in.chars + 256);
    v.push_back((int32_t)g_in.charRead);
    v.push_back((int32_t)g_in.charWrite);
    v.insert(v.end(), g_in.mouseDown, g_in.mouseDown + 4);
    v.insert(v.end(), g_in.mouseHits, g_in.mouseHits + 4);
    v.push_back(g_in.mouseX);
    v.push_back(g_in.mouseY);
    v.push_back(g_in.wheel);
    v.push_back(g_joysticksChanged ? 1 : 0);
    for (const auto& pad : g_in.padDown) v.insert(v.end(), pad, pad + PAD_BUTTONS);
    for (const auto& pad : g_in.padAxis) v.insert(v.end(), pad, pad + PAD_AXES);
    v.push_back(g_padLeft ? 1 : 0);
    return v;
}

bool RestoreInputTables(const std::vector<int32_t>& v) {
    if (v.size() != InputTablesSize) return false;
    size_t i = 0;
    for (int& k : g_in.keyDown) k = v[i++] ? 1 : 0;
    for (int& k : g_in.keyHits) k = v[i++];
    for (uint16_t& c : g_in.chars) c = (uint16_t)v[i++];
    g_in.charRead = (uint32_t)v[i++];
    g_in.charWrite = (uint32_t)v[i++];
    // A reader must never be more than the ring's size behind.
    if (g_in.charWrite - g_in.charRead > 256) g_in.charRead = g_in.charWrite;
    for (int& m : g_in.mouseDown) m = v[i++] ? 1 : 0;
    for (int& m : g_in.mouseHits) m = v[i++];
    g_in.mouseX = ClampPointer(v[i++]);
    g_in.mouseY = ClampPointer(v[i++]);
    g_in.wheel = v[i++];
    g_joysticksChanged = v[i++] != 0;
    for (auto& pad : g_in.padDown)
        for (int& b : pad) b = v[i++] ? 1 : 0;
    for (auto& pad : g_in.padAxis)
        for (int& a : pad) a = v[i] < -32768 ? -32768 : v[i] > 32767 ? 32767 : v[i], i++;
    g_padLeft = v[i++] != 0;
    return true;
}

int KeyHeldNow(int key) { return key >= 0 && key <= 255 ? g_in.keyDown[key] : 0; }

int KeyHitsNow(int key) {
    if (key < 0 || key > 255) return 0;
    int n = g_in.keyHits[key];
    g_in.keyHits[key] = 0;
    return n;
}

int MouseHeldNow(int button) { return button >= 0 && button <= 3 ? g_in.mouseDown[button] : 0; }
float MouseXNow() { return (float)g_in.mouseX * g_mouseScaleX; }
float MouseYNow() { return (float)g_in.mouseY * g_mouseScaleY; }

int PadHeldNow(int button) {
    if (button < 0 || button >= PAD_BUTTONS) return 0;
    for (int p = 0; p < MaxPads; p++)
        if (g_in.padDown[p][button]) return 1;
    return 0;
}

float PadAxisNow(int axis) {
    if (axis < 0 || axis >= PAD_AXES) return 0;
    int best = 0;
    for (int p = 0; p < MaxPads; p++) {
        int v = g_in.padAxis[p][axis];
        if ((v < 0 ? -v : v) > (best < 0 ? -best : best)) best = v;
    }
    return best < 0 ? (float)best / 32768.0f : (float)best / 32767.0f;
}

int PadSlotHeld(int pad, int button) {
    return pad >= 0 && pad < MaxPads && button >= 0 && button < PAD_BUTTONS ? g_in.padDown[pad][button] : 0;
}

int PadSlotAxis(int pad, int axis) {
    return pad >= 0 && pad < MaxPads && axis >= 0 && axis < PAD_AXES ? g_in.padAxis[pad][axis] : 0;
}

bool PadLeftNow() {
    bool left = g_padLeft;
    g_padLeft = false;
    return left;
}

bool JoysticksChanged() {
    bool changed = g_joysticksChanged;
    g_joysticksChanged = false;
    return changed;
}

namespace {
bool g_pointerHidden = false;
}

void IgnorePlatformPointer(bool ignore) { g_ignorePlatformPointer = ignore; }

void InstallPlatformHooks(const PlatformHooks& hooks) {
    g_hooks = hooks;
    // A request made before the window existed applies to the new window.
    if (g_pointerHidden && g_hooks.hideMouse) g_hooks.hideMouse();
}

void PumpPlatformInput() {
    if (g_inPump || !g_hooks.pump) return;
    g_inPump = g_inPlatformPump = true;
    g_hooks.pump();
    g_inPump = g_inPlatformPump = false;
}

void PumpInput() {
    if (g_inPump) return;  // a hook that queries input must not recurse
    g_inPump = true;
    JournalPoll();
    g_inPlatformPump = true;
    if (g_hooks.pump) g_hooks.pump();
    g_inPlatformPump = false;
    JournalDeliver();
    // Scripted events are due once the program's clock has passed them.
    // The look at the clock is not journaled: the events it lets through
    // are, and a replay has no script.
    int now = PeekMillisecs();
    while (!g_script.empty() &&
           MsReached(now, (int)((uint32_t)g_scriptStart + g_script.front().at))) {
        InputEvent e = g_script.front().e;
        g_script.pop_front();
        bool pad = e.type == INPUT_PAD_DOWN || e.type == INPUT_PAD_UP || e.type == INPUT_PAD_AXIS ||
                   e.type == INPUT_PAD_GONE || e.type == INPUT_JOYSTICKS_CHANGED;
        if (pad && g_hooks.scriptedPad && g_hooks.scriptedPad(e)) continue;
        if (e.type == INPUT_MOUSE_MOVE && g_hooks.warpMouse) {
            // Keep a real window's pointer where the script puts it, so the
            // platform's own motion events agree with the script.
            g_hooks.warpMouse(e.x, e.y);
        }
        PostInputEvent(e);
    }
    if (g_pollHook) g_pollHook();
    g_inPump = false;
}

void SetPollHook(void (*hook)()) { g_pollHook = hook; }

namespace {
// Reads a whole number that must fill the next word; false (with what) when
// it is missing, not a number or outside lo..hi.
bool ScriptNumber(std::istringstream& ls, const char* name, long long lo, long long hi, long long& out,
                  std::string& what) {
    std::string word;
    if (!(ls >> word)) {
        what = std::string("missing ") + name;
        return false;
    }
    size_t used = 0;
    bool ok = true;
    try {
        out = std::stoll(word, &used);
    } catch (...) {
        ok = false;
    }
    if (!ok || used != word.size()) {
        what = std::string(name) + " \"" + word + "\" is not a whole number";
        return false;
    }
    if (out < lo || out > hi) {
        what = std::string(name) + " " + word + " is out of range " + std::to_string(lo) + ".." +
               std::to_string(hi);
        return false;
    }
    return true;
}

// The rest of a "pad" line: down|up <button>, axis <axis> <value>, plug or
// unplug. Pad events go to pad slot 0.
bool ScriptPad(std::istringstream& ls, InputEvent& e, std::string& what) {
    static const char* const buttons[PAD_BUTTONS] = {"south",     "east",  "west",       "north",      "back",
                                                     "guide",     "start", "lstick",     "rstick",     "lshoulder",
                                                     "rshoulder", "up",    "down",       "left",       "right"};
    static const char* const axes[PAD_AXES] = {"leftx", "lefty", "rightx", "righty", "ltrigger", "rtrigger"};
    std::string action, name;
    ls >> action;
    e.y = 0;
    if (action == "plug" || action == "unplug") {
        e.type = action == "plug" ? INPUT_JOYSTICKS_CHANGED : INPUT_PAD_GONE;
        return true;
    }
    auto find = [&](const char* const* names, int n) {
        for (int i = 0; i < n; i++)
            if (name == names[i]) return i;
        return -1;
    };
    ls >> name;
    if (action == "down" || action == "up") {
        e.type = action == "down" ? INPUT_PAD_DOWN : INPUT_PAD_UP;
        e.code = find(buttons, PAD_BUTTONS);
        if (e.code < 0) {
            what = "pad button \"" + name + "\" is not one of south, east, west, north, back, guide, start, "
                   "lstick, rstick, lshoulder, rshoulder, up, down, left, right";
            return false;
        }
        return true;
    }
    if (action == "axis") {
        e.type = INPUT_PAD_AXIS;
        e.code = find(axes, PAD_AXES);
        if (e.code < 0) {
            what = "pad axis \"" + name + "\" is not one of leftx, lefty, rightx, righty, ltrigger, rtrigger";
            return false;
        }
        long long v = 0;
        bool trigger = e.code >= PAD_TRIGGER_LEFT;
        if (!ScriptNumber(ls, "axis position", trigger ? 0 : -32768, 32767, v, what)) return false;
        e.x = (int)v;
        return true;
    }
    what = "pad wants down, up, axis, plug or unplug" + (action.empty() ? std::string() : ", not \"" + action + "\"");
    return false;
}

// One line's events (none for a blank or comment line); false with what on
// the first thing wrong with it.
bool ParseScriptLine(const std::string& line, std::vector<ScriptedInput>& out, std::string& what) {
    size_t hash = line.find('#');
    std::string body = hash == std::string::npos ? line : line.substr(0, hash);
    if (body.find_first_not_of(" \t") == std::string::npos) return true;  // blank or comment only
    std::istringstream ls(body);
    long long at = 0;
    // Up to about 24 days of program time: the clock wraps at 2^31 ms.
    if (!ScriptNumber(ls, "time", 0, INT32_MAX, at, what)) return false;
    std::string verb;
    if (!(ls >> verb)) {
        what = "missing event after the time";
        return false;
    }
    ScriptedInput se{(uint32_t)at, InputEvent{INPUT_KEY_DOWN}};
    long long n = 0, m = 0;
    if (verb == "key" || verb == "mouse") {
        std::string dir;
        ls >> dir;
        if (dir != "down" && dir != "up") {
            what = verb + " wants \"down\" or \"up\"" + (dir.empty() ? "" : ", not \"" + dir + "\"");
            return false;
        }
        bool down = dir == "down";
        if (verb == "key") {
            if (!ScriptNumber(ls, "key code", 0, 255, n, what)) return false;
            se.e.type = down ? INPUT_KEY_DOWN : INPUT_KEY_UP;
        } else {
            if (!ScriptNumber(ls, "mouse button", 1, 3, n, what)) return false;
            se.e.type = down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP;
        }
        se.e.code = (int)n;
    } else if (verb == "move") {
        if (!ScriptNumber(ls, "x", INT32_MIN, INT32_MAX, n, what) ||
            !ScriptNumber(ls, "y", INT32_MIN, INT32_MAX, m, what))
            return false;
        se.e.type = INPUT_MOUSE_MOVE;
        se.e.x = (int)n, se.e.y = (int)m;
    } else if (verb == "char") {
        if (!ScriptNumber(ls, "character code", 0, 65535, n, what)) return false;
        se.e.type = INPUT_CHAR;
        se.e.code = (int)n;
    } else if (verb == "text") {
        // Everything after one blank is typed, byte by byte (Latin-1), up
        // to a '#'.
        std::string rest;
        std::getline(ls, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        for (unsigned char c : rest) {
            ScriptedInput ce{(uint32_t)at, InputEvent{INPUT_CHAR}};
            ce.e.code = c;
            out.push_back(ce);
        }
        return true;
    } else if (verb == "suspend" || verb == "resume") {
        se.e.type = verb == "suspend" ? INPUT_SUSPEND : INPUT_RESUME;
    } else if (verb == "pad") {
        if (!ScriptPad(ls, se.e, what)) return false;
    } else {
        what = "unknown event \"" + verb + "\" (key, mouse, move, char, text, suspend, resume or pad)";
        return false;
    }
    std::string extra;
    if (ls >> extra) {
        what = "unexpected \"" + extra + "\" after the event";
        return false;
    }
    out.push_back(se);
    return true;
}
}  // namespace

bool ParseInputScript(const std::string& text, std::vector<ScriptedInput>& events, std::string& error) {
    events.clear();
    error.clear();
    std::istringstream in(text);
    std::string line, what;
    for (int number = 1; std::getline(in, line); number++) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!ParseScriptLine(line, events, what)) {
            error = "line " + std::to_string(number) + ": " + what;
            events.clear();
            return false;
        }
    }
    // Keep events in time order even when the file is not.
    std::stable_sort(events.begin(), events.end(),
                     [](const ScriptedInput& a, const ScriptedInput& b) { return a.at < b.at; });
    return true;
}

bool ReadInputScript(const std::string& path, std::vector<ScriptedInput>& events, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    if (f) ss << f.rdbuf();
    if (!f || f.bad()) {
        events.clear();
        error = "cannot be read";
        return false;
    }
    return ParseInputScript(ss.str(), events, error);
}

void StartInputScript(const std::vector<ScriptedInput>& events) {
    g_script.assign(events.begin(), events.end());
    g_scriptStart = PeekMillisecs();
}

bool LoadInputScriptText(const std::string& text) {
    std::vector<ScriptedInput> events;
    std::string error;
    bool ok = ParseInputScript(text, events, error);
    StartInputScript(events);
    return ok;
}

int PendingScriptedEvents() { return (int)g_script.size(); }

int KeyHitCount(int key) {
    PumpInput();
    if (key < 0 || key > 255) return 0;
    int n = g_in.keyHits[key];
    g_in.keyHits[key] = 0;
    return n;
}

void DropKeyHits(int key) {
    if (key >= 0 && key <= 255) g_in.keyHits[key] = 0;
}

int KeyIsDown(int key) {
    PumpInput();
    if (key < 0 || key > 255) return 0;
    return g_in.keyDown[key];
}

int NextTypedChar() {
    PumpInput();
    if (g_in.charRead == g_in.charWrite) return 0;
    int c = g_in.chars[g_in.charRead & 255];
    g_in.charRead++;
    return c;
}

void FlushInput() {
    PumpInput();
    std::memset(g_in.keyDown, 0, sizeof g_in.keyDown);
    std::memset(g_in.keyHits, 0, sizeof g_in.keyHits);
    g_in.charRead = g_in.charWrite = 0;
}

int MouseHitCount(int button) {
    PumpInput();
    if (button < 0 || button > 3) return 0;
    int n = g_in.mouseHits[button];
    g_in.mouseHits[button] = 0;
    return n;
}

int MouseIsDown(int button) {
    PumpInput();
    if (button < 0 || button > 3) return 0;
    return g_in.mouseDown[button];
}

float MouseXPos() {
    PumpInput();
    return (float)g_in.mouseX * g_mouseScaleX;
}

float MouseYPos() {
    PumpInput();
    return (float)g_in.mouseY * g_mouseScaleY;
}

int MouseWheel() {
    PumpInput();
    return g_in.wheel;
}

namespace {
// Drawing coordinates to a window pixel. Any float may come in: held to the
// pointer's range before it becomes an int (NaN goes to 0).
int WindowPlace(float v) {
    if (!(v == v)) return 0;
    return v <= -MaxPointerPlace ? -MaxPointerPlace : v >= MaxPointerPlace ? MaxPointerPlace : (int)v;
}
}  // namespace

void MoveMousePos(float x, float y) {
    int wx = WindowPlace(x / g_mouseScaleX), wy = WindowPlace(y / g_mouseScaleY);
    if (g_hooks.warpMouse) g_hooks.warpMouse(wx, wy);
    // The tables follow at once; a real window also reports the move later.
    g_in.mouseX = wx;
    g_in.mouseY = wy;
}

void PostPointerMove(float x, float y) {
    InputEvent e{INPUT_MOUSE_MOVE};
    e.x = WindowPlace(x / g_mouseScaleX);
    e.y = WindowPlace(y / g_mouseScaleY);
    if (g_hooks.warpMouse) g_hooks.warpMouse(e.x, e.y);
    PostInputEvent(e);
}

void HideMouse() {
    g_pointerHidden = true;
    if (g_hooks.hideMouse) g_hooks.hideMouse();
}

void HoldPointer(bool on) {
    if (g_hooks.holdPointer) g_hooks.holdPointer(on);
}

bool FullScreenLeft() { return g_hooks.fullScreenLeft && g_hooks.fullScreenLeft(); }

void SetMouseScale(float sx, float sy) {
    g_mouseScaleX = sx > 0 ? sx : 1.0f;
    g_mouseScaleY = sy > 0 ? sy : 1.0f;
}

void ResetInputTables() {
    ClearTables();
    std::memset(g_in.padDown, 0, sizeof g_in.padDown);
    std::memset(g_in.padAxis, 0, sizeof g_in.padAxis);
    g_padLeft = false;
    g_joysticksChanged = false;
    g_in.wheel = 0;
    g_in.mouseX = g_in.mouseY = 0;
}

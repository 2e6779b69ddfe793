// Input, timing, random numbers, text-to-number and files: the small services
// every screen polls. Platform-neutral: the SDL side (event pump, pointer
// warping, joysticks) plugs in through InstallPlatformHooks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------- timing ---

// Milliseconds on the program's clock as a wrapping 32-bit signed value.
// Compare two readings only through their difference (MsSince / MsReached),
// never directly, so nothing hangs or skips when the counter wraps.
int Millisecs();
// The clock as the media layer's own timekeeping sees it (how far a sound
// has played, display pacing): the same clock, but not a reading the
// program's logic depends on, so a recorded run does not journal it and a
// replay answers with its current time.
int PeekMillisecs();
// Suspends for ms milliseconds (negative: returns at once). Under the
// virtual clock the time advances at once and nothing sleeps.
void SleepMs(int ms);
// The length of one sleep in a wait that ends remainingMs from now: the
// desktop sleeps in 1 ms steps; a page, whose timers are coarse, in one.
int PacingStepMs(double remainingMs);
// Ends the program with this exit status (a page shows that it ended).
[[noreturn]] void EndProcess(int status);
// Wrap-safe helpers: a - b as a signed difference, and "now has reached mark".
inline int32_t MsDiff(int a, int b) {
    return (int32_t)((uint32_t)a - (uint32_t)b);
}
inline bool MsReached(int now, int mark) { return MsDiff(now, mark) >= 0; }

// Switches Millisecs/SleepMs to a virtual clock that starts at startMs and only
// advances through SleepMs (and AdvanceVirtualClock). Used by tests and by the
// --virtual-clock option: pacing costs no wall time and runs are repeatable.
void UseVirtualClock(int startMs);
void UseRealClock();
bool VirtualClockActive();
void AdvanceVirtualClock(int ms);

// "%d %b %Y" and "%H:%M:%S" in the "C" locale, whatever the process locale.
std::string DateText();
std::string TimeText();

// ---------------------------------------------------------------- random ---

void SeedRandom(int seed);
double RandomFloat(double a, double b);
int RandomInt(int a, int b);
// The unit draw behind both (exposed for tests).
double RandomUnit();
int RandomState();

// ----------------------------------------------------------- text numbers ---

// The leading-integer rule: optional blanks, optional sign, then decimal
// digits, or "$" and hex digits, or "%" and binary digits, stopping at the
// first other character; no digits gives 0. Accumulation wraps modulo 2^32
// (2^64 for the 64-bit form), the way a machine register does, so an
// overflowing value gives a defined (wrapped) result; the absolute value of
// the most negative number is that number itself (see AbsInt).
int32_t TextToInt(const std::string& text);
int64_t TextToLong(const std::string& text);
// Absolute value without undefined behaviour: INT32_MIN stays INT32_MIN.
int32_t AbsInt(int32_t v);
int64_t AbsLong(int64_t v);

// ----------------------------------------------------------------- files ---

bool ChangeDir(const std::string& path);
// 0 no such file, 1 a file, 2 a folder. A path with '<' or '>' gives 0.
int FileType(const std::string& path);

struct TStream {
    std::FILE* f = nullptr;
    std::string stored;  // where a page keeps a copy of a written file ("" none)
    bool writing = false;
    bool failed = false;  // a write went wrong (disk full, I/O error)
};
TStream* ReadFile(const std::string& path);
TStream* WriteFile(const std::string& path);
// Bytes up to LF, NUL or end of file; CR dropped; each byte one character.
std::string ReadLine(TStream* s);
// The low 8 bits of each character, then CR LF. True when all bytes went out.
bool WriteLine(TStream* s, const std::string& text);
bool EndOfStream(TStream* s);
// Hands what was written so far to the system (and, in a page, to the
// browser's storage); false when that failed.
bool FlushStream(TStream* s);
// Flushes and closes; returns false when anything written failed to reach
// the file (the stream is freed either way). Null is ignored.
bool CloseStream(TStream* s);

// Writes a whole text file safely: the lines go to "<path>.tmp" in the same
// folder, which is flushed, synced and renamed over path. On any failure the
// old file is left untouched and false is returned.
bool WriteFileAtomically(const std::string& path, const std::string* lines, int count);
// The same for bytes as they are (no line endings added).
bool WriteBytesAtomically(const std::string& path, const std::string& bytes);

// The image, font and sound loaders call ReportLoadFailure with the path of
// a file they could not load (missing, unreadable or not of its kind); the
// slot it was meant for stays empty. The hook (none by default) lets the
// program name such files in its log.
void SetLoadFailureHook(void (*hook)(const std::string& path));
void ReportLoadFailure(const std::string& path);

// Platform seams (media/platform_web.cpp): sleeping, and what becomes of
// the files the program writes. PlatformFilePath gives the name a written
// file is kept under in a page ("" on the desktop, which keeps nothing
// apart); PlatformFileWritten keeps its current contents; PlatformFileSaved
// hands a finished file (a screenshot) to the player.
void PlatformSleepMs(int ms);
std::string PlatformFilePath(const std::string& path);
void PlatformFileWritten(const std::string& storedPath);
void PlatformFileSaved(const std::string& path);
// A picture was presented (a page counts them for its tests).
void PlatformFramePresented();
// A frame's drawing was handed over and waited for (a page times its
// frames with it for the measurements).
void PlatformFrameDrawn();

// ----------------------------------------------------------------- input ---

// Platform-neutral input events. The SDL pump, tests and the scripted input
// source all feed the tables through PostInputEvent.
enum InputEventType {
    INPUT_KEY_DOWN,     // code = virtual-key code, repeat = auto-repeat
    INPUT_KEY_UP,       // code
    INPUT_CHAR,         // code = UTF-16 code unit
    INPUT_MOUSE_DOWN,   // code = button 1 left, 2 right, 3 middle
    INPUT_MOUSE_UP,     // code
    INPUT_MOUSE_MOVE,   // x, y in window pixels
    INPUT_WHEEL,        // code = delta
    INPUT_SUSPEND,      // the window lost focus
    INPUT_RESUME,       // the window got focus back
    INPUT_JOYSTICKS_CHANGED,  // a joystick came or went after the start
    // Gamepads, in the layout of the usual pads (PadButton, PadAxis below);
    // y is the pad's slot 0..MaxPads-1.
    INPUT_PAD_DOWN,     // code = PadButton
    INPUT_PAD_UP,       // code = PadButton
    INPUT_PAD_AXIS,     // code = PadAxis, x = position -32768..32767 (triggers 0..32767)
    INPUT_PAD_GONE,     // the pad in slot y was unplugged: its buttons let go, its axes at rest
};
struct InputEvent {
    InputEventType type;
    int code = 0;
    int x = 0, y = 0;
    bool repeat = false;
};
void PostInputEvent(const InputEvent& e);

// Gamepads. Buttons by place, as on the usual pads (the south face button
// is A on one maker's pads and a cross on another's), numbered as SDL's
// game-controller layout numbers them.
enum PadButton {
    PAD_SOUTH, PAD_EAST, PAD_WEST, PAD_NORTH, PAD_BACK, PAD_GUIDE, PAD_START, PAD_LEFT_STICK,
    PAD_RIGHT_STICK, PAD_LEFT_SHOULDER, PAD_RIGHT_SHOULDER, PAD_DPAD_UP, PAD_DPAD_DOWN, PAD_DPAD_LEFT,
    PAD_DPAD_RIGHT, PAD_BUTTONS
};
enum PadAxis { PAD_LEFT_X, PAD_LEFT_Y, PAD_RIGHT_X, PAD_RIGHT_Y, PAD_TRIGGER_LEFT, PAD_TRIGGER_RIGHT, PAD_AXES };
constexpr int MaxPads = 4;
// The pointer's place in the tables is kept within +-MaxPointerPlace window
// pixels (far beyond any screen; a script or a pointer warp can ask for
// more): it stays exact in a float and, at any drawing scale, within an int
// when the frame hub and the game turn it into drawing coordinates.
constexpr int MaxPointerPlace = 1 << 24;
int ClampPointer(int v);

// Hooks the platform layer installs. Every input query first calls pump, so
// loops that wait on KeyIsDown/MouseIsDown without running frames still see
// releases. All may be null.
struct PlatformHooks {
    void (*pump)() = nullptr;               // deliver pending platform events
    void (*warpMouse)(int x, int y) = nullptr;  // window pixels
    void (*hideMouse)() = nullptr;
    void (*holdPointer)(bool on) = nullptr;
    bool (*fullScreenLeft)() = nullptr;
    // A scripted pad event (--virtual-pad): true when the platform took it
    // to work a virtual device, whose changes then come in as any pad's.
    bool (*scriptedPad)(const InputEvent& e) = nullptr;
};
void InstallPlatformHooks(const PlatformHooks& hooks);
// While set, the platform's pointer moves, buttons, wheel and focus changes
// do not reach the input tables (its keys still do). A demo player that
// drives the pointer itself sets it: a nudged mouse, a window manager's focus
// change or the echo of a pointer warp would otherwise reach the game at a
// frame that depends on the machine, and a seed would stop playing one game.
void IgnorePlatformPointer(bool ignore);
// Lets the platform and the scripted input source deliver what is due.
void PumpInput();
// The viewer's own keys while a replay runs. Only the journal's input
// reaches the input tables then; the keys the platform reports instead are
// noted here, so that whoever watches can steer the watching (pause, speed,
// leave) without touching the replayed game. PumpPlatformInput lets the
// platform deliver its events outside the program's input polls (a replay's
// polls are counted in the journal), for a watch that holds a picture.
int ViewerKeyHits(int key);  // presses since the last call
bool ViewerKeyDown(int key);
void PumpPlatformInput();
// Called at the end of every input poll, once the poll's events are in the
// tables; it may post events (they count as the poll's own) but must not
// query input through a poll. The game turns held keys and pad buttons into
// the pointer's buttons there, so that a wait loop that runs no frames still
// sees them let go. Null removes it.
void SetPollHook(void (*hook)());

// Scripted input (--input FILE): timed events delivered by PumpInput as soon
// as the program's clock passes their time. Format, one event per line, '#'
// starts a comment, blank lines are skipped:
//   <ms> key down|up <code 0..255>    <ms> mouse down|up <button 1..3>
//   <ms> move <x> <y>                 <ms> text <characters...>
//   <ms> char <code 0..65535>         <ms> suspend | resume
//   <ms> pad down|up <button>         <ms> pad axis <axis> <-32768..32767>
//   <ms> pad plug | unplug
// Pad buttons: south east west north back guide start lstick rstick
// lshoulder rshoulder up down left right; axes: leftx lefty rightx righty
// ltrigger rtrigger (triggers 0..32767). Pad events go to pad slot 0 (or
// work the virtual pad, see scriptedPad); "plug" is a joystick arrival and
// "unplug" the pad's departure.
// Times (0 or more) count from StartInputScript.
struct ScriptedInput {
    uint32_t at;  // offset from the script's start, in ms
    InputEvent e;
};
// Parses a whole script; on the first malformed line gives false, no
// events, and error = "line N: what is wrong".
bool ParseInputScript(const std::string& text, std::vector<ScriptedInput>& events, std::string& error);
// The same from a file; an unreadable file gives error "cannot be read".
bool ReadInputScript(const std::string& path, std::vector<ScriptedInput>& events, std::string& error);
// Replaces the queued script by these events, their times counting from now.
void StartInputScript(const std::vector<ScriptedInput>& events);
// Parse and start in one (tests); a malformed script starts empty.
bool LoadInputScriptText(const std::string& text);
int PendingScriptedEvents();

int KeyHitCount(int key);
// Forgets the presses of a key counted so far, without polling for more: a
// poll is a step of the run journal, and a reader that only discards must
// not change where a recorded run's events arrive.
void DropKeyHits(int key);
int KeyIsDown(int key);
int NextTypedChar();
void FlushInput();
int MouseHitCount(int button);
int MouseIsDown(int button);
// Pointer in drawing coordinates (window pixels times the mouse scale the
// drawing service sets with its virtual resolution).
float MouseXPos();
float MouseYPos();
int MouseWheel();
void MoveMousePos(float x, float y);
// Moves the pointer to (x, y) in drawing coordinates as the mouse would: a
// motion event in window pixels, posted like the platform's, and the system
// pointer warped there so that the mouse goes on from the same place.
void PostPointerMove(float x, float y);
void HideMouse();
// Whether the running game owns the pointer. A page cannot warp the
// pointer to keep it in the play area, so it locks it (Pointer Lock) while
// this is on; the desktop keeps warping and ignores it.
void HoldPointer(bool on);
// ---- the tables as the last input poll left them, read without a poll ----
// The frame hub's per-frame work (steering by keys and pads, the assist
// key) reads input this way, right after queries that polled: a poll more
// would renumber the polls that a recorded run files its events under, and
// runs recorded before that work existed must replay event for event.
int KeyHeldNow(int key);
// Hits of a key since they were last read (then 0), like KeyHitCount.
int KeyHitsNow(int key);
int MouseHeldNow(int button);
float MouseXNow();
float MouseYNow();
// 1 while the button is held on any pad.
int PadHeldNow(int button);
// The axis of the pad that pushes it furthest, -1..1 (triggers 0..1).
float PadAxisNow(int axis);
// One pad slot's raw table entries (the platform compares them with the
// device to post what changed).
int PadSlotHeld(int pad, int button);
int PadSlotAxis(int pad, int axis);
// True once after a pad was unplugged (INPUT_PAD_GONE).
bool PadLeftNow();

// True once after a joystick came or went (INPUT_JOYSTICKS_CHANGED): a
// browser shows a gamepad to a page only after a button on it is pressed, so
// there the pads arrive after the program has counted them at its start.
bool JoysticksChanged();
// The input tables as numbers (keys down and hit, typed characters, mouse
// buttons, pointer, wheel, a pending joystick change) and back, for a game
// journal that must start from the tables as the game found them.
constexpr size_t InputTablesSize = 256 * 3 + 2 + 4 + 4 + 3 + 1 + MaxPads * ((int)PAD_BUTTONS + (int)PAD_AXES) + 1;
std::vector<int32_t> SaveInputTables();
bool RestoreInputTables(const std::vector<int32_t>& tables);
// True once after the player left full screen by the platform's own means
// (a page's full screen ends with Escape), so the setting can follow.
bool FullScreenLeft();
// Set by the drawing service's SetResolution: drawing units per window pixel.
void SetMouseScale(float sx, float sy);
// Clears every input table (used on focus changes and by tests).
void ResetInputTables();

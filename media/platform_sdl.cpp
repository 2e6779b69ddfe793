// The SDL side of input: the event pump that feeds the input tables, the
// mapping of SDL keys to the Windows virtual-key codes the program uses,
// pointer warping and hiding, and joysticks.
#include "media/graphics_internal.h"
#include "media/journal.h"
#include "media/system.h"

#include <SDL.h>

#include <cmath>
#include <cstring>

#ifdef __EMSCRIPTEN__
#include <emscripten/html5.h>
#endif

namespace {
bool g_joyIgnored = false;

void PostPad(InputEventType type, int pad, int code = 0, int value = 0) {
    InputEvent e{type};
    e.code = code, e.x = value, e.y = pad;
    PostInputEvent(e);
}

// ------------------------------------------------------------- gamepads ---
// Pads are read through SDL's game-controller layer, whose mapping database
// knows where the buttons of the usual pads are, so the south face button is
// the same button on every maker's pad. A pad it has no mapping for is read
// as a plain joystick in the layout generic pads share (below). Each input
// poll compares every open pad with the input tables and posts what differs,
// so the tables (and a recorded run) see only changes, through the one door
// every input uses.
struct PadDevice {
    SDL_JoystickID id = -1;  // -1: the slot is free
    SDL_GameController* controller = nullptr;
    SDL_Joystick* joystick = nullptr;  // a pad without a mapping
    int restX = 0, restY = 0;          // its stick where it rested when opened
};
PadDevice g_pads[MaxPads];
bool g_padsStarted = false, g_padsFailed = false, g_padsSynced = false;
bool g_virtualPadWanted = false;
SDL_Joystick* g_virtualPad = nullptr;

bool StartPads() {
    if (g_joyIgnored || g_padsFailed) return false;
    if (g_padsStarted) return true;
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        g_padsFailed = true;
        return false;
    }
    // The pads are polled; their motion events would only fill the queue.
    // Arrivals and departures still come through.
    for (Uint32 type : {SDL_JOYAXISMOTION, SDL_JOYBALLMOTION, SDL_JOYHATMOTION, SDL_JOYBUTTONDOWN, SDL_JOYBUTTONUP,
                        SDL_CONTROLLERAXISMOTION, SDL_CONTROLLERBUTTONDOWN, SDL_CONTROLLERBUTTONUP,
                        SDL_CONTROLLERDEVICEADDED, SDL_CONTROLLERDEVICEREMOVED, SDL_CONTROLLERDEVICEREMAPPED,
                        SDL_CONTROLLERTOUCHPADDOWN, SDL_CONTROLLERTOUCHPADMOTION, SDL_CONTROLLERTOUCHPADUP,
                        SDL_CONTROLLERSENSORUPDATE})
        SDL_EventState(type, SDL_IGNORE);
    g_padsStarted = true;
    return true;
}

bool PadAttached(const PadDevice& p) {
    return p.controller ? SDL_GameControllerGetAttached(p.controller) == SDL_TRUE
                        : p.joystick && SDL_JoystickGetAttached(p.joystick) == SDL_TRUE;
}

void ClosePad(PadDevice& p) {
    if (p.controller) SDL_GameControllerClose(p.controller);
    if (p.joystick) SDL_JoystickClose(p.joystick);
    p = PadDevice{};
}

// Opens the pads that arrived and lets go of those that left. A pad that
// leaves is announced, so that a game in progress can pause.
void SyncPads() {
    g_padsSynced = true;
    for (int slot = 0; slot < MaxPads; slot++) {
        if (g_pads[slot].id < 0 || PadAttached(g_pads[slot])) continue;
        ClosePad(g_pads[slot]);
        PostPad(INPUT_PAD_GONE, slot);
    }
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n; i++) {
        SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
        int slot = -1;
        bool open = false;
        for (int k = 0; k < MaxPads; k++) {
            if (g_pads[k].id == id) open = true;
            if (g_pads[k].id < 0 && slot < 0) slot = k;
        }
        if (open || id < 0) continue;
        if (slot < 0) break;  // four pads are enough for one player
        PadDevice p;
        if (SDL_IsGameController(i)) {
            p.controller = SDL_GameControllerOpen(i);
        } else {
            p.joystick = SDL_JoystickOpen(i);
            if (p.joystick) {
                p.restX = SDL_JoystickGetAxis(p.joystick, 0);
                p.restY = SDL_JoystickGetAxis(p.joystick, 1);
            }
        }
        if (!p.controller && !p.joystick) continue;
        p.id = id;
        g_pads[slot] = p;
    }
}

// A stick's position with the shiver of a resting stick taken out.
int QuietAxis(int v) {
    if (v > -1024 && v < 1024) return 0;
    return v < -32768 ? -32768 : v > 32767 ? 32767 : v;
}

void ReadPad(const PadDevice& p, int down[PAD_BUTTONS], int axis[PAD_AXES]) {
    if (p.controller) {
        for (int b = 0; b < PAD_BUTTONS; b++)
            down[b] = SDL_GameControllerGetButton(p.controller, (SDL_GameControllerButton)b) ? 1 : 0;
        for (int a = 0; a < PAD_AXES; a++)
            axis[a] = QuietAxis(SDL_GameControllerGetAxis(p.controller, (SDL_GameControllerAxis)a));
        return;
    }
    // A pad SDL has no mapping for: the first two axes are its stick (from
    // where they rested when it was opened), the hat its direction pad,
    // buttons 0 to 3 its face buttons, 4 and 5 its shoulders, 6 and 7 its
    // triggers, 8 Back and 9 Start: the order of most generic USB pads.
    SDL_Joystick* j = p.joystick;
    int nb = SDL_JoystickNumButtons(j);
    auto held = [&](int i) { return i < nb && SDL_JoystickGetButton(j, i) ? 1 : 0; };
    static const int buttonOf[10] = {PAD_SOUTH, PAD_EAST,  PAD_WEST, PAD_NORTH, PAD_LEFT_SHOULDER,
                                     PAD_RIGHT_SHOULDER, -1, -1, PAD_BACK, PAD_START};
    for (int b = 0; b < PAD_BUTTONS; b++) down[b] = 0;
    for (int i = 0; i < 10; i++)
        if (buttonOf[i] >= 0) down[buttonOf[i]] = held(i);
    for (int a = 0; a < PAD_AXES; a++) axis[a] = 0;
    if (SDL_JoystickNumAxes(j) >= 2) {
        axis[PAD_LEFT_X] = QuietAxis(SDL_JoystickGetAxis(j, 0) - p.restX);
        axis[PAD_LEFT_Y] = QuietAxis(SDL_JoystickGetAxis(j, 1) - p.restY);
    }
    axis[PAD_TRIGGER_LEFT] = held(6) ? 32767 : 0;
    axis[PAD_TRIGGER_RIGHT] = held(7) ? 32767 : 0;
    if (SDL_JoystickNumHats(j) > 0) {
        Uint8 h = SDL_JoystickGetHat(j, 0);
        down[PAD_DPAD_UP] = (h & SDL_HAT_UP) ? 1 : 0;
        down[PAD_DPAD_DOWN] = (h & SDL_HAT_DOWN) ? 1 : 0;
        down[PAD_DPAD_LEFT] = (h & SDL_HAT_LEFT) ? 1 : 0;
        down[PAD_DPAD_RIGHT] = (h & SDL_HAT_RIGHT) ? 1 : 0;
    }
}

void PollPads() {
    if (!StartPads()) return;
    SDL_GameControllerUpdate();
    if (!g_padsSynced) SyncPads();
    for (int slot = 0; slot < MaxPads; slot++) {
        const PadDevice& p = g_pads[slot];
        if (p.id < 0) continue;
        int down[PAD_BUTTONS], axis[PAD_AXES];
        ReadPad(p, down, axis);
        for (int b = 0; b < PAD_BUTTONS; b++)
            if (down[b] != PadSlotHeld(slot, b)) PostPad(down[b] ? INPUT_PAD_DOWN : INPUT_PAD_UP, slot, b);
        for (int a = 0; a < PAD_AXES; a++) {
            // Steps under 1/128 of the travel are not worth an event, but the
            // rest and the ends always are.
            int was = PadSlotAxis(slot, a), v = axis[a];
            int step = v > was ? v - was : was - v;
            if (step >= 256 || (v != was && (v == 0 || v <= -32767 || v >= 32767)))
                PostPad(INPUT_PAD_AXIS, slot, a, v);
        }
    }
}

// --virtual-pad: scripted pad lines work an SDL virtual game controller, so
// that a test goes through SDL's mapping and this file's reading as a real
// pad would. "plug" attaches it, "unplug" detaches it.
int VirtualPadIndex() {
    if (!g_virtualPad) return -1;
    SDL_JoystickID id = SDL_JoystickInstanceID(g_virtualPad);
    for (int i = 0, n = SDL_NumJoysticks(); i < n; i++)
        if (SDL_JoystickGetDeviceInstanceID(i) == id) return i;
    return -1;
}

bool ScriptedPad(const InputEvent& e) {
    if (!StartPads()) return false;  // no pads here: the event goes to the tables as it is
    if (e.type == INPUT_PAD_GONE) {
        int index = VirtualPadIndex();
        if (g_virtualPad) SDL_JoystickClose(g_virtualPad);
        g_virtualPad = nullptr;
        if (index >= 0) SDL_JoystickDetachVirtual(index);
        return true;
    }
    if (!g_virtualPad) {
        int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, PAD_AXES, PAD_BUTTONS, 0);
        g_virtualPad = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
        if (!g_virtualPad) return true;
        // A trigger's whole travel is the axis's whole range: at rest it
        // is at the bottom.
        SDL_JoystickSetVirtualAxis(g_virtualPad, PAD_TRIGGER_LEFT, -32768);
        SDL_JoystickSetVirtualAxis(g_virtualPad, PAD_TRIGGER_RIGHT, -32768);
    }
    if (e.type == INPUT_PAD_DOWN || e.type == INPUT_PAD_UP)
        SDL_JoystickSetVirtualButton(g_virtualPad, e.code, e.type == INPUT_PAD_DOWN ? SDL_PRESSED : SDL_RELEASED);
    if (e.type == INPUT_PAD_AXIS) {
        int v = e.code >= PAD_TRIGGER_LEFT ? e.x * 2 - 32768 : e.x;
        SDL_JoystickSetVirtualAxis(g_virtualPad, e.code, (Sint16)(v < -32768 ? -32768 : v > 32767 ? 32767 : v));
    }
    return true;
}
}  // namespace

void UseVirtualPad() { g_virtualPadWanted = true; }

namespace gfx {

bool EnsureSdlVideo() {
    // SDL's subsystems are reference-counted and shared with audio and
    // joysticks; video is started once and left running for the process.
    static bool started = false;
    if (!started) started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    return started;
}

int VirtualKeyFromSdl(int scancode, int keycode) {
    // Letters and digits follow the key's label (the keycode), as the
    // virtual-key codes do; a layout whose letters are not Latin falls back
    // to the key's position.
    if (keycode >= 'a' && keycode <= 'z') return keycode - 'a' + 65;
    if (keycode >= '0' && keycode <= '9') return keycode;
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
        // A letter place that types punctuation in this layout (Dvorak's
        // quote key, AZERTY's comma key) is that punctuation key: naming it
        // by position would give it the code of the letter key elsewhere on
        // the board, and the two keys would share one entry of the tables.
        switch (keycode) {
            case ';': return 186;
            case '=': return 187;
            case ',': return 188;
            case '-': return 189;
            case '.': return 190;
            case '/': return 191;
            case '\'': return 192;
            case '[': return 219;
            case '\\': return 220;
            case ']': return 221;
            case '#': return 222;
            case '`': return 223;
            default: return scancode - SDL_SCANCODE_A + 65;
        }
    }
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return scancode - SDL_SCANCODE_1 + 49;
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return scancode - SDL_SCANCODE_F1 + 112;
    if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) return scancode - SDL_SCANCODE_F13 + 124;
    if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) return scancode - SDL_SCANCODE_KP_1 + 97;
    switch (scancode) {
        case SDL_SCANCODE_0: return 48;
        case SDL_SCANCODE_KP_0: return 96;
        case SDL_SCANCODE_BACKSPACE: return 8;
        case SDL_SCANCODE_TAB: return 9;
        case SDL_SCANCODE_CLEAR: return 12;
        case SDL_SCANCODE_KP_CLEAR: return 12;
        case SDL_SCANCODE_RETURN: return 13;
        case SDL_SCANCODE_RETURN2: return 13;
        case SDL_SCANCODE_KP_ENTER: return 13;
        case SDL_SCANCODE_PAUSE: return 19;
        case SDL_SCANCODE_CAPSLOCK: return 20;
        case SDL_SCANCODE_ESCAPE: return 27;
        case SDL_SCANCODE_SPACE: return 32;
        case SDL_SCANCODE_PAGEUP: return 33;
        case SDL_SCANCODE_PAGEDOWN: return 34;
        case SDL_SCANCODE_END: return 35;
        case SDL_SCANCODE_HOME: return 36;
        case SDL_SCANCODE_LEFT: return 37;
        case SDL_SCANCODE_UP: return 38;
        case SDL_SCANCODE_RIGHT: return 39;
        case SDL_SCANCODE_DOWN: return 40;
        case SDL_SCANCODE_SELECT: return 41;
        case SDL_SCANCODE_EXECUTE: return 43;
        case SDL_SCANCODE_PRINTSCREEN: return 44;
        case SDL_SCANCODE_INSERT: return 45;
        case SDL_SCANCODE_DELETE: return 46;
        case SDL_SCANCODE_HELP: return 47;
        case SDL_SCANCODE_LGUI: return 91;
        case SDL_SCANCODE_RGUI: return 92;
        case SDL_SCANCODE_APPLICATION: return 93;
        case SDL_SCANCODE_KP_MULTIPLY: return 106;
        case SDL_SCANCODE_KP_PLUS: return 107;
        case SDL_SCANCODE_KP_MINUS: return 109;
        case SDL_SCANCODE_KP_PERIOD: return 110;
        case SDL_SCANCODE_KP_DECIMAL: return 110;
        case SDL_SCANCODE_KP_DIVIDE: return 111;
        case SDL_SCANCODE_NUMLOCKCLEAR: return 144;
        case SDL_SCANCODE_SCROLLLOCK: return 145;
        case SDL_SCANCODE_LSHIFT: return 160;
        case SDL_SCANCODE_RSHIFT: return 161;
        case SDL_SCANCODE_LCTRL: return 162;
        case SDL_SCANCODE_RCTRL: return 163;
        case SDL_SCANCODE_LALT: return 164;
        case SDL_SCANCODE_RALT: return 165;
        case SDL_SCANCODE_MUTE: return 173;
        case SDL_SCANCODE_AUDIOMUTE: return 173;
        case SDL_SCANCODE_VOLUMEDOWN: return 174;
        case SDL_SCANCODE_VOLUMEUP: return 175;
        case SDL_SCANCODE_AUDIONEXT: return 176;
        case SDL_SCANCODE_AUDIOPREV: return 177;
        case SDL_SCANCODE_AUDIOSTOP: return 178;
        case SDL_SCANCODE_AUDIOPLAY: return 179;
        // Punctuation by position, named as on a UK keyboard: the key right
        // of L is ";", the next "'" (192), the key by Return "#" (222), the
        // key left of 1 the backtick (223), the extra key by left Shift the
        // backslash (226).
        case SDL_SCANCODE_SEMICOLON: return 186;
        case SDL_SCANCODE_EQUALS: return 187;
        case SDL_SCANCODE_COMMA: return 188;
        case SDL_SCANCODE_MINUS: return 189;
        case SDL_SCANCODE_PERIOD: return 190;
        case SDL_SCANCODE_SLASH: return 191;
        case SDL_SCANCODE_APOSTROPHE: return 192;
        case SDL_SCANCODE_LEFTBRACKET: return 219;
        case SDL_SCANCODE_BACKSLASH: return 220;
        case SDL_SCANCODE_RIGHTBRACKET: return 221;
        case SDL_SCANCODE_NONUSHASH: return 222;
        case SDL_SCANCODE_GRAVE: return 223;
        case SDL_SCANCODE_NONUSBACKSLASH: return 226;
        default: return 0;
    }
}

namespace {
void Post(InputEventType type, int code = 0, int x = 0, int y = 0, bool repeat = false) {
    InputEvent e{type};
    e.code = code, e.x = x, e.y = y, e.repeat = repeat;
    PostInputEvent(e);
}

// UTF-8 text from SDL into UTF-16 code units, one character event each.
void PostText(const char* s) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        uint32_t cp;
        int extra;
        if (*p < 0x80) cp = *p, extra = 0;
        else if ((*p & 0xE0) == 0xC0) cp = *p & 0x1F, extra = 1;
        else if ((*p & 0xF0) == 0xE0) cp = *p & 0x0F, extra = 2;
        else if ((*p & 0xF8) == 0xF0) cp = *p & 0x07, extra = 3;
        else { ++p; continue; }  // stray continuation byte
        ++p;
        bool ok = true;
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (*p & 0x3F);
            ++p;
        }
        if (!ok || cp > 0x10FFFF) continue;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            Post(INPUT_CHAR, 0xD800 + (int)(cp >> 10));
            Post(INPUT_CHAR, 0xDC00 + (int)(cp & 0x3FF));
        } else {
            Post(INPUT_CHAR, (int)cp);
        }
    }
}

int MouseButton(Uint8 b) {
    switch (b) {
        case SDL_BUTTON_LEFT: return 1;
        case SDL_BUTTON_RIGHT: return 2;
        case SDL_BUTTON_MIDDLE: return 3;
        default: return 0;
    }
}

#ifdef __EMSCRIPTEN__
// ------------------------------------------------- the page's own input ---
// A page cannot warp the pointer, so while a game runs it holds a Pointer
// Lock: SDL then reports relative motion and keeps its own pointer inside
// the canvas, which the game draws. The browser ends the lock on Escape
// without always passing the key on; that pauses the game as Escape does.
// Touch: a finger steers (the pointer follows it), a short tap is a click
// of the left button, and a second finger held is the right button.

bool g_holdWanted = false;
bool g_locked = false;
int g_escapeUpAt = 0;   // PeekMillisecs when an injected Escape is released
bool g_escapeInjected = false;
int g_lastEscapeAt = -100000;

SDL_FingerID g_steerFinger = -1, g_netFinger = -1;
int g_steerDownAt = 0;
float g_steerStartX = 0, g_steerStartY = 0;
bool g_tapPending = false;
int g_tapUpAt = 0;

bool g_wasFullScreen = false, g_fullScreenLeft = false;

bool FullScreenLeftWeb() {
    bool left = g_fullScreenLeft;
    g_fullScreenLeft = false;
    return left;
}

void HoldPointerWeb(bool on) {
    if (on == g_holdWanted) return;
    g_holdWanted = on;
    SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE);
}

bool PointerLocked() {
    EmscriptenPointerlockChangeEvent st;
    return emscripten_get_pointerlock_status(&st) == EMSCRIPTEN_RESULT_SUCCESS && st.isActive;
}

void FingerToWindow(float fx, float fy, int& x, int& y) {
    int w = 0, h = 0;
    SDL_GetWindowSize(static_cast<SDL_Window*>(GlWindow()), &w, &h);
    x = (int)(fx * (float)w);
    y = (int)(fy * (float)h);
}

// Called before each pump: the lock's state and the releases that follow
// injected presses a frame or more later (a press and its release in one
// pump would never be seen as held).
void WebBeforePump() {
    int now = PeekMillisecs();
    bool locked = PointerLocked();
    if (g_locked && !locked && g_holdWanted && MsDiff(now, g_lastEscapeAt) > 250 && !KeyIsDown(27)) {
        Post(INPUT_KEY_DOWN, 27);
        g_escapeInjected = true;
        g_escapeUpAt = now + 50;
    }
    g_locked = locked;
    EmscriptenFullscreenChangeEvent fs;
    bool full = emscripten_get_fullscreen_status(&fs) == EMSCRIPTEN_RESULT_SUCCESS && fs.isFullscreen;
    if (g_wasFullScreen && !full) g_fullScreenLeft = true;
    g_wasFullScreen = full;
    if (g_escapeInjected && MsReached(now, g_escapeUpAt)) {
        Post(INPUT_KEY_UP, 27);
        g_escapeInjected = false;
    }
    if (g_tapPending && MsReached(now, g_tapUpAt)) {
        Post(INPUT_MOUSE_UP, 1);
        g_tapPending = false;
    }
}

// True when the event was the page's own input and is used up.
bool WebEvent(const SDL_Event& ev) {
    switch (ev.type) {
        case SDL_MOUSEMOTION:
            return ev.motion.which == SDL_TOUCH_MOUSEID;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            return ev.button.which == SDL_TOUCH_MOUSEID;
        case SDL_KEYDOWN:
            if (ev.key.keysym.scancode == SDL_SCANCODE_ESCAPE) g_lastEscapeAt = PeekMillisecs();
            return false;
        case SDL_FINGERDOWN: {
            int x, y;
            FingerToWindow(ev.tfinger.x, ev.tfinger.y, x, y);
            if (g_steerFinger < 0) {
                g_steerFinger = ev.tfinger.fingerId;
                g_steerDownAt = PeekMillisecs();
                g_steerStartX = ev.tfinger.x, g_steerStartY = ev.tfinger.y;
                Post(INPUT_MOUSE_MOVE, 0, x, y);
            } else if (g_netFinger < 0) {
                g_netFinger = ev.tfinger.fingerId;
                Post(INPUT_MOUSE_DOWN, 2);
            }
            return true;
        }
        case SDL_FINGERMOTION:
            if (ev.tfinger.fingerId == g_steerFinger) {
                int x, y;
                FingerToWindow(ev.tfinger.x, ev.tfinger.y, x, y);
                Post(INPUT_MOUSE_MOVE, 0, x, y);
            }
            return true;
        case SDL_FINGERUP:
            if (ev.tfinger.fingerId == g_netFinger) {
                g_netFinger = -1;
                Post(INPUT_MOUSE_UP, 2);
            } else if (ev.tfinger.fingerId == g_steerFinger) {
                g_steerFinger = -1;
                // A short touch that hardly moved is a tap: a click, held
                // long enough for the next frame to see it.
                float dx = ev.tfinger.x - g_steerStartX, dy = ev.tfinger.y - g_steerStartY;
                if (MsDiff(PeekMillisecs(), g_steerDownAt) < 300 && dx * dx + dy * dy < 0.0009f &&
                    !g_tapPending) {
                    Post(INPUT_MOUSE_DOWN, 1);
                    g_tapPending = true;
                    g_tapUpAt = PeekMillisecs() + 50;
                }
            }
            return true;
        default:
            return false;
    }
}
#endif

void Pump() {
    if (!GlIsOpen()) return;
    Uint32 id = GlWindowId();
    SDL_Event ev;
#ifdef __EMSCRIPTEN__
    WebBeforePump();
#endif
    while (SDL_PollEvent(&ev)) {
#ifdef __EMSCRIPTEN__
        if (WebEvent(ev)) continue;
#endif
        switch (ev.type) {
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                if (ev.key.windowID != id) break;
                int vk = VirtualKeyFromSdl(ev.key.keysym.scancode, ev.key.keysym.sym);
                if (!vk) break;
                if (ev.type == SDL_KEYUP) {
                    Post(INPUT_KEY_UP, vk);
                    break;
                }
                Post(INPUT_KEY_DOWN, vk, 0, 0, ev.key.repeat != 0);
                // These keys type control characters, repeats included, as
                // they do in a text field; text input does not report them.
                if (vk == 8 || vk == 9 || vk == 13 || vk == 27) Post(INPUT_CHAR, vk);
                break;
            }
            case SDL_TEXTINPUT:
                if (ev.text.windowID == id) PostText(ev.text.text);
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                if (ev.button.windowID != id) break;
                int b = MouseButton(ev.button.button);
                if (!b) break;
                Post(INPUT_MOUSE_MOVE, 0, ev.button.x, ev.button.y);
                Post(ev.type == SDL_MOUSEBUTTONDOWN ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP, b);
                break;
            }
            case SDL_MOUSEMOTION:
                if (ev.motion.windowID == id) Post(INPUT_MOUSE_MOVE, 0, ev.motion.x, ev.motion.y);
                break;
            case SDL_MOUSEWHEEL:
                if (ev.wheel.windowID == id) {
                    int d = ev.wheel.y;
                    if (ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) d = -d;
                    Post(INPUT_WHEEL, d);
                }
                break;
            // A pad came or went: the pads are opened or let go at the next
            // poll, and the program counts its joysticks again. (A page sees
            // a gamepad only after its first press there.)
            case SDL_JOYDEVICEADDED:
            case SDL_JOYDEVICEREMOVED:
                g_padsSynced = false;
                Post(INPUT_JOYSTICKS_CHANGED);
                break;
            case SDL_WINDOWEVENT:
                if (ev.window.windowID != id) break;
                if (ev.window.event == SDL_WINDOWEVENT_FOCUS_LOST) Post(INPUT_SUSPEND);
                else if (ev.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) Post(INPUT_RESUME);
                break;
            default:
                // The close request (SDL_QUIT, window close) is ignored: the
                // program leaves only from its title screen.
                break;
        }
    }
    PollPads();
}

void Warp(int x, int y) {
    if (GlIsOpen()) SDL_WarpMouseInWindow(static_cast<SDL_Window*>(GlWindow()), x, y);
}

void Hide() {
    if (GlIsOpen()) SDL_ShowCursor(SDL_DISABLE);
}
}  // namespace

void InstallSdlInputHooks() {
    PlatformHooks h;
    h.pump = Pump;
    h.warpMouse = Warp;
    h.hideMouse = Hide;
    if (g_virtualPadWanted) h.scriptedPad = ScriptedPad;
#ifdef __EMSCRIPTEN__
    h.holdPointer = HoldPointerWeb;
    h.fullScreenLeft = FullScreenLeftWeb;
#endif
    InstallPlatformHooks(h);
    SDL_StartTextInput();
}

void RemoveSdlInputHooks() { InstallPlatformHooks(PlatformHooks{}); }

}  // namespace gfx

// ------------------------------------------------------------- joysticks ---

namespace {
struct Joy {
    SDL_Joystick* dev = nullptr;
    std::string name;
    float axes[6] = {0, 0, 0, 0, 0, 0};
    float hat = -1;
    uint32_t buttons = 0;
};
std::vector<Joy> g_joys;
bool g_joyStarted = false;

// Re-reads one device; a device that stopped answering keeps its last state.
Joy* Poll(int port) {
    if (port < 0 || port >= (int)g_joys.size()) return nullptr;
    Joy& j = g_joys[port];
    if (!j.dev) return &j;
    SDL_JoystickUpdate();
    if (!SDL_JoystickGetAttached(j.dev)) return &j;
    int naxes = SDL_JoystickNumAxes(j.dev);
    for (int a = 0; a < 6 && a < naxes; ++a) {
        int v = SDL_JoystickGetAxis(j.dev, a);
        j.axes[a] = v < 0 ? v / 32768.0f : v / 32767.0f;
    }
    if (SDL_JoystickNumHats(j.dev) > 0) {
        Uint8 h = SDL_JoystickGetHat(j.dev, 0);
        // Hundredths of a degree clockwise from up, as a fraction of a turn.
        switch (h) {
            case SDL_HAT_UP: j.hat = 0.0f; break;
            case SDL_HAT_RIGHTUP: j.hat = 4500 / 36000.0f; break;
            case SDL_HAT_RIGHT: j.hat = 9000 / 36000.0f; break;
            case SDL_HAT_RIGHTDOWN: j.hat = 13500 / 36000.0f; break;
            case SDL_HAT_DOWN: j.hat = 18000 / 36000.0f; break;
            case SDL_HAT_LEFTDOWN: j.hat = 22500 / 36000.0f; break;
            case SDL_HAT_LEFT: j.hat = 27000 / 36000.0f; break;
            case SDL_HAT_LEFTUP: j.hat = 31500 / 36000.0f; break;
            default: j.hat = -1.0f; break;
        }
    }
    uint32_t bits = 0;
    int nb = SDL_JoystickNumButtons(j.dev);
    for (int b = 0; b < nb && b < 32; ++b)
        if (SDL_JoystickGetButton(j.dev, b)) bits |= 1u << b;
    j.buttons = bits;
    return &j;
}
}  // namespace

namespace {
// The platform's answers. The public queries below pass them through the
// run journal: a recorded run journals each answer, and a replay answers
// from the journal without touching any device.
int32_t AskJoystickCount(int, int) {
    if (g_joyIgnored) return 0;
    if (!g_joyStarted) {
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return 0;
        // Joysticks are polled by the queries; their motion and button events
        // would only fill the queue. Arrivals still come through (the page
        // counts again on them).
        for (Uint32 type : {SDL_JOYAXISMOTION, SDL_JOYBALLMOTION, SDL_JOYHATMOTION, SDL_JOYBUTTONDOWN,
                            SDL_JOYBUTTONUP})
            SDL_EventState(type, SDL_IGNORE);
        g_joyStarted = true;
    }
    for (Joy& j : g_joys)
        if (j.dev) SDL_JoystickClose(j.dev);
    g_joys.clear();
    SDL_JoystickUpdate();
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n && (int)g_joys.size() < 256; ++i) {
        SDL_Joystick* dev = SDL_JoystickOpen(i);
        if (!dev) continue;  // a device that does not answer is not counted
        Joy j;
        j.dev = dev;
        const char* name = SDL_JoystickName(dev);
        j.name = name ? name : "";
        g_joys.push_back(j);
    }
    return (int)g_joys.size();
}

int32_t AskButtonMask(int port, int) {
    if (port < 0 || port >= (int)g_joys.size() || !g_joys[port].dev) return 0;
    int n = SDL_JoystickNumButtons(g_joys[port].dev);
    if (n <= 0) return 0;
    // Only 32 buttons fit the mask; more must not shift past its width.
    if (n >= 32) return (int)0xFFFFFFFFu;
    return (int)((1u << n) - 1);
}

int32_t AskButtonDown(int button, int port) {
    Joy* j = Poll(port);
    if (!j || button < 0 || button > 31) return 0;
    return (j->buttons >> button) & 1;
}

// Floats travel through the journal as their bit patterns, exactly.
int32_t FloatBits(float f) {
    int32_t v;
    std::memcpy(&v, &f, sizeof v);
    return v;
}
float BitsFloat(int32_t v) {
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}

int32_t AskAxis(int port, int a) {
    Joy* j = Poll(port);
    return FloatBits(j ? j->axes[a] : 0.0f);
}

int32_t AskHat(int port, int) {
    Joy* j = Poll(port);
    return FloatBits(j ? j->hat : -1.0f);
}
}  // namespace

int JoystickCount() { return JournalValue(AskJoystickCount, 0, 0); }
void IgnoreJoysticks() { g_joyIgnored = true; }

// Only shown, never acted on, so not journaled: a replay has no names.
std::string JoystickName(int port) {
    return port >= 0 && port < (int)g_joys.size() ? g_joys[port].name : std::string();
}

int JoystickButtonMask(int port) { return JournalValue(AskButtonMask, port, 0); }
int JoystickButtonDown(int button, int port) { return JournalValue(AskButtonDown, button, port); }
float JoystickX(int port) { return BitsFloat(JournalValue(AskAxis, port, 0)); }
float JoystickY(int port) { return BitsFloat(JournalValue(AskAxis, port, 1)); }
float JoystickZ(int port) { return BitsFloat(JournalValue(AskAxis, port, 2)); }
float JoystickR(int port) { return BitsFloat(JournalValue(AskAxis, port, 3)); }
float JoystickU(int port) { return BitsFloat(JournalValue(AskAxis, port, 4)); }
float JoystickV(int port) { return BitsFloat(JournalValue(AskAxis, port, 5)); }
float JoystickHat(int port) { return BitsFloat(JournalValue(AskHat, port, 0)); }

#include "screens/binding.h"

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "screens/settings.h"
#include "shell/display.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace {
struct NamedKey {
    int code;
    const char* name;
};
const NamedKey KeyTable[] = {
    {1, "Left Mousebutton"}, {2, "Right Mousebutton"}, {3, "Middle Mousebutton"},
    {8, "Backspace"}, {9, "Tab"}, {12, "Clear"}, {13, "Return"}, {19, "Pause"}, {20, "CapsLock"},
    {27, "Escape"}, {32, "Space"},
    {33, "Page Up"}, {34, "Page Down"}, {35, "End"}, {36, "Home"},
    {37, "Left"}, {38, "Up"}, {39, "Right"}, {40, "Down"},
    {41, "Select"}, {42, "Print"}, {43, "Execute"}, {44, "Screen"}, {45, "Insert"}, {46, "Delete"},
    {91, "Sys Left"}, {92, "Sys Right"},
    {106, "*"}, {107, "+"}, {109, "-"}, {110, "."}, {111, "/"},
    {144, "NumLock"}, {145, "ScrollLock"},
    {160, "LShift"}, {161, "RShift"}, {162, "LControl"}, {163, "RControl"}, {164, "LAlt"}, {165, "RAlt"},
    {173, "Mute"}, {174, "Volume Down"}, {175, "Volume Up"},
    {186, ";"}, {187, "="}, {188, ","}, {189, "-"}, {190, "."}, {191, "/"}, {192, "'"},
    {219, "["}, {221, "]"}, {222, "#"}, {223, "`"}, {220, "\\"}, {226, "\\"},
};

// Names of the joystick offsets below 30 (axes and hat directions).
const char* JoyOffsetName(int r) {
    static const char* axes[12] = {"Y-", "Y+", "X-", "X+", "Z-", "Z+", "U-", "U+", "V-", "V+", "R-", "R+"};
    if (r >= 0 && r < 12) return axes[r];
    switch (r) {
    case 20: return "Up";
    case 23: return "Left";
    case 25: return "Right";
    case 28: return "Down";
    }
    return nullptr;
}

// Axis readers in the order capture tests them, each with its rest table
// (JoyRest holds X, Y, Z, R, U, V).
struct AxisTest {
    float (*read)(int port);
    int rest;
};
const AxisTest CaptureAxes[6] = {{JoystickY, 1}, {JoystickX, 0}, {JoystickZ, 2},
                                 {JoystickU, 4}, {JoystickV, 5}, {JoystickR, 3}};
}  // namespace

std::string KeyName(int code) {
    for (const NamedKey& k : KeyTable)
        if (k.code == code) return k.name;
    if (code >= 48 && code <= 57) return std::string(1, (char)('0' + code - 48));
    if (code >= 65 && code <= 90) return std::string(1, (char)code);
    // Keypad digits read like the main digits.
    if (code >= 96 && code <= 105) return std::string(1, (char)('0' + code - 96));
    if (code >= 112 && code <= 123) return "F" + std::to_string(code - 111);
    int r = code % 50;
    if (const char* n = JoyOffsetName(r)) return n;
    return std::to_string(r - 30);
}

int CaptureBinding() {
    // The screenshot and settings keys can never be bound.
    if (KeyIsDown(122) || KeyIsDown(123)) return 0;
    for (int k = 1; k <= 255; k++)
        if (KeyIsDown(k)) return k;
    for (int j = 1; j <= JoyCount && j <= 4; j++) {
        if (JoyEnabled[j] == 0) continue;
        int base = j * 50 + 250;
        for (int off = 0; off < 12; off++)
            if (JoystickCodeDown(base + off)) return base + off;
        for (int off : {20, 25, 28, 23})
            if (JoystickCodeDown(base + off)) return base + off;
        for (int b = 0; b <= 18; b++)
            if (JoystickCodeDown(base + 30 + b)) return base + 30 + b;
    }
    return 0;
}

void BindingButton(int slot, int x, int y) {
    if (slot < 0 || slot > 100) return;
    int v = Keys[slot];
    float lit = 0;
    if (MouseInRect(x, y, 48, 48) && PanelOffset >= 0) {
        lit = 1;
        int c = CaptureBinding();
        if (c > 8) Keys[slot] = c;
        if (c == 8) Keys[slot] = 0;  // Backspace unbinds
    }
    if (KeyCodeDown(Keys[slot])) lit = 1;

    // The layout follows the binding the button had on entry; a binding
    // changed this frame shows its new name and takes its layout next frame.
    int frame = 0, tx = x + 24, ty = y + 24;
    std::string name = KeyName(Keys[slot]);
    if (v == 0) {
        frame = 3;
        name = "?!";
    } else if (v > 8 && v < 255) {
        frame = 3;
    } else if (v > 299) {
        int r = v % 50;
        if (r < 12) frame = 9, tx = x, ty = y;
        else if (r > 19 && r < 30) frame = 8, tx = x, ty = y;
        else if (r > 29) frame = 10;
    }
    if (frame == 0) return;
    SetDrawScale(3);
    DrawGlowSprite(IconSheet, x, y, frame, IconSheetSmooth, 1.1f, lit);
    SetDrawScale(1);
    DrawTextAligned(tx, ty, name, 1, 1);
}

int JoystickCodeDown(int code) {
    if (code < 300) return 0;
    int j = (code - 250) / 50, off = (code - 250) % 50;
    if (j < 1 || j > 4 || j > JoyCount || JoyEnabled[j] == 0) return 0;
    int port = j - 1;
    if (off < 12) {
        // Past the rest value read at start-up by more than 0.3, below for
        // even offsets and above for odd ones.
        const AxisTest& axis = CaptureAxes[off / 2];
        float v = axis.read(port), rest = JoyRest[axis.rest][j];
        return (off % 2 == 0 ? v < rest - 0.3f : v > rest + 0.3f) ? 1 : 0;
    }
    if (off == 20 || off == 23 || off == 25 || off == 28) {
        // A hat that read a direction at start-up may be stuck there; it
        // would bind itself the moment the pointer touched a button, and
        // hold its control for ever.
        if (JoyHatCentred[j] != 1) return 0;
        float want = off == 20 ? 0.0f : off == 25 ? 0.25f : off == 28 ? 0.5f : 0.75f;
        return JoystickHat(port) == want ? 1 : 0;
    }
    // Only buttons 0..18 have codes (30 + b stays below the next joystick's
    // range); the device's mask may claim up to 32 buttons, and a negative
    // mask (all 32 bits) claims none.
    int b = off - 30;
    if (b < 0 || (long long)b > (long long)JoyButtons[j] - 1) return 0;
    return JoystickButtonDown(b, port) ? 1 : 0;
}

int KeyCodeDown(int code) { return code >= 10 && code <= 254 && KeyIsDown(code) ? 1 : 0; }

int ControlKeyHeldNow(int c) {
    if (c < 0 || c > 19) return 0;
    int code = Keys[c];
    return code >= 10 && code <= 254 && KeyHeldNow(code) ? 1 : 0;
}

int ControlDown(int c, int p) {
    int slot = (p - 1) * 20 + c;
    if (slot < 0 || slot > 100) return 0;
    return KeyCodeDown(Keys[slot]) || JoystickCodeDown(Keys[slot]) ? 1 : 0;
}

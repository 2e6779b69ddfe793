#include "screens/settings.h"

#include <cstdio>
#include <cstdlib>

#include "media/audio.h"
#include "media/graphics.h"
#include "media/system.h"
#include "screens/binding.h"
#include "screens/helpers.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

int PanelOffset = -300;

namespace {
// Set while "Apply" re-opens the display. The performance test that follows
// ends its frames through the frame hub, which draws this panel again while
// it slides away; a click on its "Apply" then must not start a second
// display change inside the first.
bool g_applying = false;

// The display could not be opened at all after "Apply", not even in the
// 800 x 600 window: end the way a start-up without a display ends, keeping
// the player's configuration and scores. Nothing can be drawn any more.
[[noreturn]] void EndWithoutDisplay() {
    SaveSetup();
    WriteScoreFile();
    LogLine("\tNo display: ending");
    CloseLog();
    ShutdownAudio();
    EndProcess(1);
}

void ApplyDisplayChange() {
    SettingsOpen = 0;
    SaveSetup();
    g_applying = true;
    // The game is suspended inside its own frame while the display re-opens
    // and the performance test runs; as in a pause, PlayState 2 keeps Escape
    // from opening a pause screen whose "Quit" the test's frames would drop.
    int state = PlayState;
    if (PlayState == 1) PlayState = 2;
    bool ok = ApplyGraphicsSettings();
    PlayState = state;
    g_applying = false;
    if (!ok) EndWithoutDisplay();
}

void ControlsBlock(int P) {
    struct Place {
        int control, dx, dy, r, g, b;
    };
    static const Place places[8] = {
        {0, 50, 0, 80, 255, 80},    {3, 0, 50, 80, 255, 80},     {5, 100, 50, 80, 255, 80},
        {8, 50, 50, 80, 255, 80},   {13, 190, 0, 255, 255, 80},  {12, 155, 30, 80, 80, 255},
        {11, 225, 30, 255, 80, 80}, {10, 190, 60, 80, 255, 80},
    };
    int X = 250, Y = P + 10;
    // Keys holds five players' slots; the panel serves at most four.
    int players = MaxPlayers < 4 ? MaxPlayers : 4;
    for (int p = 1; p <= players; p++) {
        int s = (p - 1) * 20;
        for (const Place& b : places) {
            SetTint((float)b.r, (float)b.g, (float)b.b);
            BindingButton(s + b.control, X + b.dx, Y + b.dy);
        }
        Y += 150;
        if (p == 2) {
            Y = P + 10;
            X += 400;
        }
    }
}

void JoystickList(int X, int P) {
    int Y = P + 230;
    for (int j = 1; j <= JoyCount && j <= 4; j++, Y += 15) {
        SetTint(80, 255, 80, 1);
        if (JoystickButtonDown(0, j - 1)) SetTint(255, 255, 80, 1);
        if (JoyEnabled[j] == 0) SetAlpha(0.2f);
        if (MouseInRect(X, Y, TextWidth(JoyNames[j]), 14) && FrameLeftClicks != 0) {
            FrameLeftClicks = 0;
            JoyEnabled[j] = 1 - JoyEnabled[j];
        }
        DrawTextAligned(X, Y, JoyNames[j], 0, 0);
    }
}

// The cursor keys step the resolution only while the pointer is over its
// line. Presses made anywhere else (the pause menu reads the same keys as
// held, not as presses) are forgotten every frame: counted up, they would
// step the resolution unasked at the next hover, and the next toggle would
// save it.
const int CursorKeys[4] = {37, 38, 39, 40};
void DropCursorHits() {
    for (int k : CursorKeys) DropKeyHits(k);
}

int SnapVolume(int v) {
    if (v < 6) return 0;
    if (v > 94) return 100;
    return v;
}
}  // namespace

void StepResolution(int step) {
    // With no mode to choose from the setting stays; a mode index outside
    // the list (0 before any mode matched) steps into it from either end.
    if (ModeCount < 1) return;
    long long s = (long long)Settings[4] + step;
    if (step > 0 && (s > ModeCount || s < 1)) s = 1;
    if (step < 0 && (s < 1 || s > ModeCount)) s = ModeCount;
    Settings[4] = (int)s;
    Settings[5] = ModeWidth[s];
    Settings[6] = ModeHeight[s];
}

int OptionCycler(int setting, int x, int y, int iconBase, const std::string& label0,
                 const std::string& label1, const std::string& label2, const std::string& label3,
                 const std::string& label4, const std::string& label5) {
    if (setting < 0 || setting >= 100) return 0;
    std::string labels[6] = {label0, label1, label2, label3, label4, label5};
    if (label0 == "AUDIO")
        for (int k = 0; k < 6 && k < (int)AudioDriverNames.size(); k++)
            labels[k] = "Audio Driver|" + AudioDriverNames[k];
    int n = 1;
    std::string shown = labels[0];
    for (int k = 1; k <= 5; k++) {
        if (labels[k].empty()) continue;
        n = k + 1;
        if (Settings[setting] == k) shown = labels[k];
    }

    const int P = PanelOffset;
    SetDrawScale(1);
    SetImageFont(Fonts[2]);
    std::string measured = shown;
    size_t bar = shown.find('|');
    if (bar == std::string::npos) {
        DrawTextAligned(x + 38, y + P + 16, shown, 0, 1);
    } else {
        measured = shown.substr(0, bar);
        DrawTextAligned(x + 38, y + P + 8, measured, 0, 1);
        DrawTextAligned(x + 38, y + P + 24, shown.substr(bar + 1), 0, 1);
    }

    SetDrawScale(2);
    int w = TextWidth(measured);
    int frame = iconBase + Settings[setting];
    if (!MouseInRect(x, y + P, w, 32)) DrawSprite(IconSheet, x, y + P, frame, 1);
    int over = 0;
    if (MouseInRect(x, y + P, w + 38, 32)) {
        DrawGlowSprite(IconSheet, x, y + P, frame, IconSheetSmooth, 1.1f, 0.8f);
        if (FrameLeftClicks != 0) {
            // The click is left for the widgets after this one.
            int next = (int)(((long long)Settings[setting] + 1) % n);
            Settings[setting] = next < 0 ? next + n : next;
        }
        over = 1;
    }
    return over;
}

int VolumeSlider(int value, int x, int y, const std::string& label) {
    SetTint(80, 255, 80);
    SetDrawScale(3.1f, 1.5f);
    DrawSprite(IconSheet, x - 2, y, 21, 1);
    DrawSprite(IconSheet, x + 48, y, 22, 1);
    // The knob shows the value on entry; a value from the setup file can be
    // far out of range, so its place is kept within drawable bounds.
    long long knob = (long long)x + value - 9;
    if (knob < -100000) knob = -100000;
    if (knob > 100000) knob = 100000;
    SetTint(255, 80, 80);
    SetDrawScale(1, 1.5f);
    DrawSprite(IconSheet, (int)knob, y, 23, 1);
    SetTint(80, 180, 255);
    if (MouseInRect(x - 2, y - 4, 100, 24) && MouseIsDown(1)) value = FrameMouseX - (x - 2);
    SetDrawScale(1);
    DrawTextAligned(x, y + 20, label + " : " + std::to_string(value), 0, 0);
    return value;
}

void SettingsPanel() {
    FrameLeftClicks = MouseHitCount(1);
    FrameRightClicks = MouseHitCount(2);

    if (SettingsOpen == 1 && PanelOffset < 0) PanelOffset += 32;
    if (SettingsOpen == 0 && PanelOffset > -300) PanelOffset -= 32;
    if (PanelOffset <= -300) {
        DropCursorHits();
        return;
    }
    int P = PanelOffset;
    const int W = ViewWidth;

    SetImageFont(Fonts[2]);
    ResetDrawState();
    SetBlendKind(2);
    SetTint(40, 40, 40, 0.8f);
    DrawRect(0, 0, (float)W, (float)(P + 300));
    SetBlendKind(1);
    SetTint(80, 80, 80, 0.4f);
    DrawRect(0, 0, (float)W, (float)(P + 298));
    SetTint(180, 255, 180, 1);
    DrawRect(0, (float)(P + 298), (float)W, 2);

    // The panel's icons are drawn even when the screen below has used up
    // this frame's sprite budget.
    SpriteCount[1] = 0;
    SpriteCount[2] = 0;

    SetTint(80, 255, 80);
    DrawTextAligned(20, P + 4, "Graphics", 0, 0);
    OptionCycler(1, 20, 30, 13, "Windowed", "Fullscreen");
    int h = OptionCycler(2, 20, 70, 11, "Resolution");
    if (h == 1 || MouseInRect(20, P + 70, 200, 70)) {
        // Every pending hit is taken, so none waits for a later frame.
        int up = KeyHitCount(39) + KeyHitCount(38);
        int down = KeyHitCount(37) + KeyHitCount(40);
        if (up > 0 || FrameLeftClicks != 0) StepResolution(1);
        if (down > 0 || FrameRightClicks != 0) StepResolution(-1);
    } else {
        DropCursorHits();
    }
    DrawTextAligned(20, P + 108, std::to_string(Settings[5]) + "x" + std::to_string(Settings[6]), 0, 0);
    OptionCycler(7, 20, 146, 18, "Draw all Frames|Decent System", "Frameskip|Slow System");
    OptionCycler(3, 20, 184, 18, "OpenGL|Optimum", "DirectX 9|Alternative", "DirectX 7|Backup");

    SetDrawScale(1);
    SetTint(0, 120, 0, 0.5f);
    int tw = TextWidth("Apply");
    int th = TextHeight();
    if (MouseInRect(18, P + 258, tw + 4, th + 4)) {
        DrawRect(18, (float)(P + 258), (float)(tw + 4), (float)(th + 4));
        if (FrameLeftClicks != 0 && !g_applying) {
            FrameLeftClicks = 0;
            ApplyDisplayChange();
            // The display, the fonts and the drawing state are new, and the
            // frames of the performance test have moved the panel on (it is
            // closing); the clicks they sampled are not this pass's.
            FrameLeftClicks = 0;
            FrameRightClicks = 0;
            P = PanelOffset;
            if (P <= -300) return;
            SetImageFont(Fonts[2]);
            ResetDrawState();
        }
    }
    SetTint(80, 255, 80, 1);
    DrawTextAligned(20, P + 260, "Apply", 0, 0);

    if (MouseGame == 0) ControlsBlock(P);

    int X = W - 280;
    SetTint(80, 255, 80, 1);
    OptionCycler(14, X, 20, 24, "AUDIO");
    SetDrawScale(1);
    SetTint(255, 180, 180, 1);
    DrawTextAligned(X, P + 50, "Changes require a Restart", 0, 0);
    Settings[11] = SnapVolume(VolumeSlider(Settings[11], X, P + 70, "Master Volume"));
    Settings[12] = SnapVolume(VolumeSlider(Settings[12], X, P + 120, "Sounds"));
    Settings[13] = SnapVolume(VolumeSlider(Settings[13], X, P + 170, "Music"));
    JoystickList(X, P);
}

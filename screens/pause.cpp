#include "screens/pause.h"

#include <cmath>

#include "media/graphics.h"
#include "media/system.h"
#include "screens/binding.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/startup.h"

namespace {
// The scatter is seeded with the same number every frame, so it stays the
// same picture and only turns and breathes with the frozen game frame.
const int ScatterSeed = 37171650;

bool AnyControl(int c) {
    for (int p = 1; p <= 4; p++)
        if (ControlDown(c, p)) return true;
    return false;
}

// Escape, or a pad's Start, which pauses and resumes as Escape does.
bool EscapeHeld() { return KeyIsDown(27) || PadHeldNow(PAD_START); }

void WaitForEscapeRelease() {
    while (EscapeHeld()) SleepMs(1);
}

void ScatterTitles(int from, int to, float rot) {
    const std::string title = AppTitle();
    for (int i = from; i <= to; i++) {
        SetDrawAngle(rot + 2.0f * (float)i);
        float b = 50.0f * (float)RandomInt(1, 5);
        float g = 50.0f * (float)RandomInt(1, 5);
        float r = 50.0f * (float)RandomInt(1, 5);
        SetTint(r, g, b, 0.4f);
        int y = RandomInt(0, ViewHeight);
        int x = RandomInt(0, ViewWidth);
        DrawTextAligned(x, y, title, 1, 1);
    }
}
}  // namespace

void PauseNavigate(PauseMenu& m, bool up, bool down, bool confirm) {
    if (up && m.latch == 0) {
        m.sel -= 1;
        m.latch = 1;
    }
    if (down && m.latch == 0) {
        m.sel += 1;
        m.latch = 1;
    }
    if (!up && !down && !confirm) m.latch = 0;
    if (m.sel < 0) m.sel = 1;
    if (m.sel > 1) m.sel = 0;
}

void PauseConfirm(PauseMenu& m, bool confirm) {
    if (confirm && m.latch == 0) {
        m.latch = 1;
        m.result = m.sel == 0 ? 1 : 99;
    }
}

int PauseScreen() {
    // The Escape press that paused must not also resume.
    WaitForEscapeRelease();

    // The frame hub calls this before presenting, so the back buffer still
    // holds the game frame just drawn.
    ImageRef frozen = CreateBlankImage(ScreenWidth, ScreenHeight, 1, IMAGE_DYNAMIC);
    CaptureIntoImage(frozen, 0, 0, 0);

    PauseMenu menu;
    float t = 0, rot = 0;
    static const char* items[2] = {"Continue", "Quit"};
    while (menu.result == 0) {
        BeginFrame(1);
        ResetDrawState();
        SetBlendKind(1);

        t += 0.4f;
        const float rad = (float)M_PI / 180.0f;
        float sx = std::sin(t * rad) * 0.5f + 1.5f;
        float sy = std::sin(1.3f * t * rad) * 0.5f + 1.5f;
        SetDrawScale(sx, sy);
        rot += 0.1f;
        SetDrawAngle(rot);
        SetImageFont(Fonts[7]);
        DrawImage(frozen, (float)(ViewWidth / 2), (float)(ViewHeight / 2), 0);

        SeedRandom(ScatterSeed);
        ScatterTitles(1, 140, rot);

        SetDrawAngle(0);
        SetDrawScale(1);
        SetTint(0, 0, 0, 0.5f);
        DrawRect(ViewWidth * 0.1f, ViewHeight * 0.375f, (float)(ViewWidth / 6), (float)(ViewHeight / 4));

        // A pad works the menu with its direction pad or stick, and its
        // south or east button confirms.
        bool up = AnyControl(0) || KeyIsDown(38) || PadHeldNow(PAD_DPAD_UP) || PadAxisNow(PAD_LEFT_Y) < -0.5f;
        bool down = AnyControl(8) || KeyIsDown(40) || PadHeldNow(PAD_DPAD_DOWN) || PadAxisNow(PAD_LEFT_Y) > 0.5f;
        bool confirm =
            AnyControl(10) || AnyControl(11) || KeyIsDown(32) || PadHeldNow(PAD_SOUTH) || PadHeldNow(PAD_EAST);
        PauseNavigate(menu, up, down, confirm);

        int y0 = (int)(ViewHeight * 0.375);
        SetTint(255, 255, 255);
        SetImageFont(Fonts[7]);
        for (int k = 0; k <= 1; k++) {
            SetTint(255, 255, 255, 1);
            int indent = 0;
            if (menu.sel == k) {
                SetTint(255, 255, 0, 1);
                indent = 20;
                PauseConfirm(menu, confirm);
            }
            DrawTextAligned((int)(ViewWidth * 0.1 + indent + 10), y0 + 60 * (k + 1), items[k], 0, 0);
        }

        SetDrawScale(sx, sy);
        ScatterTitles(141, 180, rot);

        FinishFrame(1);
        // A second Escape resumes, unless "Quit" is highlighted.
        if (EscapeHeld()) menu.result = menu.sel == 1 ? 99 : 1;
    }

    SeedRandom(Millisecs());
    WaitForEscapeRelease();
    return menu.result;
}

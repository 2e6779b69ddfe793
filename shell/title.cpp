#include "shell/title.h"

#include <algorithm>
#include <cmath>

#include "game/assets.h"
#include "media/system.h"
#include "screens/binding.h"
#include "screens/helpers.h"
#include "services/online.h"
#include "services/scoretable.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/startup.h"

int SlideIn;
int StartLatch;
int StartHeld;
int BobAngle;

void StartGameFromTitle();  // outer loop, startup.cpp

namespace {
// The start, up and down inputs of keys and pads held on the last frame.
int TitleKeys;
// The daily challenge's entry under the modes: chosen with the keys (right,
// left goes back to the modes), and its click latch (released before it
// acts again).
bool DailyChosen = false;
bool DailyLatch = false;
bool DailyAskedAtStart = false;

// The Daily Challenge entry, shown while games are sent: a click (or start
// while it is chosen) asks the server for today's token in the mode
// chosen; the game starts once the token is there, from its seed. Without
// one the player is told, and no game starts: a daily game played offline
// could not count.
void DailyEntry(int x, int y, bool startPressed) {
    OnlineDailyState state = OnlineDaily();
    if (Options.daily && !DailyAskedAtStart) {
        DailyAskedAtStart = true;
        if (state == DAILY_NONE) OnlineAskDaily(CurrentMode);
        OnlineSettle();
        state = OnlineDaily();
    }
    const char* label = state == DAILY_ASKING ? "Daily Challenge ..." : "Daily Challenge";
    bool over = MouseInRect(x, y, std::max(200, TextWidth("Daily Challenge ...")), 40);
    SetColor(255, 220, 120);
    SetAlpha(over || DailyChosen || state == DAILY_ASKING ? 1.0f : 0.6f);
    DrawText(label, (float)x, (float)y);
    bool ready = PanelOffset < -250 && SlideIn == 32;
    bool clicked = over && MouseIsDown(1) && !DailyLatch && StartLatch == 0;
    if (!MouseIsDown(1)) DailyLatch = false;
    if (ready && state == DAILY_NONE && (clicked || (startPressed && DailyChosen))) {
        DailyLatch = true;
        OnlineAskDaily(CurrentMode);
        OnlineSettle();
        state = OnlineDaily();
    }
    if (state == DAILY_FAILED) {
        std::string why = OnlineDailyTrouble();
        AddMessage("Daily Challenge unavailable: " + why, 0);
        LogLine("\tDaily Challenge unavailable: " + why);
    } else if (state == DAILY_READY && PanelOffset < -250) {
        DailyChosen = false;
        StartGameFromTitle();
        TitleKeys = 15;
    }
}
}  // namespace

void TitleFrame() {
    const int VW = ViewWidth, VH = ViewHeight;
    BeginFrame(1);
    ResetDrawState();
    if (SlideIn < 32) SlideIn++;
    int s = 800 - 25 * SlideIn;

    // Diagonal stripes fading from dark red to dark blue.
    DrawStripes(true);

    // Seven bobbing pods.
    ResetDrawState();
    SetDrawScale(1.5f);
    BobAngle = (BobAngle + 4) % 360;
    static const int colours[7][3] = {{180, 0, 0},   {180, 100, 0}, {180, 180, 0}, {0, 180, 0},
                                      {0, 180, 180}, {0, 0, 180},   {180, 0, 180}};
    for (int k = 0; k < 7; k++) {
        SetColor(colours[k][0], colours[k][1], colours[k][2]);
        SetAlpha(0.8f);
        double a = (BobAngle + 20 * (k + 1)) * M_PI / 180.0;
        int y = (int)(30 + std::sin(a) * 20);
        if (PodImage[1]) DrawGlowSprite(PodImage[1], VW / 2 - 400 + 100 * k, y, 0, PodImage[6], 1.1f, 0.8f);
    }

    // Credits panel sliding in from the left.
    ResetDrawState();
    int w = 320, t = 10;
    if (ScreenWidth < 900) {
        w = 416;
        t = 13;
    }
    SetColor(0, 0, 0);
    SetAlpha(0.6f);
    DrawRect((float)(10 - (w - SlideIn * t)), (float)(VH - 430), (float)w, 422);
    SetColor(255, 255, 255);
    SetAlpha(1);
    for (int j = 1; j <= CreditCount; j++)
        DrawTextAligned(w / 2 + 5 - (w - SlideIn * t), VH - 428 + (j - 1) * 20, Credits[j], 1, 0);

    DrawText("Hit [Tab] for settings", 4, 4);

    DrawScoreTable(SlideIn * 10, CurrentMode, 0, 0);

    if (!Channels[1]) PlayMusicOnSlot(TitleMusic, 1);

    // Start button.
    SetColor(255, 150, 150);
    SetAlpha(1);
    if (MouseInRect(VW / 2 - 200, VH / 2 + s - 40, 400, 80)) {
        SetColor(255, 255, 255);
        if (StartHeld == 1 && StartLatch == 0 && PanelOffset < -250) StartGameFromTitle();
    }
    SetImageFont(Fonts[7]);
    DrawTextAligned(VW / 2, VH / 2 + s, "Click Here to Start", 1, 1);
    StartHeld = MouseIsDown(1);
    if (!StartHeld) StartLatch = 0;

    // Game modes.
    SetImageFont(Fonts[8]);
    static const char* labels[3] = {"Easy", "Medium", "Hard"};
    for (int mode = 0; mode < 3; mode++) {
        int dy = 200 + 50 * mode;
        SetColor(255, 255, 255);
        SetAlpha(CurrentMode == mode ? 1.0f : 0.5f);
        int x = VW / 2 - 100, y = VH / 2 + dy - s;
        DrawText(labels[mode], (float)x, (float)y);
        if (MouseInRect(x, y, 200, 40) && MouseIsDown(1)) CurrentMode = mode;
    }

    // Without a mouse: player 1's bottom button (Z) or a pad's Start starts
    // a game once the start button has slid in, and up and down choose the
    // mode, and right and left go to the daily challenge and back, when it is
    // offered. Each acts on its press, so a key still held when a game ends
    // does nothing.
    bool daily = OnlineSending();
    if (!daily) DailyChosen = false;
    bool dailyStart = false;
    if (Options.steering) {
        int keys = (ControlKeyHeldNow(10) || PadHeldNow(PAD_START) ? 1 : 0) |
                   (ControlKeyHeldNow(0) || PadHeldNow(PAD_DPAD_UP) ? 2 : 0) |
                   (ControlKeyHeldNow(8) || PadHeldNow(PAD_DPAD_DOWN) ? 4 : 0) |
                   (ControlKeyHeldNow(5) || PadHeldNow(PAD_DPAD_RIGHT) ? 8 : 0) |
                   (ControlKeyHeldNow(3) || PadHeldNow(PAD_DPAD_LEFT) ? 16 : 0);
        int pressed = keys & ~TitleKeys;
        TitleKeys = keys;
        if (PanelOffset < -250) {
            if ((pressed & 2) && CurrentMode > 0) CurrentMode--;
            if ((pressed & 4) && CurrentMode < 2) CurrentMode++;
            if ((pressed & 8) && daily) DailyChosen = true;
            if (pressed & 16) DailyChosen = false;
            if ((pressed & 1) && SlideIn == 32 && DailyChosen) {
                dailyStart = true;
            } else if ((pressed & 1) && SlideIn == 32) {
                StartGameFromTitle();
                TitleKeys = 31;
            }
        }
    }
    if (daily) {
        SetImageFont(Fonts[8]);
        DailyEntry(VW / 2 - 100, VH / 2 + 360 - s, dailyStart);
    } else if (Options.daily && !DailyAskedAtStart) {
        DailyAskedAtStart = true;
        AddMessage("Daily Challenge unavailable: games are not being sent", 0);
        LogLine("\tDaily Challenge unavailable: games are not being sent (--scores-server URL turns it on)");
    }

    SetImageFont(Fonts[5]);
    SetColor(255, 255, 255);
    SetAlpha(1);
    DrawTextAligned(VW / 2, VH / 2 - 200 - s, GameTitle, 1, 1);
    SetImageFont(Fonts[6]);
    DrawTextAligned(VW / 2, VH / 2 - 140 + s, GameTagline, 1, 1);
}

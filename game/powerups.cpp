// The net row: up to three caught pods at the bottom left, and the power-up
// their colour classes give once the third is caught.
#include "game/assets.h"
#include "game/assist.h"
#include "game/game.h"
#include "screens/helpers.h"
#include "shell/display.h"

namespace {
// The row's own tints, brighter in places than the segments' colours.
const int RowTint[8][3] = {{0, 0, 0},      {255, 50, 50},  {255, 150, 50}, {255, 255, 50},
                           {50, 255, 50},  {50, 255, 255}, {50, 100, 255}, {255, 50, 255}};
}  // namespace

void EvaluateCaughtPods() {
    GameState& s = Game;
    int c1 = s.CaughtColour[1], c2 = s.CaughtColour[2], c3 = s.CaughtColour[3];
    s.PowerMessage = "Bonus Points";
    int pair = 0;
    if (c1 == c2) pair = c1;
    if (c2 == c3) pair = c2;
    if (c1 == c3) pair = c1;
    int odd = 0;
    if (c1 != pair) odd = c1;
    if (c2 != pair) odd = c2;
    if (c3 != pair) odd = c3;
    auto has = [&](int k) { return c1 == k || c2 == k || c3 == k; };
    if (has(1) && has(2) && has(3)) {
        s.PowerMessage = "Flaming Balls";
        s.FlameTimer = 600;
        pair = 0;
    }
    if (pair == 5 && odd == 6) {
        s.PowerMessage = "Slippery!";
        s.SlipperyTimer = 900;
        pair = 0;
    }
    switch (pair) {
    case 4:
        s.PowerMessage = "Extra Ball";
        AddRestingBall(80, 255, 80);
        s.AutoLaunchTimer = 240;
        break;
    case 2:
        s.PowerMessage = "Growth";
        s.BatWidth += 0.5f;
        if (s.BatWidth > 4) s.BatWidth = 4;
        break;
    case 5:
        s.PowerMessage = "Freeze!!";
        s.FreezeTimer = 600;
        break;
    case 6:
        s.PowerMessage = "Shrinkage";
        s.BatWidth -= 0.5f;
        if (s.BatWidth < 1) s.BatWidth = 1;
        break;
    case 7:
        s.PowerMessage = "Sick!!";
        s.SickTimer = 900;
        break;
    case 1:
        s.PowerMessage = "Love Bat";
        s.LoveBatTimer = 600;
        break;
    case 3:
        s.PowerMessage = "Super Bonus";
        s.GameScore += 2500;
        break;
    default: break;
    }
    if (s.PowerMessage == "Bonus Points") s.GameScore += 100;
}

void NetRow() {
    GameState& s = Game;
    const int H = ViewHeight;
    ResetDrawState();
    SetDrawScale(0.3f);
    for (int i = 1; i <= s.CaughtCount; i++) {
        int k = s.CaughtColour[i];
        if (k < 1 || k > 7) k = 1;
        SetTint((float)RowTint[k][0], (float)RowTint[k][1], (float)RowTint[k][2], 1);
        if (s.CaughtGrow[i] < 60) s.CaughtGrow[i] += 2;
        float glow = 7.2f - (float)(s.CaughtGrow[i] - s.CaughtAge[i] / 2) / 10.0f;
        DrawGlowSprite(PodImage[1], 10, H - 50 - 40 * i, 0, PodImage[6], glow, 0.5f);
        // A little larger than the pod's share: the row's pods are small.
        DrawColourSymbol(k, 10 + 64 * 0.3f, H - 50 - 40 * i + 64 * 0.3f, 0.38f);
        if (s.CaughtCount == 3) {
            if (s.CaughtAge[1] == 0) EvaluateCaughtPods();
            if (s.CaughtAge[i] < 120) s.CaughtAge[i] += 2;
        }
    }
    SetDrawScale(1);
    SetTint(250, 250, 250, 0.7f);
    SetImageFont(Fonts[10]);
    if (s.CaughtCount == 3) DrawTextAligned(100, H - 100, s.PowerMessage, 0, 1);
    if (s.CaughtCount == 3 && s.CaughtAge[1] >= 120) {
        for (int i = 1; i <= 3; i++) s.CaughtAge[i] = s.CaughtGrow[i] = 0;
        s.CaughtCount = 0;
    }
}

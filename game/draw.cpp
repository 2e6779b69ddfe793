// What the game draws beyond its bodies: the drifting background, sparks,
// the wave-clear and tally texts, the WAVE banner, the HUD and "Game Over".
#include <cstdio>
#include <string>

#include "game/assets.h"
#include "game/game.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"

namespace {
void Drift(float& value, float& dir) {
    value += dir * 0.1f;
    if (value < 10) {
        value = 10;
        dir = (float)RandomFloat(0.2, 1);
    }
    if (value > 60) {
        value = 60;
        dir = (float)-RandomFloat(0.2, 1);
    }
}

// The texts are drawn at full size and upright, whatever the bodies drawn
// before them left: at the sparks' scale (0.15) or the bat's flattened one
// they could not be read.
void TextState() {
    SetDrawScale(1);
    SetDrawAngle(0);
}

void Centred(int y, const std::string& text, float r, float g, float b) {
    SetTint(r, g, b, 0.8f);
    DrawTextAligned(ViewWidth / 2, y, text, 1, 1);
}
}  // namespace

void DrawBackground() {
    const int W = ViewWidth, H = ViewHeight;
    SetTint(Game.BackR, Game.BackG, Game.BackB, Game.BackAlpha);
    DrawRect(-2, -2, (float)(W + 2), (float)(H + 2));
    Drift(Game.BackR, Game.BackDirR);
    Drift(Game.BackG, Game.BackDirG);
    Drift(Game.BackB, Game.BackDirB);
}

void SparkPass() {
    const int W = ViewWidth, H = ViewHeight;
    SetDrawScale(0.15f);
    for (auto it = Game.ParticleList.begin(); it != Game.ParticleList.end();) {
        Particle& p = *it;
        p.alp -= 0.025f;
        p.gy += 0.2f;
        p.x += p.gx;
        p.y += p.gy;
        SetTint((float)p.r, (float)p.g, (float)p.b, p.alp);
        DrawSprite(WhiteSquare, Trunc(p.x - 5), Trunc(p.y - 5), 0, 3);
        if (p.x < -32 || p.y < -32 || p.x > (float)(W + 32) || p.y > (float)(H + 32) || p.alp < 0.05f)
            it = Game.ParticleList.erase(it);
        else
            ++it;
    }
}

void DrawClearTexts(int balls) {
    TextState();
    SetImageFont(Fonts[8]);
    Centred(100, "Centipedes Exterminated", 80, 255, 80);
    Centred(140, "Drop the Pods", 180, 255, 80);
    if (balls == 1) Centred(220, "Keep the Ball for Bonus Points", 255, 255, 80);
    if (balls > 1) Centred(220, "Keep the Balls for Bonus Points", 255, 255, 80);
}

void DrawTallyTexts() {
    TextState();
    SetImageFont(Fonts[8]);
    Centred(80, "Wave Complete", 255, 255, 80);
    Centred(180, "Mushroom Bonus", 80, 255, 80);
    Centred(220, std::to_string(Game.MushroomBonusCount) + " x " + "100", 80, 255, 80);
}

void DrawWaveBanner(int s) {
    const int W = ViewWidth, H = ViewHeight;
    char number[16];
    std::snprintf(number, sizeof number, "%02d", Game.WaveNumber);
    TextState();
    SetImageFont(Fonts[10]);
    SetTint(180, 180, 255, 0.8f);
    DrawTextAligned(W / 2 + (s - 60) * 25, H / 2 - 40, std::string("WAVE ") + number, 1, 1);
    SetImageFont(Fonts[11]);
    SetTint(180, 255, 180, 0.8f);
    DrawTextAligned(W / 2 + (60 - s) * 25, H / 2 + 40, Game.RoundTitle, 1, 1);
}

void DrawHud() {
    const int W = ViewWidth, H = ViewHeight;
    ResetDrawState();
    SetImageFont(Fonts[12]);
    SetTint(255, 255, 100, 1);
    DrawTextAligned(W - 4, H - 4, "Balls : " + std::to_string(Game.ReserveBalls), 2, 2);
    SetTint(100, 255, 100, 1);
    DrawTextAligned(W / 2, 4, "Score : " + std::to_string(Game.GameScore), 1, 0);
    SetTint(255, 100, 100, 1);
    DrawTextAligned(4, H - 4, "Pedes : " + std::to_string(Game.CentipedesToSpawn), 0, 2);
}

void DrawGameOver() {
    const int W = ViewWidth, H = ViewHeight;
    PresentFrame(-1, true);
    SetImageFont(Fonts[5]);
    for (int i = -3; i <= 3; i++)
        for (int j = -3; j <= 3; j++) {
            ResetDrawState();
            SetTint(255, 255, 255);
            DrawTextAligned(W / 2 + i, H / 2 + j, "Game Over", 1, 1);
        }
    for (int i = -2; i <= 2; i++)
        for (int j = -2; j <= 2; j++) {
            ResetDrawState();
            SetTint(8, 8, 8);
            DrawTextAligned(W / 2 + i, H / 2 + j, "Game Over", 1, 1);
        }
    ResetDrawState();
    SetTint(255, 255, 0);
    DrawTextAligned(W / 2, H / 2, "Game Over", 1, 1);
    PresentFrame(-1, true);
}

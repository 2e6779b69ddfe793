// The bat (the player's mouse) and the balls it keeps in play.
#include <cmath>

#include "game/assets.h"
#include "game/game.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/startup.h"

namespace {
void ClampBat() {
    const int W = ViewWidth;
    float h = Game.BatWidth / 2;
    if ((float)Game.BatX < h) Game.BatX = Trunc(h);
    if ((float)Game.BatX > (float)W - h) Game.BatX = Trunc((float)W - h);
}
}  // namespace

void UpdateBat() {
    const int W = ViewWidth, H = ViewHeight;
    if (Game.FreezeTimer == 0 && Game.SlipperyTimer == 0) {
        Game.BatX = Trunc((FrameMouseX - 640) * 1.2 + 640);
        ClampBat();
    }
    if (Game.SlipperyTimer > 0) {
        Game.SlipDrift = (float)((W / 2.0 - FrameMouseX) / 20.0);
        Game.BatX = Trunc((float)Game.BatX - Game.SlipDrift);
        ClampBat();
    }
    Game.RestX = Trunc((FrameMouseX - 640) * 1.1 + 640);
    Game.BatLift = CurrentMode == 0 ? (600 - FrameMouseY) / 2 : 15;
    if (Game.BatLift < 15) Game.BatLift = 15;
    if (Game.BatLift > 135) Game.BatLift = 135;

    SetDrawScale(Game.BatWidth, 0.2f);
    float r = 80, g = 255, b = 80;
    if (Game.LoveBatTimer > 0) r = 255, g = 80, b = 80;
    if (Game.FreezeTimer > 0) r = 80, g = 255, b = 255;
    if (Game.SlipperyTimer > 0) r = 255, g = 255, b = 80;
    // Opaque whatever the last body drawn left behind: a ball's faint trail
    // would otherwise leave the bat at a tenth of its brightness.
    SetTint(r, g, b, 1);
    if (Game.BatLostClock == 0)
        DrawGlowSprite(WhiteSquare, Trunc(Game.BatX - 32 * Game.BatWidth), H - (Game.BatLift + 15), 0,
                       WhiteSquareGlow, 1.5f, 0.4f);
}

void BounceOffWalls(Pod& p, float margin) {
    const int W = ViewWidth;
    float cap = (float)Game.PodSpeedCap;
    if (p.y < margin) {
        p.gy = std::fabs(p.gy) + (float)RandomFloat(-1, 1);
        if (p.gy < 3) p.gy = (float)RandomFloat(3, 4);
        if (p.gy > cap) p.gy = (float)RandomFloat(cap, cap + 2);
    }
    if (p.x < margin) {
        p.gx = std::fabs(p.gx) + (float)RandomFloat(-1, 1);
        if (p.gx < 3) p.gx = (float)RandomFloat(3, 4);
        if (p.gx > cap) p.gx = (float)RandomFloat(cap, cap + 2);
    }
    if (p.x > (float)W - margin) {
        p.gx = -std::fabs(p.gx) + (float)RandomFloat(-1, 1);
        if (p.gx > -3) p.gx = (float)RandomFloat(-4, -3);
        if (p.gx < -cap) p.gx = (float)RandomFloat(-cap - 2, -cap);
    }
}

void BatBounce(Pod& p) {
    float cap = (float)Game.PodSpeedCap;
    p.gy = -std::fabs(p.gy) + (float)RandomFloat(-1, 1);
    if (p.gy > -3) p.gy = (float)RandomFloat(-4, -3);
    if (p.gy < -cap) p.gy = (float)RandomFloat(-cap - 2, -cap);
    p.gx = (p.x - (float)Game.BatX) * 0.3f;
    if (p.gx > cap) p.gx = (float)RandomFloat(cap, cap + 2);
    if (p.gx < -cap) p.gx = (float)RandomFloat(-cap - 2, -cap);
}

bool TouchesBat(const Pod& p, const ImageRef& image, float scale) {
    const int H = ViewHeight;
    return ImagesOverlap(image, (float)Trunc(p.x), (float)Trunc(p.y), 0, p.rot, scale, scale, WhiteSquare,
                         (float)Game.BatX, (float)(H - Game.BatLift), 0, 0, 1.1f * Game.BatWidth, 0.4f) &&
           Game.BatLostClock == 0;
}

void UpdateBall(Pod& p) {
    const int H = ViewHeight;
    if (Game.HomingPhase == 1) {
        p.laugh = -1;
        p.x -= (p.x - (float)Game.RestX) / 16;
        p.y -= (p.y - (float)(H - 30)) / 16;
        p.gx = p.gy = 0;
        if (std::fabs(p.x - (float)Game.RestX) < 16 && std::fabs(p.y - (float)(H - 30)) < 16) p.free = 0;
    }

    Game.FrameBalls++;
    Game.FrameLoose++;

    p.wx3 = p.wx2, p.wy3 = p.wy2;
    p.wx2 = p.wx1, p.wy2 = p.wy1;
    p.wx1 = p.x, p.wy1 = p.y;

    p.x += 2 * p.gx;
    p.y += 2 * p.gy;

    BounceOffWalls(p, 24);

    // The flaming colour is drawn every frame, whether or not the sprite is.
    SetDrawAngle(p.rot);
    int rad = 12;
    SetTint((float)p.r, (float)p.g, (float)p.b, 1);
    if (Game.FlameTimer > 0) {
        rad = 32;
        int g = RandomInt(1, 4) * 50;
        int r = RandomInt(4, 5) * 50;
        SetTint((float)r, (float)g, 50, 1);
    }
    SetDrawScale((2 * rad + 1) / 64.0f);
    DrawGlowSprite(WhiteSquare, Trunc(p.x - rad), Trunc(p.y - rad), 0, WhiteSquareGlow, 1.3f, 0.5f);
    SetAlpha(0.5f);
    DrawGlowSprite(WhiteSquare, Trunc(p.wx1 - rad), Trunc(p.wy1 - rad), 0, WhiteSquareGlow, 1.3f, 0.5f);
    SetAlpha(0.25f);
    DrawGlowSprite(WhiteSquare, Trunc(p.wx2 - rad), Trunc(p.wy2 - rad), 0, WhiteSquareGlow, 1.3f, 0.5f);
    SetAlpha(0.1f);
    DrawGlowSprite(WhiteSquare, Trunc(p.wx3 - rad), Trunc(p.wy3 - rad), 0, WhiteSquareGlow, 1.3f, 0.5f);

    if (p.free == 0) {
        if ((MouseIsDown(1) && Game.LaunchLatch == 0) || Game.AutoLaunchTimer == 1) {
            p.free = 1;
            Game.LaunchLatch = 1;
        }
        p.x = (float)Game.RestX;
        p.y = (float)(H - (Game.BatLift + 20));
        p.laugh = 0;
        p.grot = (float)RandomFloat(-4, 4);
        p.rot = 0;
    } else if (p.free == 1) {
        if (p.gy > 0 && Game.LoveBatTimer > 0) p.gx = (float)((FrameMouseX - p.x) / 100.0);
        bool contact = TouchesBat(p, WhiteSquare, 0.4f);
        if (!contact && p.laugh <= 0) p.laugh = 0;
        if (contact && p.laugh > -1) {
            PlaySfx(10);
            p.laugh = -1;
            AddPoints(5, Trunc(p.x), Trunc(p.y), 180, 255, 180);
            BatBounce(p);
            AddSparks(8, p.x, p.y, -8, 8, -8, -2, p.r, p.g, p.b);
        }
    }
}

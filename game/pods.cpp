// Loose pods, the strikes of loose pods and flying balls, mushrooms and the
// net.
#include <cmath>
#include <vector>

#include "game/assets.h"
#include "game/assist.h"
#include "game/broadphase.h"
#include "game/game.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"

void UpdateLoosePod(Pod& p) {
    const int H = ViewHeight;
    PodLook(p);
    Game.FrameLoose++;

    p.x += 2 * p.gx;
    p.y += 2 * p.gy;
    if (p.gy > 0 && Game.LoveBatTimer > 0) p.gx = (float)((FrameMouseX - p.x) / 100.0);

    BounceOffWalls(p, 30);

    if (p.gy > 0 && Game.NetOpen == 1 && Game.BatLostClock == 0 &&
        ImagesOverlap(PodImage[p.health], (float)Trunc(p.x), (float)Trunc(p.y), 0, p.rot, 0.5f, 0.5f, NetImage,
                      (float)FrameMouseX, (float)(H / 2 + 150), 0, 0, Game.NetScale, Game.NetScale)) {
        if (Game.CaughtCount < 3) {
            Game.CaughtCount++;
            p.free = 2;
            Game.CaughtColour[Game.CaughtCount] = ColourClass(p.r, p.g, p.b);
            Game.CaughtGrow[Game.CaughtCount] = 0;
        }
    }

    bool contact = TouchesBat(p, PodImage[p.health], 0.5f);
    if (!contact && p.laugh < 0) p.laugh = 0;
    if (contact && p.laugh > -1) {
        if (p.spike == 1) {
            Game.BatLostClock = 1;
            PlaySfx(18);
        }
        if (p.health < 5) {
            float rate = (float)RandomFloat(0.6, 1.3);
            int id = RandomInt(7, 9);
            PlaySfx(id, rate, 1, 0);
        } else if (p.health == 5) {
            PlaySfx(16);
        }
        p.laugh = -1;
        AddPoints(5 * p.health * p.head, Trunc(p.x), Trunc(p.y), p.r, p.g, p.b);
        p.health++;
        BatBounce(p);
        AddSparks(3 * p.health, p.x, p.y, -8, 8, -8, -2, p.r, p.g, p.b);
    }

    if (p.laugh > 0) p.laugh--;

    const ImageRef& image = p.spike == 1 ? SpikeImage : PodImage[p.health];
    const ImageRef& glow = p.spike == 1 ? SpikeGlow : PodImage[p.health + 5];
    DrawGlowSprite(image, Trunc(p.x - 32), Trunc(p.y - 32), 0, glow, 1.2f, 0.5f);
    if (p.spike == 0) DrawColourSymbol(ColourClass(p.r, p.g, p.b), Trunc(p.x - 32) + 32, Trunc(p.y - 32) + 32, 0.5f);
}

namespace {
void StrikeSound() {
    float rate = (float)RandomFloat(0.6, 1.3);
    int id = RandomInt(1, 6);
    PlaySfx(id, rate, 1, 0);
}

// A velocity component too slow to get clear is pushed to 3..4 its way.
void MinimumSpeed(float& v) {
    if (v > -2 && v <= 0) v = (float)RandomFloat(-4, -3);
    if (v >= 0 && v < 2) v = (float)RandomFloat(3, 4);
}
}  // namespace

void StrikeCheck(Pod& p, int index) {
    for (Mushroom& m : Game.MushroomList) {
        long long dx = Trunc((double)p.x - m.x);
        long long dy = Trunc((double)p.y - m.y);
        if (dx * dx + dy * dy >= 768) continue;
        if (m.h < 5) m.h++;
        if (!(p.ball == 1 && Game.FlameTimer > 0)) {
            p.gx = -p.gx;
            p.gy = -p.gy;
        }
        StrikeSound();
        AddSparks(3, p.x, p.y, -8, 8, -8, 3, p.r, p.g, p.b);
        AddSparks(4, (float)m.x, (float)m.y, -8, 8, -8, 3, m.r, m.g, m.b);
        AddPoints(5, m.x, m.y, m.r, m.g, m.b);
    }

    static std::vector<Pod*> targets;
    long long limit = Game.FlameTimer > 0 ? 4800 : 1200;
    StrikeTargets(p, index, limit, targets);
    for (Pod* qp : targets) {
        Pod& q = *qp;
        int dx = Trunc((double)p.x - (double)q.x);
        int dy = Trunc((double)p.y - (double)q.y);
        AddSparks(3, p.x, p.y, -8, 8, -8, 3, p.r, p.g, p.b);
        AddSparks(3, q.x, q.y, -8, 8, -8, 3, q.r, q.g, q.b);
        StrikeSound();
        AddPoints(5 * p.head, Trunc(p.x), Trunc(p.y), 255, 255, 0);
        // Away from each other along the line between them, at speed 6.
        const double deg = 3.14159265358979323846 / 180.0;
        double a = std::atan2((double)dx, (double)-dy) / deg;
        p.gx = (float)(6 * std::sin(a * deg));
        p.gy = (float)(-6 * std::cos(a * deg));
        q.gx = (float)(-6 * std::sin(a * deg));
        q.gy = (float)(6 * std::cos(a * deg));
        MinimumSpeed(p.gx);
        MinimumSpeed(q.gx);
        MinimumSpeed(p.gy);
        MinimumSpeed(q.gy);
        q.laugh = 15;
        q.free = 1;
        if (RandomInt(0, 5) == 1) {
            Mushroom& m = AddMushroom(Trunc(q.x), Trunc(q.y), q.r, q.g, q.b);
            MushroomAddedDuringPass(m);
        }
    }
}

void MushroomPass() {
    SetDrawScale(0.3f);
    for (auto it = Game.MushroomList.begin(); it != Game.MushroomList.end();) {
        Mushroom& m = *it;
        SetTint((float)m.r, (float)m.g, (float)m.b, 1);
        if (m.h > 0 && m.h < 5)
            DrawGlowSprite(MushroomImage[m.h], m.x - 19, m.y - 19, 0, MushroomImage[m.h + 5], 1.1f, 0.5f);
        if (m.h == 5) it = Game.MushroomList.erase(it);
        else ++it;
    }
}

void UpdateNet() {
    const int H = ViewHeight;
    ResetDrawState();
    SetDrawAngle((float)(FrameMouseX - Game.RestX) * 0.2f);
    SetDrawScale(Game.NetScale);
    // Keep the channels as they are: the net's tint is the background's,
    // rotated, so it always stands out from it.
    SetTint(4 * Game.BackG, 4 * Game.BackB, 4 * Game.BackR, 0.6f);
    DrawGlowSprite(NetImage, Trunc(FrameMouseX - 32 * Game.NetScale), Trunc(H / 2 + 150 - 32 * Game.NetScale), 0,
                   NetGlow, 1.1f, 0.8f);
    if (MouseIsDown(2)) {
        Game.NetOpen = 1;
        Game.NetScale += 0.1f;
        if (Game.NetScale > 1) Game.NetScale = 1;
    } else {
        Game.NetOpen = 0;
        Game.NetScale -= 0.1f;
        if (Game.NetScale < 0.125f) Game.NetScale = 0.125f;
    }
}

// Centipedes: rows of segments that enter from the left and wind down the
// screen. There is no head and no link: every segment follows the same rules
// at the same speed, so a row moves as one body and a knocked-out segment
// just leaves a gap.
#include <cmath>

#include "game/assets.h"
#include "game/assist.h"
#include "game/broadphase.h"
#include "game/game.h"
#include "game/state.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/startup.h"

const int SegmentColours[8][3] = {{0, 0, 0},      {255, 50, 50},  {255, 125, 50}, {255, 255, 50},
                                  {50, 255, 50},  {50, 255, 255}, {50, 80, 255},  {255, 80, 255}};

namespace {
bool SpikeChance() {
    // The chance is drawn only in the modes and waves that have spikes.
    int mode = CurrentMode, wave = Game.WaveNumber;
    if (mode == 0 && wave >= 9) return RandomInt(1, 12) == 1;
    if (mode == 1 && wave >= 5) return RandomInt(1, 8) == 1;
    if (mode == 2) return RandomInt(1, 6) == 1;
    return false;
}
}  // namespace

void SpawnCentipede(int length, int speed) {
    const int H = ViewHeight;
    int phase = RandomInt(-7, 7);
    for (int i = 1; i <= length; i++) {
        Pod p;
        p.x = (float)-(32 * i + 128);
        p.y = Game.WaveNumber % 4 == 0 ? (float)(H / 2 - 96) : 32.0f;
        p.y2 = p.y + (float)RowStep;
        p.free = 0;
        p.spd = (float)speed;
        p.d = 1;
        p.RSpd = (float)speed;
        int k = ((7 * i / length) + phase) % 7;
        if (k < 0) k += 7;
        k += 1;
        p.r = SegmentColours[k][0];
        p.g = SegmentColours[k][1];
        p.b = SegmentColours[k][2];
        p.head = 1;
        p.health = 1;
        p.n = (length - i) * 32;
        if (SpikeChance()) p.spike = 1;
        Game.PodList.push_front(p);
    }
}

// Tint and rush shared by segments and loose pods; the drawing angle and
// scale are set by the pass.
void PodLook(Pod& p) {
    SetDrawScale(0.5f);
    if (Game.GameOverFlag != 0 && p.spd < 72) p.spd += (float)RandomFloat(0.1, 0.4);
    if (p.spike == 1) SetTint(255, 255, 255, 1);
    else SetTint((float)p.r, (float)p.g, (float)p.b, 1);
}

void UpdateSegment(Pod& p) {
    const int W = ViewWidth, H = ViewHeight;
    PodLook(p);

    Game.FrameSegments++;
    if (p.y == 32.0f) Game.EntryRowBusy = 1;

    if (p.falling == 0) {
        p.x += p.spd * p.d;
    } else {
        p.y += p.spd;
        if (p.y > p.y2) {
            p.y = p.y2;
            p.y2 += (float)RowStep;
            p.d = -p.d;
            p.falling = 0;
        }
    }

    if (p.x > (float)(W - MarginX) && p.d > 0) {
        p.x = (float)(W - MarginX);
        p.falling = 1;
    }
    if (p.x < (float)MarginX && p.d < 0) {
        p.x = (float)MarginX;
        p.falling = 1;
    }

    const double pi = 3.14159265358979323846;
    double ripple = 6 * std::sin(((double)Game.FrameNo * p.RSpd * 2 + p.n) * pi / 180.0);
    const ImageRef& image = p.spike == 1 ? SpikeImage : PodImage[p.health];
    const ImageRef& glow = p.spike == 1 ? SpikeGlow : PodImage[p.health + 5];
    DrawGlowSprite(image, Trunc(p.x - 32), Trunc(p.y - 32 + ripple), 0, glow, 1.2f, 0.5f);
    // The pod image is 128 pixels drawn at half size: its centre is 32 in.
    if (p.spike == 0)
        DrawColourSymbol(ColourClass(p.r, p.g, p.b), Trunc(p.x - 32) + 32, Trunc(p.y - 32 + ripple) + 32, 0.5f);

    if (p.falling == 0 && SegmentTouchesMushroom(p)) p.falling = 1;

    if (ImagesOverlap(PodImage[p.health], (float)Trunc(p.x), (float)Trunc(p.y), 0, p.rot, 0.5f, 0.5f,
                      WhiteSquare, (float)Game.BatX, (float)(H - Game.BatLift), 0, 0, Game.BatWidth, 0.2f) &&
        Game.BatLostClock == 0) {
        Game.BatLostClock = 1;
        PlaySfx(18);
    }
}

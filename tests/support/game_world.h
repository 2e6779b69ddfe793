// In-process game runs for tests and benchmarks: a headless display with
// the game's real images, a frame loop without the frame hub's pacing, a
// pointer and buttons the caller sets, and a dense late-wave state.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "game/assets.h"
#include "game/game.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/popups.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/headless.h"

// Opens a 1280 x 960 headless display and loads the game's images from the
// source tree; fixed sprite budgets, frame skipping off, randomness seeded.
inline bool OpenGameWorld() {
    if (!OpenHeadlessDisplay(1280, 960)) return false;
    std::string old = std::filesystem::current_path().string();
    std::filesystem::current_path(std::string(WORMLOB_SOURCE_DIR) + "/Files/418");
    SetAutoCentreHandle(true);
    LoadGameImages();
    std::filesystem::current_path(old);
    MarginX = 24;
    RowStep = 32;
    SpriteBudget[1] = 8000;
    SpriteBudget[2] = 8000;
    SpriteBudget[3] = 4000;
    Settings[7] = 0;
    SeedRandom(12345);
    return PodImage[1] && MushroomImage[1] && WhiteSquare && NetImage;
}

// What the frame hub would sample for the next frame: the pointer in drawing
// coordinates and the buttons held.
struct Driver {
    int x = 640, y = 480;
    bool left = false, right = false;
};

inline void SetButton(int button, bool down) {
    if (down == (MouseIsDown(button) != 0)) return;
    InputEvent e{down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP};
    e.code = button;
    PostInputEvent(e);
}

inline void TapKey(int code) {
    InputEvent e{INPUT_KEY_DOWN};
    e.code = code;
    PostInputEvent(e);
    e.type = INPUT_KEY_UP;
    PostInputEvent(e);
}

// One game frame: steps 1 to 24 with the driver's pointer and buttons, then
// the end of the frame as the hub does it (pop-ups, frame skip phase),
// without pacing or presenting.
inline void StepGame(const Driver& d) {
    FrameMouseX = d.x;
    FrameMouseY = d.y;
    SetButton(1, d.left);
    SetButton(2, d.right);
    GameFrameBody();
    TickPopups();
}

// A crowded late wave: 1,000 segments in rows, 200 mushrooms, 60 loose
// pods, 3 flying balls and 600 sparks.
// A head segment walking its row at speed spd in direction d, in one of
// the segment colours, n frames into its ripple.
inline Pod WalkingSegment(float x, float y, float spd, float d, int colour, int n) {
    Pod p;
    p.x = x;
    p.y = y;
    p.y2 = y + 32;
    p.spd = spd;
    p.RSpd = spd;
    p.d = d;
    p.r = SegmentColours[colour][0];
    p.g = SegmentColours[colour][1];
    p.b = SegmentColours[colour][2];
    p.head = 1;
    p.health = 1;
    p.n = n;
    return p;
}

inline void BuildDenseState() {
    CurrentMode = 1;
    ResetGame();
    GameState& s = Game;
    s.PodList.clear();
    s.WaveNumber = 14;
    s.WaveIntroTimer = 0;
    s.CentipedesToSpawn = 0;
    s.AutoLaunchTimer = 0;
    for (int i = 0; i < 200; i++) {
        int y = RandomInt(90, 870), x = RandomInt(60, 1220);
        AddMushroom(x, y, 200, 150, 100);
    }
    for (int i = 0; i < 1000; i++) {
        int row = i / 40, col = i % 40;
        s.PodList.push_back(WalkingSegment((float)(40 + col * 30 + (row % 2) * 15), (float)(32 + row * 30), 5,
                                           row % 2 ? -1.0f : 1.0f, 1 + i % 7, (i % 20) * 32));
    }
    for (int i = 0; i < 60; i++) {
        Pod p;
        p.x = (float)RandomFloat(60, 1220);
        p.y = (float)RandomFloat(300, 800);
        p.gx = (float)RandomFloat(-4, 4);
        p.gy = (float)RandomFloat(-4, 4);
        p.r = 255, p.g = 255, p.b = 50;
        p.head = 1;
        p.health = 1 + i % 5;
        p.free = 1;
        s.PodList.push_back(p);
    }
    for (int i = 0; i < 3; i++) {
        Pod p;
        p.x = (float)(300 + 300 * i);
        p.y = 700;
        p.gx = 2;
        p.gy = -3;
        p.r = 255, p.g = 255, p.b = 255;
        p.ball = 1;
        p.free = 1;
        s.PodList.push_back(p);
    }
    for (int i = 0; i < 600; i++)
        AddSpark((float)RandomFloat(0, 1280), (float)RandomFloat(0, 400), (float)RandomFloat(-8, 8),
                 (float)RandomFloat(-8, 3), 255, 255, 255);
}

// How a game frame's cost grows with the balls in flight: one frame of the
// game's body (everything before the frame hub) on the null drawing back
// end, from a mid-wave state restored before every iteration (six
// centipedes of 14 segments walking their rows, 40 mushrooms, 100 sparks)
// with N balls flying across the screen, with the grids and with the plain
// loops. Reports the median and 99th percentile per frame.
#include "bench/frame_timing.h"

namespace {
void BuildBallState(int balls) {
    CurrentMode = 2;
    ResetGame();
    GameState& s = Game;
    s.PodList.clear();
    s.WaveNumber = 5;
    s.WaveIntroTimer = 0;
    s.CentipedesToSpawn = 0;
    s.AutoLaunchTimer = 0;
    for (int i = 0; i < 40; i++) AddMushroom(RandomInt(60, 1220), RandomInt(90, 700), 200, 150, 100);
    for (int c = 0; c < 6; c++)
        for (int i = 0; i < 14; i++)
            s.PodList.push_back(WalkingSegment((float)(100 + 60 * c + 32 * i), (float)(64 + 96 * c), 7,
                                               c % 2 ? -1.0f : 1.0f, 1 + i % 7, i * 32));
    for (int i = 0; i < balls; i++) {
        Pod p;
        p.x = (float)RandomFloat(60, 1220);
        p.y = (float)RandomFloat(200, 850);
        p.gx = (float)RandomFloat(-4, 4);
        p.gy = (float)RandomFloat(-4, -2);
        p.r = 255, p.g = 255, p.b = 80;
        p.ball = 1;
        p.free = 1;
        s.PodList.push_back(p);
    }
    for (int i = 0; i < 100; i++)
        AddSpark((float)RandomFloat(0, 1280), (float)RandomFloat(0, 400), (float)RandomFloat(-8, 8),
                 (float)RandomFloat(-8, 3), 255, 255, 255);
}

void BM_FrameWithBalls(benchmark::State& st) {
    static bool open = OpenGameWorld();
    if (!open) {
        st.SkipWithError("no headless display or game images");
        return;
    }
    GameBroadPhase = st.range(1) == 1;
    SeedRandom(777);
    PopupList.clear();
    BuildBallState((int)st.range(0));
    GameState snap = Game;
    int random = RandomState(), sfx = SfxSlot;
    FrameMouseX = 640;
    FrameMouseY = 500;
    TimeGameFrames(st, snap, random, sfx);
}
BENCHMARK(BM_FrameWithBalls)
    ->ArgsProduct({{1, 50, 100, 200, 400, 800}, {1, 0}})
    ->ArgNames({"balls", "grid"})
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);
}  // namespace

BENCHMARK_MAIN();

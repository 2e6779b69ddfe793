// One frame of the game's body (everything before the frame hub) on the
// null drawing back end, from a crowded late-wave state restored before
// every iteration: 1,000 segments, 200 mushrooms, 60 loose pods, 3 balls,
// 600 sparks. Reports the median and 99th percentile per frame, with the
// grids and with the plain loops they replace.
#include "bench/frame_timing.h"

namespace {
struct Snapshot {
    GameState state;
    int random = 0;
    int sfx = 0;
};

void BM_GameFrame(benchmark::State& st) {
    static bool open = OpenGameWorld();
    if (!open) {
        st.SkipWithError("no headless display or game images");
        return;
    }
    GameBroadPhase = st.range(0) == 1;
    SeedRandom(4242);
    PopupList.clear();
    BuildDenseState();
    Snapshot snap{Game, RandomState(), SfxSlot};
    FrameMouseX = 500;
    FrameMouseY = 500;
    TimeGameFrames(st, snap.state, snap.random, snap.sfx);
}
BENCHMARK(BM_GameFrame)->Arg(1)->Arg(0)->ArgNames({"grid"})->Iterations(2000)->Unit(benchmark::kMicrosecond);
}  // namespace

BENCHMARK_MAIN();

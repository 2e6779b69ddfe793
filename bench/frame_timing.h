// The timed loop the game-frame benchmarks share: each iteration restores
// the game, the random state, the effect slot and the pop-ups to the same
// starting point, then times one frame of the game's body alone. Reports
// the median and the 99th percentile per frame, and leaves the grids on.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "game/broadphase.h"
#include "tests/support/game_world.h"

inline void TimeGameFrames(benchmark::State& st, const GameState& start, int random, int sfx) {
    std::vector<double> us;
    for (auto _ : st) {
        st.PauseTiming();
        Game = start;
        SeedRandom(random);
        SfxSlot = sfx;
        PopupList.clear();
        st.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        GameFrameBody();
        auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        st.counters["median_us"] = us[us.size() / 2];
        st.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    GameBroadPhase = true;
}

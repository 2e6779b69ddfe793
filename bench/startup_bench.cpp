// Start-up loading cost: opening the display and loading every common and
// game asset, without the 2.5 s splash hold and without the performance test.
// BM_LoadToTitle's time is the whole load; its counters split it: opening
// the window and GL context (the first opening in the process apart, which
// also starts SDL's video), the common assets with the splash frame, and the
// game's images and music. BM_DecodeTitleMusic is the music alone.
// Run under Xvfb with software GL, from any folder:
//   xvfb-run -a -s "-screen 0 1280x960x24" build/bench/startup_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "game/assets.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/system.h"
#include "shell/display.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace {
void EnterGameFolder() {
    std::filesystem::current_path(std::filesystem::path(WORMLOB_SOURCE_DIR) / "Files" / "418");
    SetDefaultSettings();
    SetAudioDriver("Null");
}

// Milliseconds since t, and t moved to now.
double Lap(std::chrono::steady_clock::time_point& t) {
    auto now = std::chrono::steady_clock::now();
    double ms = std::chrono::duration<double, std::milli>(now - t).count();
    t = now;
    return ms;
}
}  // namespace

static void BM_LoadToTitle(benchmark::State& state) {
    EnterGameFolder();
    double firstWindow = -1, window = 0, common = 0, game = 0;
    for (auto _ : state) {
        auto t = std::chrono::steady_clock::now();
        DisplayReady = 0;  // include the splash frame, as at a real start
        SelectGraphicsBackend(OpenGLBackend(), 2);
        if (!OpenDisplay(800, 600, 0, 60, 0)) {
            state.SkipWithError("no display");
            break;
        }
        SetResolution(1280, 960);
        double w = Lap(t);
        if (firstWindow < 0) firstWindow = w;
        else window += w;
        LoadCommonAssets();
        common += Lap(t);
        LoadGameImagesAndMusic();
        game += Lap(t);
        benchmark::DoNotOptimize(TitleMusic);
        CloseDisplay();
    }
    double n = (double)state.iterations();
    if (n < 1) return;
    state.counters["window_first_ms"] = firstWindow;
    state.counters["window_ms"] = n > 1 ? window / (n - 1) : firstWindow;
    state.counters["common_ms"] = common / n;
    state.counters["game_ms"] = game / n;
}
BENCHMARK(BM_LoadToTitle)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_DecodeTitleMusic(benchmark::State& state) {
    EnterGameFolder();
    for (auto _ : state) {
        SoundRef music = LoadSound("wormlob.ogg", 0);
        if (!music) {
            state.SkipWithError("the music did not load");
            break;
        }
        benchmark::DoNotOptimize(music);
    }
}
BENCHMARK(BM_DecodeTitleMusic)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();

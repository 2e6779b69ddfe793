// Start-up loading cost: opening the display and loading every common and
// game asset, without the 2.5 s splash hold and without the performance test.
// BM_LoadToTitle's time is the whole load; its counters split it, in wall
// and processor time: opening the window and GL context (the first opening
// in the process apart, which also starts SDL's video), the common assets
// with the splash frame, and the game's images and music.
// BM_DecodeTitleMusic is the music alone.
// Run under Xvfb with software GL, from any folder:
//   xvfb-run -a -s "-screen 0 1280x960x24" build/bench/startup_bench
#include <benchmark/benchmark.h>

#include <time.h>

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

// A phase's wall time and the whole process's processor time (the software
// rasteriser's threads included), in milliseconds: on a busy machine the
// wall time also holds the waits for a core, the processor time does not.
struct Clock {
    double wall = 0, cpu = 0;
    static Clock Now() {
        timespec ts;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        auto wall = std::chrono::steady_clock::now().time_since_epoch();
        return {std::chrono::duration<double, std::milli>(wall).count(), ts.tv_sec * 1e3 + ts.tv_nsec / 1e6};
    }
};
struct Phase {
    double wall = 0, cpu = 0;
    // Adds the time since t, and moves t to now.
    void Add(Clock& t) {
        Clock now = Clock::Now();
        wall += now.wall - t.wall;
        cpu += now.cpu - t.cpu;
        t = now;
    }
};
}  // namespace

static void BM_LoadToTitle(benchmark::State& state) {
    EnterGameFolder();
    Phase firstWindow, window, common, game;
    bool first = true;
    for (auto _ : state) {
        Clock t = Clock::Now();
        DisplayReady = 0;  // include the splash frame, as at a real start
        SelectGraphicsBackend(OpenGLBackend(), 2);
        if (!OpenDisplay(800, 600, 0, 60, 0)) {
            state.SkipWithError("no display");
            break;
        }
        SetResolution(1280, 960);
        (first ? firstWindow : window).Add(t);
        first = false;
        LoadCommonAssets();
        common.Add(t);
        LoadGameImagesAndMusic();
        game.Add(t);
        benchmark::DoNotOptimize(TitleMusic);
        CloseDisplay();
    }
    double n = (double)state.iterations();
    if (n < 2) return;
    auto report = [&](const char* name, const Phase& p, double count) {
        state.counters[std::string(name) + "_ms"] = p.wall / count;
        state.counters[std::string(name) + "_cpu_ms"] = p.cpu / count;
    };
    report("window_first", firstWindow, 1);
    report("window", window, n - 1);
    report("common", common, n);
    report("game", game, n);
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

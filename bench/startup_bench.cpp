// Start-up loading cost: opening the display and loading every common and
// game asset, without the 2.5 s splash hold and without the performance test.
// Run under Xvfb with software GL, from any folder:
//   xvfb-run -a -s "-screen 0 1280x960x24" build/bench/startup_bench
#include <benchmark/benchmark.h>

#include <filesystem>

#include "game/assets.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/system.h"
#include "shell/display.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

static void BM_LoadToTitle(benchmark::State& state) {
    std::filesystem::current_path(std::filesystem::path(WORMLOB_SOURCE_DIR) / "Files" / "418");
    SetDefaultSettings();
    SetAudioDriver("Null");
    for (auto _ : state) {
        DisplayReady = 0;  // include the splash frame, as at a real start
        SelectGraphicsBackend(OpenGLBackend(), 2);
        if (!OpenDisplay(800, 600, 0, 60, 0)) {
            state.SkipWithError("no display");
            break;
        }
        SetResolution(1280, 960);
        LoadCommonAssets();
        LoadGameImagesAndMusic();
        benchmark::DoNotOptimize(TitleMusic);
        CloseDisplay();
    }
}
BENCHMARK(BM_LoadToTitle)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();

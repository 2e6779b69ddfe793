// Cost of ImagesOverlap, which the game calls thousands of times per frame:
// pairs far apart (the usual case), pairs whose boxes meet but whose solid
// pixels do not, and pairs that collide. Null back end: no display needed.
#include "media/graphics.h"
#include "media/system.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

namespace {

// A 32 x 32 disc of radius 14 with a soft (transparent) rim.
ImageRef Disc() {
    static ImageRef img = [] {
        ForceNullGraphics(true);
        OpenDisplay(1280, 960, 0, 0, 0);
        SetAutoCentreHandle(true);
        TPixmap pm;
        pm.width = pm.height = 32, pm.pitch = 128, pm.format = 4;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                float d = std::hypot(x - 15.5f, y - 15.5f);
                pm.pixels.insert(pm.pixels.end(), {255, 255, 255, (uint8_t)(d < 14 ? 255 : d < 16 ? 60 : 0)});
            }
        const char* path = "/tmp/graphics_overlap_bench.png";
        SavePixmapAsPng(pm, path, 1);
        ImageRef i = LoadImage(path, -1);
        std::remove(path);
        return i;
    }();
    return img;
}

void BM_OverlapFarApart(benchmark::State& state) {
    ImageRef a = Disc();
    float x = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImagesOverlap(a, 100 + x, 100, 0, 30, 1.5f, 1.5f, a, 600, 500, 0, 0, 1, 1));
        x = x > 50 ? 0 : x + 1;
    }
}
BENCHMARK(BM_OverlapFarApart);

void BM_OverlapBoxesOnly(benchmark::State& state) {
    // Centres 30 apart on the diagonal: the boxes overlap, the discs don't.
    ImageRef a = Disc();
    for (auto _ : state)
        benchmark::DoNotOptimize(ImagesOverlap(a, 100, 100, 0, 0, 1, 1, a, 121, 121, 0, 0, 1, 1));
}
BENCHMARK(BM_OverlapBoxesOnly);

void BM_OverlapRotatedScaledHit(benchmark::State& state) {
    ImageRef a = Disc();
    for (auto _ : state)
        benchmark::DoNotOptimize(ImagesOverlap(a, 100, 100, 0, 45, 2, 2, a, 140, 110, 0, 10, 1, 1));
}
BENCHMARK(BM_OverlapRotatedScaledHit);

}  // namespace


// A pair scaled to 100 000 times its size whose solid parts do not meet:
// without a bound the shared box alone would be 10^12 pixels.
void BM_OverlapAbsurdScaleMiss(benchmark::State& state) {
    ImageRef a = Disc();
    for (auto _ : state)
        benchmark::DoNotOptimize(ImagesOverlap(a, 0, 0, 0, 0, 1e5f, 1e5f, a, 2.1e6f, 2.1e6f, 0, 0, 1e5f, 1e5f));
}
BENCHMARK(BM_OverlapAbsurdScaleMiss);

BENCHMARK_MAIN();

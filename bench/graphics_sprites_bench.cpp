// Sprite throughput of the drawing service under the start-up performance
// test's load: frame 0 of the icon sheet (16 x 16) at scale 4, a random rotation,
// black at alpha 0 with BLEND_ALPHA, a 1280 x 960 virtual resolution in an
// 800 x 600 window. Compared with two plain OpenGL loops over the same
// texture: one draw call per sprite (immediate mode with the matrix stack),
// and all sprites in one client-side array with a single draw call.
//
// Run under an X server with GL, e.g.
//   xvfb-run -a -s "-screen 0 1280x960x24" build/bench/graphics_sprites_bench
#include "media/graphics.h"
#include "media/graphics_internal.h"
#include "media/system.h"
#include "screens/enginetest.h"
#include "shell/display.h"

// The raw loops use fixed-function GL and GL 2.0 calls to leave the
// service's state.
#define GL_GLEXT_PROTOTYPES 1
#include <SDL_opengl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

ImageRef g_sprite;
bool g_ready = false;

bool Ready() {
    if (g_ready) return true;
    if (!std::getenv("DISPLAY")) return false;
    SelectGraphicsBackend(OpenGLBackend(), 2);
    if (!OpenDisplay(800, 600, 0, 0, 0)) return false;
    SetResolution(1280, 960);
    SetAutoCentreHandle(true);
    // The icon sheet's first cell, loaded as the game loads the sheet:
    // masked, unfiltered (nearest texels), no mipmaps.
    g_sprite = LoadImageStrip(WORMLOB_SOURCE_DIR "/Files/Common/icons.png", 16, 16, 0, 1, IMAGE_MASKED);
    if (!g_sprite) return false;
    DrawImage(g_sprite, 0, 0);  // makes the texture
    Flip(0);
    g_ready = true;
    return true;
}

// Waits until GL has finished the frame, so frame times include the
// rasteriser's work.
void Finish() { glFinish(); }

// The performance test's per-sprite calls, exactly. An offset moves the
// sprites off screen when only the CPU side is measured: the calls and the
// batch are the same, the rasteriser has nothing to fill.
inline void LoadSprite(float offset = 0) {
    SetRotation((float)RandomInt(1, 360));
    SetColor(0, 0, 0);
    SetAlpha(0);
    SetScale(4, 4);
    int y = RandomInt(1, 960);
    int x = RandomInt(1, 1280);
    DrawImage(g_sprite, (float)x + offset, (float)y, 0);
}

// (a) CPU cost of one DrawImage call with its state calls, batch submission
// included (sprites off screen, so the fill cost of (b) is left out).
void BM_DrawImageCall(benchmark::State& state) {
    if (!Ready()) {
        state.SkipWithError("no GL display");
        return;
    }
    const int n = (int)state.range(0);
    SetBlend(BLEND_ALPHA);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) LoadSprite(-10000);
        gfx::GlFlush();
    }
    Finish();
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DrawImageCall)->Arg(5000)->Unit(benchmark::kMicrosecond);

// Reports the frame time at n sprites and the sprite count that fits in a
// 60 Hz frame at that cost.
void ReportFrame(benchmark::State& state, double seconds, int n) {
    double frameMs = seconds * 1000.0 / (double)state.iterations();
    state.counters["frame_ms"] = frameMs;
    state.counters["sprites_at_60fps"] = frameMs > 0 ? n * (1000.0 / 60.0) / frameMs : 0;
    state.SetItemsProcessed(state.iterations() * n);
}

// (b) Whole frames through the drawing service: clear, n sprites, present.
void BM_FrameOurs(benchmark::State& state) {
    if (!Ready()) {
        state.SkipWithError("no GL display");
        return;
    }
    const int n = (int)state.range(0);
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ClearScreen();
        SetBlend(BLEND_ALPHA);
        for (int i = 0; i < n; ++i) LoadSprite();
        Flip(0);
        Finish();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ReportFrame(state, total, n);
}
BENCHMARK(BM_FrameOurs)->Arg(1000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond)->UseRealTime();

// (e) The start-up performance test's whole frame: its striped backdrop and
// its two logos, drawn as the test draws them, then n of the test's sprites.
// n = 0 gives the cost of the test's own picture, which every frame of the
// test carries on top of (b)'s sprites.
void BM_FrameWithTestPicture(benchmark::State& state) {
    if (!Ready()) {
        state.SkipWithError("no GL display");
        return;
    }
    if (!LogoImage) {
        // Loaded as the display's asset loading loads them.
        LogoImage = LoadImage(WORMLOB_SOURCE_DIR "/Files/Common/logo.png", 3);
        SiteLogoImage = LoadImage(WORMLOB_SOURCE_DIR "/Files/Common/Vantor.png", 3);
    }
    if (!LogoImage || !SiteLogoImage) {
        state.SkipWithError("logos not found");
        return;
    }
    ViewWidth = 1280, ViewHeight = 960;
    const int n = (int)state.range(0);
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ClearScreen();
        DrawEngineTestPicture();
        for (int i = 0; i < n; ++i) LoadSprite();
        Flip(0);
        Finish();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    if (n > 0) ReportFrame(state, total, n);
    else state.counters["frame_ms"] = total * 1000.0 / (double)state.iterations();
}
BENCHMARK(BM_FrameWithTestPicture)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sets GL up for the raw loops as fixed-function GL with the same picture:
// no shader program or vertex buffer of the service's, the sprite's texture
// modulated by the vertex colour, blending on, the virtual-resolution
// projection, flat shading. The service's own state is left behind, so these
// run after the benchmarks that draw through it.
unsigned RawSetup() {
    SetBlend(BLEND_SOLID);  // state known to the service...
    SetBlend(BLEND_ALPHA);  // ...and flushed
    Flip(0);
    glUseProgram(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    for (GLuint a = 0; a < 3; ++a) glDisableVertexAttribArray(a);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glShadeModel(GL_FLAT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1280, 960, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    TImageFrame& f = *g_sprite->frames[0];
    glBindTexture(GL_TEXTURE_2D, f.tex);
    return f.tex;
}

// (c) Simplest raw loop: one glBegin/glEnd quad per sprite, placed with
// the fixed-function matrix stack.
void BM_FrameRawPerSprite(benchmark::State& state) {
    if (!Ready()) {
        state.SkipWithError("no GL display");
        return;
    }
    const int n = (int)state.range(0);
    RawSetup();
    TImageFrame& f = *g_sprite->frames[0];
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < n; ++i) {
            float rot = (float)RandomInt(1, 360);
            int y = RandomInt(1, 960), x = RandomInt(1, 1280);
            glPushMatrix();
            glTranslatef((float)x, (float)y, 0);
            glRotatef(rot, 0, 0, 1);
            glScalef(4, 4, 1);
            glColor4ub(0, 0, 0, 0);
            glBegin(GL_QUADS);
            glTexCoord2f(0, 0), glVertex2f(-8, -8);
            glTexCoord2f(f.u1, 0), glVertex2f(8, -8);
            glTexCoord2f(f.u1, f.v1), glVertex2f(8, 8);
            glTexCoord2f(0, f.v1), glVertex2f(-8, 8);
            glEnd();
            glPopMatrix();
        }
        gfx::GlSwap();
        Finish();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ReportFrame(state, total, n);
}
BENCHMARK(BM_FrameRawPerSprite)->Arg(1000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond)->UseRealTime();

// (d) Raw single buffer: every sprite's corners computed on the CPU into
// one array, drawn with one call.
void BM_FrameRawSingleBuffer(benchmark::State& state) {
    if (!Ready()) {
        state.SkipWithError("no GL display");
        return;
    }
    const int n = (int)state.range(0);
    RawSetup();
    TImageFrame& f = *g_sprite->frames[0];
    std::vector<gfx::GlVertex> v((size_t)n * 4);
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < n; ++i) {
            double rad = RandomInt(1, 360) * M_PI / 180.0;
            float c = (float)std::cos(rad) * 4, s = (float)std::sin(rad) * 4;
            float y = (float)RandomInt(1, 960), x = (float)RandomInt(1, 1280);
            const float cx[4] = {-8, 8, 8, -8}, cy[4] = {-8, -8, 8, 8};
            const float us[4] = {0, f.u1, f.u1, 0}, vs[4] = {0, 0, f.v1, f.v1};
            for (int k = 0; k < 4; ++k)
                v[(size_t)i * 4 + k] = {cx[k] * c - cy[k] * s + x, cx[k] * s + cy[k] * c + y, us[k], vs[k], 0};
        }
        glVertexPointer(2, GL_FLOAT, sizeof(gfx::GlVertex), &v[0].x);
        glTexCoordPointer(2, GL_FLOAT, sizeof(gfx::GlVertex), &v[0].u);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(gfx::GlVertex), &v[0].rgba);
        glDrawArrays(GL_QUADS, 0, n * 4);
        gfx::GlSwap();
        Finish();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ReportFrame(state, total, n);
}
BENCHMARK(BM_FrameRawSingleBuffer)->Arg(1000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same sprite load on the null back end: the drawing state bookkeeping
// alone, which headless runs pay.
void BM_DrawImageNullBackend(benchmark::State& state) {
    // Runs last: it closes the GL display.
    CloseDisplay();
    g_ready = false;
    ForceNullGraphics(true);
    OpenDisplay(800, 600, 0, 0, 0);
    SetResolution(1280, 960);
    ImageRef img = CreateBlankImage(16, 16, 1, -1);
    CaptureIntoImage(img, 0, 0, 0);
    std::swap(img, g_sprite);
    for (auto _ : state) LoadSprite();
    state.SetItemsProcessed(state.iterations());
    std::swap(img, g_sprite);
    CloseDisplay();
    ForceNullGraphics(false);
}
BENCHMARK(BM_DrawImageNullBackend);

}  // namespace

BENCHMARK_MAIN();

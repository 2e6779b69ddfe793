// Pixels in the back buffer of the OpenGL back end: blend modes, the mask
// test, alpha clamping, placement under rotation and scale, the virtual
// resolution, text, capture and read-back. Runs under an X server with GL
// (Xvfb with a 24-bit screen and Mesa's software renderer).
#include "media/graphics.h"
#include "media/graphics_internal.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "tests/support/gfx_images.h"

#include "tests/support/skip.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Rgb {
    int r, g, b;
};

class Pixels : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) WORMLOB_SKIP("no X display (run under xvfb-run)");
        ForceNullGraphics(false);
        SelectGraphicsBackend(OpenGLBackend(), 2);
        SetAutoCentreHandle(false);
        Open(320, 240);
    }
    void TearDown() override {
        CloseDisplay();
        for (auto& p : files_) std::remove(p.c_str());
    }
    void Open(int w, int h) {
        ASSERT_NE(OpenDisplay(w, h, 0, 0, 0), nullptr) << DisplayError();
        ClearScreen();
    }
    Rgb At(int x, int y) {
        TPixmap pm = GrabPixmap(x, y, 1, 1);
        return {pm.pixels[0], pm.pixels[1], pm.pixels[2]};
    }
    ImageRef Image(const std::string& name, const std::vector<uint8_t>& px, int w, int h, bool alpha,
                   int flags) {
        std::string path = GfxTempPath(name);
        files_.push_back(path);
        EXPECT_TRUE(GfxWritePng(path, px, w, h, alpha));
        return LoadImage(path, flags);
    }
    // Fills the whole screen with one grey through BLEND_SOLID.
    void Background(int v) {
        int old = GetBlend();
        SetBlend(BLEND_SOLID);
        SetColor(v, v, v);
        DrawRect(0, 0, 320, 240);
        SetColor(255, 255, 255);
        SetBlend(old);
    }
    std::vector<std::string> files_;
};

#define EXPECT_RGB(px, R, G, B, tol)        \
    do {                                    \
        Rgb c_ = (px);                      \
        EXPECT_NEAR(c_.r, (R), (tol)) << "red";   \
        EXPECT_NEAR(c_.g, (G), (tol)) << "green"; \
        EXPECT_NEAR(c_.b, (B), (tol)) << "blue";  \
    } while (0)

TEST_F(Pixels, MaskModeRightAfterOpeningDrawsAlphaHalfAndAboveOpaque) {
    // Columns of alpha 0, 127, 128 and 255, two pixels each.
    std::vector<uint8_t> px = GfxFill(8, 2, 255, 255, 255, 0);
    const uint8_t alphas[4] = {0, 127, 128, 255};
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 2; ++y) GfxSet(px, 8, x, y, 200, 100, 50, alphas[x / 2]);
    ImageRef img = Image("mask.png", px, 8, 2, true, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(GetBlend(), BLEND_MASK);
    DrawImage(img, 10, 10, 0);
    EXPECT_RGB(At(10, 10), 0, 0, 0, 0);
    EXPECT_RGB(At(12, 10), 0, 0, 0, 0);
    EXPECT_RGB(At(14, 10), 200, 100, 50, 0);  // alpha 128: drawn, not blended
    EXPECT_RGB(At(16, 11), 200, 100, 50, 0);
}

TEST_F(Pixels, LightAddsAndShadeMultiplies) {
    ImageRef black = Image("black.png", GfxFill(4, 4, 0, 0, 0, 255), 4, 4, true, 0);
    ImageRef white = Image("white.png", GfxFill(4, 4, 255, 255, 255, 255), 4, 4, true, 0);
    Background(100);
    SetBlend(BLEND_LIGHT);
    DrawImage(black, 10, 10);
    EXPECT_RGB(At(11, 11), 100, 100, 100, 0);
    SetAlpha(0.5f);
    DrawImage(white, 20, 10);
    // 100 + 255 * int(0.5 * 255) / 255 = 227
    EXPECT_RGB(At(21, 11), 227, 227, 227, 1);
    SetAlpha(1);
    SetBlend(BLEND_SHADE);
    SetColor(128, 64, 255);
    DrawImage(white, 30, 10);
    EXPECT_RGB(At(31, 11), 100 * 128 / 255, 100 * 64 / 255, 100, 1);
    // An unknown blend value draws as solid: no blending and no alpha test.
    SetColor(255, 255, 255);
    SetBlend(42);
    SetAlpha(0.0f);
    DrawImage(white, 40, 10);
    EXPECT_RGB(At(41, 11), 255, 255, 255, 0);
}

TEST_F(Pixels, AlphaIsClampedOnlyWhenDrawing) {
    ImageRef white = Image("white.png", GfxFill(4, 4, 255, 255, 255, 255), 4, 4, true, 0);
    Background(0);
    SetBlend(BLEND_ALPHA);
    SetAlpha(1.5f);
    DrawImage(white, 10, 10);
    EXPECT_RGB(At(11, 11), 255, 255, 255, 0);
    SetAlpha(-1.0f);
    DrawImage(white, 20, 10);
    EXPECT_RGB(At(21, 11), 0, 0, 0, 0);
    SetAlpha(0.5f);
    DrawImage(white, 30, 10);
    EXPECT_RGB(At(31, 11), 127, 127, 127, 1);
    EXPECT_EQ(GetAlpha(), 0.5f);
}

TEST_F(Pixels, AutoCentredHandleUnderRotationAndScale) {
    SetAutoCentreHandle(true);
    // 16 x 8: red left half, green right half.
    std::vector<uint8_t> px = GfxFill(16, 8, 255, 0, 0, 255);
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x) GfxSet(px, 16, x, y, 0, 255, 0, 255);
    ImageRef img = Image("rg.png", px, 16, 8, true, 0);
    ASSERT_TRUE(img);
    SetScale(2, 2);
    SetRotation(90);
    DrawImage(img, 100, 100);
    // 32 x 16 after scaling, turned clockwise: 16 wide, 32 tall, centred
    // on (100, 100), with the image's right (green) half at the bottom.
    EXPECT_RGB(At(100, 88), 255, 0, 0, 0);
    EXPECT_RGB(At(93, 85), 255, 0, 0, 0);
    EXPECT_RGB(At(100, 112), 0, 255, 0, 0);
    EXPECT_RGB(At(106, 115), 0, 255, 0, 0);
    EXPECT_RGB(At(100, 82), 0, 0, 0, 0);
    EXPECT_RGB(At(100, 117), 0, 0, 0, 0);
    EXPECT_RGB(At(90, 100), 0, 0, 0, 0);
    EXPECT_RGB(At(109, 100), 0, 0, 0, 0);
}

TEST_F(Pixels, RectanglesLinesAndTextTakeColourAndMatrix) {
    SetBlend(BLEND_SOLID);
    SetColor(0, 0, 255);
    DrawRect(10, 10, 20, 5);
    EXPECT_RGB(At(10, 10), 0, 0, 255, 0);
    EXPECT_RGB(At(29, 14), 0, 0, 255, 0);
    EXPECT_RGB(At(30, 14), 0, 0, 0, 0);
    SetRotation(90);  // the rectangle now hangs down-left from (60, 10)
    DrawRect(60, 10, 20, 5);
    SetRotation(0);
    EXPECT_RGB(At(57, 25), 0, 0, 255, 0);
    EXPECT_RGB(At(62, 25), 0, 0, 0, 0);
    SetColor(255, 0, 0);
    DrawLine(10, 50, 40, 50);
    EXPECT_RGB(At(10, 50), 255, 0, 0, 0);
    EXPECT_RGB(At(40, 50), 255, 0, 0, 0);  // the last pixel is drawn
    EXPECT_RGB(At(41, 50), 0, 0, 0, 0);
    EXPECT_RGB(At(25, 52), 0, 0, 0, 0);
    // Default font: "I" lights pixels inside its 8 x 16 cell only.
    SetColor(0, 255, 0);
    DrawText("II", 100, 100);
    TPixmap pm = GrabPixmap(96, 96, 24, 24);
    int lit = 0, outside = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            bool on = pm.pixels[((size_t)y * 24 + x) * 4 + 1] > 0;
            bool inCell = x >= 4 && x < 20 && y >= 4 && y < 20;
            lit += on && inCell;
            outside += on && !inCell;
        }
    EXPECT_GT(lit, 20);
    EXPECT_EQ(outside, 0);
}

TEST_F(Pixels, TrueTypeTextSitsInsideItsLineBox) {
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (FileType(path) != 1) WORMLOB_SKIP("DejaVu Sans is not installed");
    FontRef font = LoadImageFont(path, 24, FONT_SMOOTH);
    ASSERT_TRUE(font);
    SetImageFont(font);
    SetBlend(BLEND_ALPHA);
    const std::string text = "Hgjy";
    int w = TextWidth(text), h = TextHeight();
    DrawText(text, 100, 100);
    TPixmap pm = GrabPixmap(80, 80, w + 40, h + 40);
    int inside = 0, outside = 0, minY = 1 << 30, maxY = -1;
    for (int y = 0; y < pm.height; ++y)
        for (int x = 0; x < pm.width; ++x) {
            if (pm.pixels[((size_t)y * pm.width + x) * 4] < 64) continue;
            int sx = x + 80, sy = y + 80;
            bool in = sx >= 99 && sx <= 100 + w && sy >= 100 && sy < 100 + h;
            inside += in;
            outside += !in;
            minY = std::min(minY, sy), maxY = std::max(maxY, sy);
        }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(outside, 0);
    // Capitals start near the top of the line; descenders reach below the
    // middle of it.
    EXPECT_LT(minY, 100 + h / 3);
    EXPECT_GT(maxY, 100 + h * 2 / 3);
    SetImageFont(nullptr);
}

TEST_F(Pixels, VirtualResolutionStretchesOntoTheWindow) {
    CloseDisplay();
    Open(1024, 768);
    SetResolution(800, 600);
    SetBlend(BLEND_SOLID);
    DrawRect(400, 300, 10, 10);
    EXPECT_RGB(At(512, 384), 255, 255, 255, 0);
    EXPECT_RGB(At(511, 384), 0, 0, 0, 0);
    EXPECT_RGB(At(512, 383), 0, 0, 0, 0);
    EXPECT_RGB(At(524, 396), 255, 255, 255, 0);
    EXPECT_RGB(At(526, 398), 0, 0, 0, 0);
}

TEST_F(Pixels, LinesAreOnePixelWideUnderAVirtualResolutionAndScale) {
    // The game's drawing area squeezed into a smaller window: 1.6 drawing
    // units per pixel. Every horizontal and vertical line must still light
    // exactly one pixel across, wherever it falls between pixel centres.
    CloseDisplay();
    Open(800, 600);
    SetResolution(1280, 960);
    SetBlend(BLEND_SOLID);
    for (int v = 10; v < 42; ++v) {
        ClearScreen();
        DrawLine(100, (float)v, 300, (float)v);
        DrawLine((float)v, 400, (float)v, 600);
        TPixmap col = GrabPixmap(125, 0, 1, 40);  // drawing x = 200
        TPixmap row = GrabPixmap(0, 312, 40, 1);  // drawing y = 500
        int across = 0, down = 0;
        for (int i = 0; i < 40; ++i) across += col.pixels[(size_t)i * 4] > 0, down += row.pixels[(size_t)i * 4] > 0;
        EXPECT_EQ(across, 1) << "horizontal line at " << v;
        EXPECT_EQ(down, 1) << "vertical line at " << v;
    }
    // Scale stretches the line's length, not its width.
    CloseDisplay();
    Open(320, 240);
    SetBlend(BLEND_SOLID);
    SetScale(3, 3);
    DrawLine(10, 50, 20, 50);
    SetScale(1, 1);
    EXPECT_RGB(At(10, 50), 255, 255, 255, 0);
    EXPECT_RGB(At(40, 50), 255, 255, 255, 0);
    EXPECT_RGB(At(41, 50), 0, 0, 0, 0);
    EXPECT_RGB(At(25, 49), 0, 0, 0, 0);
    EXPECT_RGB(At(25, 51), 0, 0, 0, 0);
}

TEST_F(Pixels, GrabReadsTopRowFirstAndSurvivesAPngRoundTrip) {
    // Asymmetric: a red pixel at the top-left, green at the top-right,
    // blue at the bottom-left of a 5 x 4 picture.
    std::vector<uint8_t> px = GfxFill(5, 4, 40, 40, 40, 255);
    GfxSet(px, 5, 0, 0, 255, 0, 0, 255);
    GfxSet(px, 5, 4, 0, 0, 255, 0, 255);
    GfxSet(px, 5, 0, 3, 0, 0, 255, 255);
    ImageRef img = Image("asym.png", px, 5, 4, true, 0);
    SetBlend(BLEND_SOLID);
    DrawImage(img, 20, 30);
    TPixmap pm = GrabPixmap(20, 30, 5, 4);
    ASSERT_EQ(pm.width, 5);
    EXPECT_EQ(pm.pixels, px);
    std::string path = GfxTempPath("grab.png");
    files_.push_back(path);
    ASSERT_TRUE(SavePixmapAsPng(pm, path, 9));
    ImageRef back = LoadImage(path, 0);
    ASSERT_TRUE(back);
    EXPECT_EQ(ImageFramePixels(back, 0)->pixels, px);
    // A grab reaching past the window's edge reads black there.
    TPixmap edge = GrabPixmap(-2, 0, 4, 1);
    EXPECT_EQ(edge.pixels[0], 0);
    EXPECT_EQ(edge.pixels[3], 255);
}

TEST_F(Pixels, CaptureIntoImageAndTexturesAfterReopening) {
    ImageRef white = Image("white.png", GfxFill(4, 4, 255, 255, 255, 255), 4, 4, true, 0);
    SetBlend(BLEND_SOLID);
    SetColor(10, 200, 30);
    DrawRect(50, 50, 8, 8);
    ImageRef cap = CreateBlankImage(8, 8, 1, 0);
    CaptureIntoImage(cap, 50, 50, 0);
    ClearScreen();
    SetColor(255, 255, 255);
    DrawImage(cap, 0, 0);
    EXPECT_RGB(At(3, 3), 10, 200, 30, 0);
    // Capture again with new content: the frame's texture is rebuilt.
    SetColor(200, 0, 0);
    DrawRect(50, 50, 8, 8);
    CaptureIntoImage(cap, 50, 50, 0);
    SetColor(255, 255, 255);
    DrawImage(cap, 20, 0);
    EXPECT_RGB(At(23, 3), 200, 0, 0, 0);
    // The same images draw after the display is closed and opened again.
    DrawImage(white, 100, 100);
    CloseDisplay();
    Open(320, 240);
    SetBlend(BLEND_SOLID);
    DrawImage(white, 100, 100);
    DrawImage(cap, 0, 0);
    EXPECT_RGB(At(101, 101), 255, 255, 255, 0);
    EXPECT_RGB(At(3, 3), 200, 0, 0, 0);
}

TEST_F(Pixels, SpritesAreBatchedIntoFewDrawCalls) {
    ImageRef a = Image("a.png", GfxFill(4, 4, 255, 255, 255, 255), 4, 4, true, 0);
    ImageRef b = Image("b.png", GfxFill(4, 4, 255, 0, 0, 255), 4, 4, true, 0);
    SetBlend(BLEND_ALPHA);
    DrawImage(a, 0, 0);
    DrawImage(b, 0, 0);
    Flip(0);
    long before = GraphicsDrawCalls();
    for (int i = 0; i < 1000; ++i) {
        SetRotation((float)i);
        SetAlpha(0.5f);
        DrawImage(a, (float)(i % 300), (float)(i % 200));
    }
    EXPECT_EQ(GraphicsDrawCalls(), before);  // nothing sent before a flush
    Flip(0);
    EXPECT_EQ(GraphicsDrawCalls(), before + 1);
    // Alternating textures or blend modes costs one call per change.
    before = GraphicsDrawCalls();
    for (int i = 0; i < 10; ++i) DrawImage(i % 2 ? a : b, 0, 0);
    Flip(0);
    EXPECT_EQ(GraphicsDrawCalls(), before + 10);
    before = GraphicsDrawCalls();
    DrawImage(a, 0, 0);
    SetBlend(BLEND_ALPHA);  // already active: no flush
    DrawImage(a, 0, 0);
    SetBlend(BLEND_LIGHT);
    DrawImage(a, 0, 0);
    Flip(0);
    EXPECT_EQ(GraphicsDrawCalls(), before + 2);
    // A line of text is one batch: glyphs share their font's texture, also
    // when the line brings glyphs not drawn before.
    DrawText("warm up", 0, 0);
    Flip(0);
    before = GraphicsDrawCalls();
    DrawText("The quick brown fox jumps over the lazy dog 0123456789", 0, 0);
    DrawText("warm up again", 0, 20);
    Flip(0);
    EXPECT_EQ(GraphicsDrawCalls(), before + 1);
}

TEST_F(Pixels, FilteredEdgesDoNotBleedInPadding) {
    // A 3 x 3 opaque white image in a 4 x 4 texture, drawn filtered at
    // scale 8: the padding column repeats the edge, so the right edge of
    // the quad stays white instead of fading to the padding.
    ImageRef img = Image("edge.png", GfxFill(3, 3, 255, 255, 255, 255), 3, 3, true, IMAGE_FILTERED);
    SetBlend(BLEND_ALPHA);
    SetScale(8, 8);
    DrawImage(img, 10, 10);
    EXPECT_RGB(At(10 + 23, 10 + 12), 255, 255, 255, 2);
    EXPECT_RGB(At(10 + 12, 10 + 23), 255, 255, 255, 2);
}

TEST_F(Pixels, DisplayModesReportStoredBitsPerPixel) {
    int n = CountDisplayModes();
    ASSERT_GT(n, 0);
    for (int i = 0; i < n; ++i) {
        int w, h, d, hz;
        GetDisplayMode(i, w, h, d, hz);
        EXPECT_GT(w, 0);
        EXPECT_TRUE(d == 16 || d == 32 || d == 8) << d;
        EXPECT_TRUE(DisplayModeExists(w, h, d, 0));
    }
}

TEST_F(Pixels, FullScreenOpensInAListedModeWithThePointerCentred) {
    int w, h, d, hz;
    GetDisplayMode(0, w, h, d, hz);
    CloseDisplay();
    ASSERT_NE(OpenDisplay(w, h, d, hz, 0), nullptr) << DisplayError();
    EXPECT_EQ(WindowWidth(), w);
    EXPECT_EQ(WindowHeight(), h);
    EXPECT_FLOAT_EQ(MouseXPos(), (float)(w / 2));
    EXPECT_FLOAT_EQ(MouseYPos(), (float)(h / 2));
    SetBlend(BLEND_SOLID);
    DrawRect(0, 0, 4, 4);
    EXPECT_RGB(At(1, 1), 255, 255, 255, 0);
}

TEST_F(Pixels, WindowFlipPacesSixtyFramesPerSecond) {
    CloseDisplay();
    UseVirtualClock(100);
    ASSERT_NE(OpenDisplay(320, 240, 0, 60, 0), nullptr);
    int start = Millisecs();
    for (int i = 0; i < 60; ++i) Flip(-1);
    EXPECT_EQ(Millisecs() - start, 1000);
    UseRealClock();
}

TEST_F(Pixels, GlyphsBeyondAFullAtlasStillDraw) {
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (FileType(path) != 1) WORMLOB_SKIP("DejaVu Sans is not installed");
    // At this size the shared glyph texture holds only part of the font;
    // later glyphs get textures of their own.
    FontRef big = LoadImageFont(path, 300, FONT_SMOOTH);
    ASSERT_TRUE(big);
    SetImageFont(big);
    std::string all;
    for (int c = 33; c < 256; ++c) all += (char)c;
    SetScale(0.02f, 0.02f);
    DrawText(all, 0, 0);  // loads every glyph
    SetScale(0.2f, 0.2f);
    SetBlend(BLEND_ALPHA);
    ClearScreen();
    DrawText("\xde", 100, 100);  // Latin-1 capital thorn, late in the font
    TPixmap pm = GrabPixmap(90, 90, 100, 100);
    int lit = 0;
    for (size_t i = 0; i < pm.pixels.size(); i += 4) lit += pm.pixels[i] > 128;
    EXPECT_GT(lit, 50);
    // "A" went into the atlas before it grew taller: it still draws as from
    // a font that has loaded nothing else (at scale 1, so both textures are
    // read at their full-size level).
    auto drawA = [&](const FontRef& font) {
        SetImageFont(font);
        SetScale(1, 1);
        ClearScreen();
        DrawText("A", 0, -60);
        return GrabPixmap(0, 0, 200, 200).pixels;
    };
    auto grown = drawA(big), fresh = drawA(LoadImageFont(path, 300, FONT_SMOOTH));
    ASSERT_EQ(grown.size(), fresh.size());
    int worst = 0, litA = 0;
    for (size_t i = 0; i < grown.size(); ++i) worst = std::max(worst, std::abs(grown[i] - fresh[i]));
    for (size_t i = 0; i < fresh.size(); i += 4) litA += fresh[i] > 128;
    EXPECT_GT(litA, 1000);
    EXPECT_LE(worst, 8);
    SetImageFont(nullptr);
}

// Smooth text shrunk far enough to read the atlas's smallest mip levels,
// with glyphs that arrived after the atlas was first sent: a missing level
// would leave the texture incomplete (its texels read opaque black), a
// level not brought up to date would leave the new glyphs invisible.
TEST_F(Pixels, ShrunkenSmoothTextReadsEveryMipLevel) {
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (FileType(path) != 1) WORMLOB_SKIP("DejaVu Sans is not installed");
    FontRef font = LoadImageFont(path, 48, FONT_SMOOTH);
    ASSERT_TRUE(font);
    SetImageFont(font);
    SetBlend(BLEND_ALPHA);
    DrawText("MMMM", 0, 0);  // the atlas goes up with these glyphs only
    Flip(0);
    for (float scale : {0.5f, 0.2f, 0.1f, 0.05f}) {
        Background(255);
        SetColor(255, 0, 0);
        SetScale(scale, scale);
        DrawText("WWWW####", 10, 10);  // new glyphs: a partial update of every level
        SetScale(1, 1);
        TPixmap pm = GrabPixmap(0, 0, 320, 240);
        int minRed = 255, tinted = 0;
        for (size_t i = 0; i < pm.pixels.size(); i += 4) {
            minRed = std::min(minRed, (int)pm.pixels[i]);
            tinted += pm.pixels[i + 1] < 250;
        }
        EXPECT_EQ(minRed, 255) << "black texels at scale " << scale;
        EXPECT_GT(tinted, 0) << "no text at scale " << scale;
    }
    SetColor(255, 255, 255);
    SetImageFont(nullptr);
}

TEST_F(Pixels, FailingOpenReturnsNullWithAReason) {
    CloseDisplay();
    EXPECT_EQ(OpenDisplay(0, 100, 0, 0, 0), nullptr);
    EXPECT_FALSE(DisplayError().empty());
    // Full screen at a size the screen does not list.
    EXPECT_EQ(OpenDisplay(333, 111, 32, 0, 0), nullptr);
    EXPECT_FALSE(DisplayError().empty());
    EXPECT_FALSE(DisplayIsOpen());
    Open(320, 240);
}

}  // namespace

namespace {
void WholeBar(float x, float y, float w, float) { DrawRect(x, y, w, 30); }
}  // namespace

// The backdrop's bars are drawn only as far as the next bar starts: the
// picture must be the one whole 30-unit bars give, with no seam between
// bars (at the smallest window and at the view's own size).
TEST_F(Pixels, StripesDrawTheSamePictureAsWholeBars) {
    for (int w : {800, 1280}) {
        CloseDisplay();
        Open(w, w * 3 / 4);
        SetResolution(1280, 960);
        ViewWidth = 1280;
        ViewHeight = 960;
        TPixmap pictures[2];
        for (int whole = 0; whole < 2; whole++) {
            SetColor(0, 0, 0);
            ClearScreen();
            SetBlend(BLEND_ALPHA);
            SetAlpha(1);
            if (whole) DrawStripes(true, WholeBar);
            else DrawStripes(true);
            pictures[whole] = GrabPixmap(0, 0, w, w * 3 / 4);
        }
        ASSERT_EQ(pictures[0].pixels.size(), pictures[1].pixels.size());
        size_t differ = 0, black = 0;
        for (size_t i = 0; i < pictures[0].pixels.size(); i += 4) {
            differ += std::memcmp(&pictures[0].pixels[i], &pictures[1].pixels[i], 3) != 0;
            black += pictures[0].pixels[i + 2] == 0;
        }
        EXPECT_EQ(differ, 0u) << "at " << w;
        EXPECT_EQ(black, 0u) << "at " << w;
    }
}

// The newer GLSL dialect keeps a quad's colour flat instead of
// interpolating it; every quad has one colour, so the picture must not
// change by a single bit: every blend mode, the mask test, filtered and
// nearest textures turned and scaled, fractional alphas, text, lines and
// the stripes, in a window smaller than the drawing area.
TEST_F(Pixels, BothShaderDialectsDrawTheSamePixels) {
    std::vector<uint8_t> px = GfxFill(16, 16, 0, 0, 0, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) GfxSet(px, 16, x, y, x * 16, y * 16, 255 - x * 8, (x + y) * 8);
    ImageRef nearest = Image("ramp.png", px, 16, 16, true, 0);
    ImageRef filtered = Image("ramp-f.png", px, 16, 16, true, IMAGE_FILTERED | IMAGE_MIPMAPPED);
    ASSERT_TRUE(nearest && filtered);
    auto scene = [&](bool classicOnly, bool& flat) {
        gfx::GlUseClassicShaders(classicOnly);
        CloseDisplay();
        Open(300, 225);
        flat = gfx::GlFlatShading();
        SetResolution(640, 480);
        ViewWidth = 640;
        ViewHeight = 480;
        SetBlend(BLEND_ALPHA);
        DrawStripes(true);
        SetAutoCentreHandle(true);
        const int modes[5] = {BLEND_MASK, BLEND_SOLID, BLEND_ALPHA, BLEND_LIGHT, BLEND_SHADE};
        for (int i = 0; i < 60; i++) {
            SetBlend(modes[i % 5]);
            SetColor(40 + i * 3, 255 - i * 4, 90 + i);
            SetAlpha(0.1f + (i % 9) * 0.11f);
            SetRotation(i * 37.3f);
            SetScale(1 + (i % 4) * 0.7f, 1 + (i % 3) * 0.6f);
            DrawImage(i % 2 ? filtered : nearest, 20 + (i * 97) % 600, 30 + (i * 61) % 420);
        }
        SetRotation(-20);
        SetScale(1.3f, 1.3f);
        SetBlend(BLEND_ALPHA);
        SetColor(250, 200, 20);
        SetAlpha(0.7f);
        DrawText("Flat or smooth?", 100, 200);
        DrawLine(10, 400, 600, 350);
        DrawRect(300, 300, 80, 33);
        SetAutoCentreHandle(false);
        return GrabPixmap(0, 0, 300, 225);
    };
    bool flatShading = false, classicFlat = true;
    TPixmap flat = scene(false, flatShading);
    TPixmap classic = scene(true, classicFlat);
    gfx::GlUseClassicShaders(false);
    EXPECT_FALSE(classicFlat);
    if (!flatShading) WORMLOB_SKIP("this GL has no GLSL 1.30: only the classic dialect runs");
    ASSERT_EQ(flat.pixels.size(), classic.pixels.size());
    size_t differ = 0, sprite = 0;
    for (size_t i = 0; i < flat.pixels.size(); i += 4) {
        differ += std::memcmp(&flat.pixels[i], &classic.pixels[i], 3) != 0;
        sprite += flat.pixels[i + 1] > 0;  // the stripes have no green
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(sprite, flat.pixels.size() / 4 / 10);  // a scene, not an empty frame
}

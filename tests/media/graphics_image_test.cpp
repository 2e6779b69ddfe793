// Images, fonts, collision and the drawing state on the null back end: none
// of these answers may depend on a window, so they run without one.
#include "media/graphics.h"
#include "media/system.h"
#include "tests/support/gfx_images.h"

#include "tests/support/skip.h"
#include <gtest/gtest.h>

#ifdef WORMLOB_HAVE_JPEG
#include <jpeglib.h>
#endif

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

class NullGraphics : public ::testing::Test {
protected:
    void SetUp() override {
        ForceNullGraphics(true);
        SetNullDisplayMode(1280, 960);
        SetAutoCentreHandle(false);
        ASSERT_NE(OpenDisplay(1280, 960, 0, 0, 0), nullptr);
    }
    void TearDown() override {
        CloseDisplay();
        for (auto& p : files_) std::remove(p.c_str());
    }
    std::string Png(const std::string& name, const std::vector<uint8_t>& px, int w, int h, bool alpha) {
        std::string path = GfxTempPath(name);
        EXPECT_TRUE(GfxWritePng(path, px, w, h, alpha));
        files_.push_back(path);
        return path;
    }
    std::vector<std::string> files_;
};

TEST_F(NullGraphics, StateAfterOpeningHasTheInitialValues) {
    SetColor(1, 2, 3);
    SetAlpha(0.25f);
    SetBlend(BLEND_LIGHT);
    SetRotation(30);
    SetScale(2, 3);
    ASSERT_NE(OpenDisplay(640, 480, 0, 0, 0), nullptr);
    const DrawingState& s = GetDrawingState();
    EXPECT_EQ(s.color_red, 255);
    EXPECT_EQ(s.color_green, 255);
    EXPECT_EQ(s.color_blue, 255);
    EXPECT_EQ(s.color_alpha, 1.0f);
    EXPECT_EQ(s.blend_mode, BLEND_MASK);
    EXPECT_EQ(s.tform_rot, 0.0f);
    EXPECT_EQ(s.tform_scale_x, 1.0f);
    EXPECT_EQ(s.tform_ix, 1.0f);
    EXPECT_EQ(s.tform_iy, 0.0f);
    EXPECT_EQ(s.tform_jx, 0.0f);
    EXPECT_EQ(s.tform_jy, 1.0f);
    EXPECT_EQ(s.viewport_w, 640);
    EXPECT_EQ(s.viewport_h, 480);
    EXPECT_EQ(s.vres_width, 640.0f);
    EXPECT_EQ(s.vres_height, 480.0f);
    EXPECT_EQ(s.vres_mousexscale, 1.0f);
    EXPECT_EQ(s.line_width, 1.0f);
    EXPECT_EQ(TextHeight(), 16);  // the default font
}

TEST_F(NullGraphics, AlphaIsStoredUnclampedAndMatrixFollowsRotationAndScale) {
    SetAlpha(1.5f);
    EXPECT_EQ(GetAlpha(), 1.5f);
    SetAlpha(-1.0f);
    EXPECT_EQ(GetAlpha(), -1.0f);
    SetScale(2, 3);
    SetRotation(90);
    const DrawingState& s = GetDrawingState();
    EXPECT_NEAR(s.tform_ix, 0.0f, 1e-6);
    EXPECT_NEAR(s.tform_iy, -3.0f, 1e-6);
    EXPECT_NEAR(s.tform_jx, 2.0f, 1e-6);
    EXPECT_NEAR(s.tform_jy, 0.0f, 1e-6);
    SetBlend(99);
    EXPECT_EQ(GetBlend(), 99);
}

TEST_F(NullGraphics, ModeListHoldsTheOneSettableMode) {
    EXPECT_EQ(CountDisplayModes(), 1);
    int w, h, d, hz;
    GetDisplayMode(0, w, h, d, hz);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 960);
    EXPECT_EQ(d, 32);
    EXPECT_TRUE(DisplayModeExists(1280, 960, 32, 0));
    EXPECT_FALSE(DisplayModeExists(1600, 900, 32, 0));
    SetNullDisplayMode(1600, 900);
    EXPECT_TRUE(DisplayModeExists(1600, 900, 32, 60));
    EXPECT_FALSE(DisplayModeExists(1280, 960, 32, 0));
    GetDisplayMode(5, w, h, d, hz);  // out of range reads zeros
    EXPECT_EQ(w, 0);
    // Full screen opens only in the listed mode, as with a real screen;
    // a window may have any size.
    EXPECT_EQ(OpenDisplay(1280, 960, 32, 60, 0), nullptr);
    EXPECT_FALSE(DisplayError().empty());
    EXPECT_FALSE(DisplayIsOpen());
    EXPECT_NE(OpenDisplay(1600, 900, 32, 60, 0), nullptr);
    EXPECT_NE(OpenDisplay(1280, 960, 0, 60, 0), nullptr);
}

TEST_F(NullGraphics, SetResolutionSetsMouseScale) {
    ASSERT_NE(OpenDisplay(800, 600, 0, 0, 0), nullptr);
    SetResolution(1280, 960);
    EXPECT_FLOAT_EQ(GetDrawingState().vres_mousexscale, 1.6f);
    InputEvent e{INPUT_MOUSE_MOVE};
    e.x = 400, e.y = 300;
    PostInputEvent(e);
    EXPECT_FLOAT_EQ(MouseXPos(), 640.0f);
    EXPECT_FLOAT_EQ(MouseYPos(), 480.0f);
}

TEST_F(NullGraphics, CaptureAndGrabAreBlackAndDrawingIsHarmless) {
    TPixmap pm = GrabPixmap(0, 0, 4, 3);
    ASSERT_EQ(pm.width, 4);
    ASSERT_EQ(pm.pixels.size(), 48u);
    for (size_t i = 0; i < pm.pixels.size(); i += 4) {
        EXPECT_EQ(pm.pixels[i], 0);
        EXPECT_EQ(pm.pixels[i + 3], 255);
    }
    ImageRef blank = CreateBlankImage(8, 8, 2, 0);
    ASSERT_TRUE(blank);
    EXPECT_TRUE(blank->flags & IMAGE_DYNAMIC);
    CaptureIntoImage(blank, 0, 0, 1);
    CaptureIntoImage(blank, 0, 0, 7);  // no such frame: ignored
    ASSERT_FALSE(ImageFramePixels(blank, 1)->pixels.empty());
    DrawImage(nullptr, 1, 2, 0);
    DrawImage(blank, 1, 2, 5);
    DrawRect(0, 0, 10, 10);
    DrawLine(0, 0, 10, 10);
    DrawText("hello", 0, 0);
    Flip(-1);
}

TEST_F(NullGraphics, FlipPacesSixtyFramesPerSecondOnTheProgramClock) {
    UseVirtualClock(5000);
    ASSERT_NE(OpenDisplay(640, 480, 0, 60, 0), nullptr);
    int start = Millisecs();
    int longFrames = 0;
    for (int i = 0; i < 60; ++i) {
        int before = Millisecs();
        Flip(-1);
        int d = Millisecs() - before;
        EXPECT_TRUE(d == 16 || d == 17) << d;
        longFrames += d == 17;
    }
    EXPECT_EQ(Millisecs() - start, 1000);
    EXPECT_EQ(longFrames, 40);
    // A late frame is not caught up: after a long stall the next frame
    // waits a full period again.
    AdvanceVirtualClock(500);
    Flip(-1);
    int t = Millisecs();
    Flip(-1);
    EXPECT_GE(Millisecs() - t, 16);
    // A clock set back (a test starting its virtual clock again) is not
    // waited out: the schedule starts again from the new time.
    UseVirtualClock(1000);
    Flip(-1);
    EXPECT_EQ(Millisecs(), 1000);
    Flip(-1);
    EXPECT_GE(Millisecs() - 1000, 16);
    EXPECT_LE(Millisecs() - 1000, 17);
    UseRealClock();
}

TEST_F(NullGraphics, FlipPacingCarriesOnAcrossTheClockWrap) {
    // The 32-bit clock passes from its largest value to its smallest in the
    // middle of this second of frames.
    UseVirtualClock(INT32_MAX - 500);
    ASSERT_NE(OpenDisplay(640, 480, 0, 60, 0), nullptr);
    int start = Millisecs();
    for (int i = 0; i < 60; ++i) {
        int before = Millisecs();
        Flip(-1);
        int d = MsDiff(Millisecs(), before);
        EXPECT_TRUE(d == 16 || d == 17) << "frame " << i << " took " << d;
    }
    EXPECT_EQ(MsDiff(Millisecs(), start), 1000);
    EXPECT_LT(Millisecs(), 0);  // the clock did wrap
    UseRealClock();
}

TEST_F(NullGraphics, MissingAndCorruptFilesGiveNull) {
    EXPECT_EQ(LoadImage("/nonexistent/x.png"), nullptr);
    EXPECT_EQ(LoadImageStrip("/nonexistent/x.png", 16, 16, 0, 1), nullptr);
    EXPECT_EQ(LoadImageFont("/nonexistent/x.ttf", 12, FONT_SMOOTH), nullptr);
    auto px = GfxFill(8, 8, 10, 20, 30, 255);
    std::string path = Png("trunc.png", px, 8, 8, true);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 40u);
    // Every truncation of a valid file is refused or decoded, never a crash.
    for (size_t n = 0; n < bytes.size(); ++n) {
        ImageRef img = LoadImageFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), n);
        EXPECT_EQ(img, nullptr) << n;
    }
    EXPECT_TRUE(LoadImageFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    // A text file is not a picture, and is not a font either.
    std::string txt = GfxTempPath("not_a_font.ttf");
    files_.push_back(txt);
    { std::ofstream(txt) << "hello there, this is not a font file at all"; }
    EXPECT_EQ(LoadImageFont(txt, 12, FONT_SMOOTH), nullptr);
    EXPECT_EQ(LoadImage(txt), nullptr);
}

TEST_F(NullGraphics, MaskedImageWithoutAlphaGetsTransparencyAndFringeColour) {
    // 3 x 3 RGB: black centre ringed by coloured pixels, plus a black corner
    // whose only solid neighbours are known.
    auto px = GfxFill(3, 3, 0, 0, 0, 255);
    GfxSet(px, 3, 1, 0, 30, 60, 90, 255);
    GfxSet(px, 3, 0, 1, 90, 60, 30, 255);
    GfxSet(px, 3, 2, 1, 30, 30, 30, 255);
    std::string path = Png("masked.png", px, 3, 3, false);

    ImageRef img = LoadImage(path, IMAGE_MASKED);
    ASSERT_TRUE(img);
    const TPixmap* pm = ImageFramePixels(img, 0);
    auto at = [&](int x, int y) { return &pm->pixels[((size_t)y * 3 + x) * 4]; };
    EXPECT_EQ(at(1, 0)[3], 255);
    EXPECT_EQ(at(1, 0)[0], 30);
    // Centre: transparent, colour = mean of the three solid neighbours.
    EXPECT_EQ(at(1, 1)[3], 0);
    EXPECT_EQ(at(1, 1)[0], (30 + 90 + 30) / 3);
    EXPECT_EQ(at(1, 1)[1], (60 + 60 + 30) / 3);
    EXPECT_EQ(at(1, 1)[2], (90 + 30 + 30) / 3);
    // Top-left corner: neighbours (1,0) and (0,1) are solid.
    EXPECT_EQ(at(0, 0)[3], 0);
    EXPECT_EQ(at(0, 0)[0], (30 + 90) / 2);
    // Bottom-left corner: (0,1) is its only solid neighbour.
    EXPECT_EQ(at(0, 2)[0], 90);

    // Without IMAGE_MASKED the same file is opaque everywhere.
    ImageRef plain = LoadImage(path, IMAGE_FILTERED);
    for (size_t i = 3; i < ImageFramePixels(plain, 0)->pixels.size(); i += 4)
        EXPECT_EQ(ImageFramePixels(plain, 0)->pixels[i], 255);

    // A file with alpha is used unchanged even when masked.
    auto apx = GfxFill(2, 1, 0, 0, 0, 200);
    ImageRef withAlpha = LoadImage(Png("alpha.png", apx, 2, 1, true), IMAGE_MASKED);
    EXPECT_EQ(ImageFramePixels(withAlpha, 0)->pixels[3], 200);
    EXPECT_EQ(ImageFramePixels(withAlpha, 0)->pixels[0], 0);
}

TEST_F(NullGraphics, DefaultFlagsAndAutoCentredHandles) {
    auto px = GfxFill(10, 6, 255, 255, 255, 255);
    std::string path = Png("handle.png", px, 10, 6, false);
    ImageRef a = LoadImage(path);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->flags, IMAGE_MASKED | IMAGE_FILTERED);
    EXPECT_EQ(a->handle_x, 0.0f);
    SetAutoCentreHandle(true);
    ImageRef b = LoadImage(path);
    EXPECT_EQ(b->handle_x, 5.0f);
    EXPECT_EQ(b->handle_y, 3.0f);
    ImageRef c = CreateBlankImage(20, 8, 1, 0);
    EXPECT_EQ(c->handle_x, 10.0f);
    EXPECT_EQ(ImageWidth(b), 10);
    EXPECT_EQ(ImageHeight(b), 6);
    EXPECT_EQ(ImageWidth(nullptr), 0);
    SetAutoCentreHandle(false);
}

TEST_F(NullGraphics, LoadImageStripCutsCellsRowByRow) {
    // 64 x 64 with 16 x 16 cells: every cell is filled with its own number.
    std::vector<uint8_t> px(64 * 64 * 4);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) GfxSet(px, 64, x, y, (uint8_t)((y / 16) * 4 + x / 16), 0, 0, 255);
    std::string path = Png("strip.png", px, 64, 64, true);
    ImageRef all = LoadImageStrip(path, 16, 16, 0, 16);
    ASSERT_TRUE(all);
    EXPECT_EQ(ImageFrameCount(all), 16);
    EXPECT_EQ(ImageWidth(all), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ImageFramePixels(all, i)->pixels[0], i);
    EXPECT_EQ(LoadImageStrip(path, 16, 16, 0, 17), nullptr);
    EXPECT_EQ(LoadImageStrip(path, 16, 16, 1, 16), nullptr);
    ImageRef tail = LoadImageStrip(path, 16, 16, 5, 3);
    ASSERT_TRUE(tail);
    EXPECT_EQ(ImageFrameCount(tail), 3);
    EXPECT_EQ(ImageFramePixels(tail, 0)->pixels[0], 5);
    EXPECT_EQ(ImageFramePixels(tail, 2)->pixels[0], 7);
    // Partial cells at the right and bottom edge are not counted: 40 wide
    // holds two 16-wide cells per row.
    std::string odd = Png("odd.png", GfxFill(40, 40, 1, 1, 1, 255), 40, 40, true);
    EXPECT_TRUE(LoadImageStrip(odd, 16, 16, 0, 4));
    EXPECT_EQ(LoadImageStrip(odd, 16, 16, 0, 5), nullptr);
    EXPECT_EQ(LoadImageStrip(odd, 0, 16, 0, 1), nullptr);
}

// Image files over 64 MB and font files over 32 MB are refused like any
// unreadable file, though these would decode: the padding is ignored.
TEST_F(NullGraphics, OversizedImageAndFontFilesAreRefused) {
    std::string png = Png("padded.png", GfxFill(8, 8, 10, 20, 30, 255), 8, 8, true);
    ASSERT_TRUE(LoadImage(png));
    std::filesystem::resize_file(png, (64u << 20) + 1);  // sparse: costs no disk
    EXPECT_EQ(LoadImage(png), nullptr);
    EXPECT_EQ(LoadImageStrip(png, 4, 4, 0, 1), nullptr);
    std::string ttf = GfxTempPath("padded.ttf");
    files_.push_back(ttf);
    std::filesystem::copy_file(std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Plainhand.ttf", ttf,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(LoadImageFont(ttf, 12, FONT_SMOOTH));
    std::filesystem::resize_file(ttf, (32u << 20) + 1);
    EXPECT_EQ(LoadImageFont(ttf, 12, FONT_SMOOTH), nullptr);
}

TEST_F(NullGraphics, DefaultFontWidthsAndHeight) {
    EXPECT_EQ(TextWidth(""), 0);
    EXPECT_EQ(TextWidth("A"), 8);
    EXPECT_EQ(TextWidth("Hello, World! ~"), 15 * 8);
    // Codes outside 32..127 have no glyph in the built-in font.
    EXPECT_EQ(TextWidth(std::string("a\tb\xe9") + char(127)), 3 * 8);
    EXPECT_EQ(TextHeight(), 16);
    SetImageFont(nullptr);
    EXPECT_EQ(TextWidth("abc"), 24);
}

TEST_F(NullGraphics, TrueTypeFontMeasuresWithAdvancesAndLatin1) {
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (FileType(path) != 1) WORMLOB_SKIP("DejaVu Sans is not installed");
    FontRef f = LoadImageFont(path, 20, FONT_SMOOTH);
    ASSERT_TRUE(f);
    SetImageFont(f);
    int h = TextHeight();
    EXPECT_GE(h, 20);
    EXPECT_LE(h, 30);
    int wi = TextWidth("i"), wm = TextWidth("m");
    EXPECT_GT(wm, wi);
    EXPECT_EQ(TextWidth("mi"), wm + wi);  // advances are whole pixels
    EXPECT_EQ(TextWidth(""), 0);
    // 0xE9 is e-acute in Latin-1; DejaVu has it, about as wide as "e".
    EXPECT_NEAR(TextWidth("\xe9"), TextWidth("e"), 1);
    // A font at a size no rasteriser accepts still loads when smaller
    // sizes work: TrueType accepts any size, so this is just the size.
    EXPECT_TRUE(LoadImageFont(path, 1, FONT_SMOOTH));
    EXPECT_EQ(LoadImageFont(path, 0, FONT_SMOOTH), nullptr);
    SetImageFont(nullptr);
    EXPECT_EQ(TextWidth("mi"), 16);
}

TEST_F(NullGraphics, BitmapFontFallsBackToTheNextSmallerSizeItHas) {
    // A BDF face with one 8-pixel strike and the single glyph "A".
    const char* bdf =
        "STARTFONT 2.1\n"
        "FONT -test-fixed-medium-r-normal--8-80-75-75-c-60-iso10646-1\n"
        "SIZE 8 75 75\n"
        "FONTBOUNDINGBOX 6 8 0 -1\n"
        "STARTPROPERTIES 3\n"
        "PIXEL_SIZE 8\n"
        "FONT_ASCENT 7\n"
        "FONT_DESCENT 1\n"
        "ENDPROPERTIES\n"
        "CHARS 1\n"
        "STARTCHAR A\nENCODING 65\nSWIDTH 750 0\nDWIDTH 6 0\nBBX 6 8 0 -1\nBITMAP\n"
        "20\n50\n88\n88\nF8\n88\n88\n00\nENDCHAR\n"
        "ENDFONT\n";
    std::string path = GfxTempPath("strike8.bdf");
    files_.push_back(path);
    { std::ofstream(path) << bdf; }
    FontRef f = LoadImageFont(path, 12, FONT_SMOOTH);
    ASSERT_TRUE(f) << "12 should fall back to the 8-pixel strike";
    SetImageFont(f);
    EXPECT_EQ(TextHeight(), 8);
    EXPECT_EQ(TextWidth("AAB"), 12);  // no "B" in the face
    SetImageFont(nullptr);
    EXPECT_EQ(LoadImageFont(path, 7, FONT_SMOOTH), nullptr);  // nothing at 7 or below
}

// Two 8 x 8 images: a solid left half and a transparent right half.
class Overlap : public NullGraphics {
protected:
    void SetUp() override {
        NullGraphics::SetUp();
        auto px = GfxFill(8, 8, 255, 255, 255, 255);
        for (int y = 0; y < 8; ++y)
            for (int x = 4; x < 8; ++x) GfxSet(px, 8, x, y, 255, 255, 255, 127);
        half = LoadImage(Png("half.png", px, 8, 8, true), 0);
        solid = LoadImage(Png("solid.png", GfxFill(8, 8, 9, 9, 9, 128), 8, 8, true), 0);
        ASSERT_TRUE(half && solid);
    }
    ImageRef half, solid;
};

TEST_F(Overlap, BoxesOverlappingOnlyOverTransparentPixelsDoNotCollide) {
    // solid placed over half's transparent right half (x 4..7).
    EXPECT_FALSE(ImagesOverlap(half, 0, 0, 0, 0, 1, 1, solid, 4, 0, 0, 0, 1, 1));
    EXPECT_TRUE(ImagesOverlap(half, 0, 0, 0, 0, 1, 1, solid, 3, 0, 0, 0, 1, 1));
    EXPECT_TRUE(ImagesOverlap(solid, 3, 0, 0, 0, 1, 1, half, 0, 0, 0, 0, 1, 1));
    // Far apart, touching edges and empty frames.
    EXPECT_FALSE(ImagesOverlap(half, 0, 0, 0, 0, 1, 1, solid, 100, 100, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 0, 0, 1, 1, solid, 8, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 0, 0, 1, 1, nullptr, 0, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 3, 0, 1, 1, solid, 0, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 0, 0, 0, 0, solid, 0, 0, 0, 0, 1, 1));
}

TEST_F(Overlap, RotationAndScaleActAboutTheHandle) {
    // Rotating half by 180 degrees about its top-left handle puts its solid
    // part at x -4..0, y -8..0.
    EXPECT_FALSE(ImagesOverlap(half, 8, 8, 0, 180, 1, 1, solid, 8, 8, 0, 0, 1, 1));
    EXPECT_TRUE(ImagesOverlap(half, 8, 8, 0, 180, 1, 1, solid, 0, 0, 0, 0, 1, 1));
    // Scaled by 2, the solid half covers x 0..8: solid at x 7 collides, at 8
    // it only meets transparent pixels.
    EXPECT_TRUE(ImagesOverlap(half, 0, 0, 0, 0, 2, 2, solid, 7, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(half, 0, 0, 0, 0, 2, 2, solid, 8, 0, 0, 0, 1, 1));
    // The call leaves the drawing state's rotation and scale alone.
    SetRotation(12);
    SetScale(3, 4);
    ImagesOverlap(half, 0, 0, 0, 45, 2, 2, solid, 3, 3, 0, 30, 1, 1);
    float sx, sy;
    GetScale(sx, sy);
    EXPECT_EQ(GetRotation(), 12.0f);
    EXPECT_EQ(sx, 3.0f);
    EXPECT_EQ(sy, 4.0f);
}

// Scales that make the shared box billions of pixels still give the right
// answer for large solid areas (the grid), and nonsense scales give none.
TEST_F(Overlap, AbsurdScalesStayCorrectAndFinite) {
    EXPECT_TRUE(ImagesOverlap(half, 0, 0, 0, 0, 1e5f, 1e5f, solid, 0, 0, 0, 0, 1e5f, 1e5f));
    EXPECT_FALSE(ImagesOverlap(half, 0, 0, 0, 0, 1e5f, 1e5f, solid, 4e5f, 0, 0, 0, 1e5f, 1e5f));
    EXPECT_TRUE(ImagesOverlap(solid, 0, 0, 0, 0, 1e30f, 1e30f, solid, 5, 5, 0, 0, 1e30f, 1e30f));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 0, 0, NAN, 1, solid, 0, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(solid, 0, 0, 0, 0, INFINITY, 1, solid, 0, 0, 0, 0, 1, 1));
}

TEST_F(Overlap, HandleOutsideTheImageStillFindsTheHit) {
    // half's handle 20 pixels left of its own left edge: drawn at (0, 0) its
    // pixels cover x 20..27, and rotated by 90 degrees they hang below.
    half->handle_x = -20;
    EXPECT_TRUE(ImagesOverlap(half, 0, 0, 0, 0, 1, 1, solid, 18, 0, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(half, 0, 0, 0, 0, 1, 1, solid, 0, 0, 0, 0, 1, 1));
    EXPECT_TRUE(ImagesOverlap(half, 0, 0, 0, 90, 3, 3, solid, -10, 65, 0, 0, 1, 1));
    half->handle_x = 0;
}

TEST_F(NullGraphics, OpaqueSourceWithoutMaskIsSolidEverywhere) {
    // Black RGB picture without IMAGE_MASKED: no alpha channel, all solid.
    ImageRef a = LoadImage(Png("black.png", GfxFill(4, 4, 0, 0, 0, 255), 4, 4, false), 0);
    ImageRef m = LoadImage(Png("black2.png", GfxFill(4, 4, 0, 0, 0, 255), 4, 4, false), IMAGE_MASKED);
    EXPECT_TRUE(ImagesOverlap(a, 0, 0, 0, 0, 1, 1, a, 2, 2, 0, 0, 1, 1));
    EXPECT_FALSE(ImagesOverlap(m, 0, 0, 0, 0, 1, 1, a, 2, 2, 0, 0, 1, 1));
}

TEST_F(NullGraphics, PngSaveLoadRoundTripAndUnwritablePath) {
    TPixmap pm;
    pm.width = 5, pm.height = 3, pm.pitch = 20, pm.format = 4;
    for (int i = 0; i < 15; ++i) {
        uint8_t v = (uint8_t)(i * 17);
        pm.pixels.insert(pm.pixels.end(), {v, (uint8_t)(255 - v), (uint8_t)(i), (uint8_t)(200 + i)});
    }
    std::string path = GfxTempPath("rt.png");
    files_.push_back(path);
    ASSERT_TRUE(SavePixmapAsPng(pm, path, 9));
    ImageRef img = LoadImage(path, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(ImageFramePixels(img, 0)->pixels, pm.pixels);
    EXPECT_FALSE(SavePixmapAsPng(pm, "/nonexistent/dir/x.png", 9));
    TPixmap empty;
    EXPECT_FALSE(SavePixmapAsPng(empty, path, 9));
}

TEST_F(NullGraphics, BmpAndTgaDecode) {
    // 2 x 2, 24-bit BMP, bottom-up rows padded to 4 bytes.
    std::vector<uint8_t> bmp(54 + 16, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = (uint8_t)(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    le32(2, (uint32_t)bmp.size());
    le32(10, 54);
    le32(14, 40);
    le32(18, 2);
    le32(22, 2);
    bmp[26] = 1, bmp[28] = 24;
    // Bottom row: blue, green. Top row: red, white. (BGR order.)
    uint8_t rows[16] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    std::copy(rows, rows + 16, bmp.begin() + 54);
    ImageRef b = LoadImageFromMemory(bmp.data(), bmp.size(), 0);
    ASSERT_TRUE(b);
    const auto& bp = ImageFramePixels(b, 0)->pixels;
    EXPECT_EQ(std::vector<uint8_t>(bp.begin(), bp.begin() + 8), (std::vector<uint8_t>{255, 0, 0, 255, 255, 255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(bp.begin() + 8, bp.end()), (std::vector<uint8_t>{0, 0, 255, 255, 0, 255, 0, 255}));
    // The same file cut short is refused.
    EXPECT_EQ(LoadImageFromMemory(bmp.data(), bmp.size() - 4, 0), nullptr);

    // 2 x 1 RLE TGA, 32-bit, top-down: one run packet of two pixels.
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 10;
    tga[12] = 2, tga[14] = 1, tga[16] = 32, tga[17] = 0x28;
    tga.insert(tga.end(), {0x81, 10, 20, 30, 40});
    ImageRef t = LoadImageFromMemory(tga.data(), tga.size(), 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(ImageFramePixels(t, 0)->pixels, (std::vector<uint8_t>{30, 20, 10, 40, 30, 20, 10, 40}));
    // A run longer than the picture is refused.
    tga[18] = 0x85;
    EXPECT_EQ(LoadImageFromMemory(tga.data(), tga.size(), 0), nullptr);
}

namespace {
// A 2 x 1 BMP: the masks sit inside a header of 52 bytes or more, else
// right after the 40-byte one.
std::vector<uint8_t> Bmp2x1(uint32_t hdrSize, int bpp, int comp, const std::vector<uint32_t>& masks,
                            uint32_t px0, uint32_t px1) {
    size_t pixOffset = 14 + std::max<size_t>(hdrSize, 40 + masks.size() * 4);
    std::vector<uint8_t> b(pixOffset + 8, 0);
    auto le = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    le(2, (uint32_t)b.size(), 4);
    le(10, (uint32_t)pixOffset, 4);
    le(14, hdrSize, 4);
    le(18, 2, 4);
    le(22, 1, 4);
    le(26, 1, 2);
    le(28, (uint32_t)bpp, 2);
    le(30, (uint32_t)comp, 4);
    for (size_t i = 0; i < masks.size(); ++i) le(54 + 4 * i, masks[i], 4);
    le(pixOffset, px0, bpp / 8);
    le(pixOffset + bpp / 8, px1, bpp / 8);
    return b;
}
}  // namespace

// 16- and 32-bit BMP files: their bit-field masks place the channels, and
// an alpha channel is used as it is (masking leaves it alone).
TEST_F(NullGraphics, BmpBitFieldsAndAlpha) {
    struct {
        const char* what;
        std::vector<uint8_t> file;
        std::vector<uint8_t> rgba;
    } cases[] = {
        {"32-bit, fourth byte all 0: opaque; black masked, taking its neighbour's colour",
         Bmp2x1(40, 32, 0, {}, 0x00102030, 0), {0x10, 0x20, 0x30, 255, 0x10, 0x20, 0x30, 0}},
        {"32-bit with alpha bytes: kept",
         Bmp2x1(40, 32, 0, {}, 0x80102030, 0x00000000), {0x10, 0x20, 0x30, 0x80, 0, 0, 0, 0}},
        {"bit fields after a 40-byte header, R G B X order",
         Bmp2x1(40, 32, 3, {0xFF, 0xFF00, 0xFF0000}, 0x00302010, 0xFF0000FF), {0x10, 0x20, 0x30, 255, 255, 0, 0, 255}},
        {"bit fields and alpha mask inside a 56-byte header",
         Bmp2x1(56, 32, 3, {0xFF00, 0xFF0000, 0xFF000000, 0xFF}, 0x30201040, 0), {0x10, 0x20, 0x30, 0x40, 0, 0, 0, 0}},
        {"16-bit, 5-5-5 by default", Bmp2x1(40, 16, 0, {}, 0x7C00, 0x001F), {255, 0, 0, 255, 0, 0, 255, 255}},
        {"16-bit bit fields, 5-6-5", Bmp2x1(40, 16, 3, {0xF800, 0x07E0, 0x001F}, 0x07E0, 0x8000),
         {0, 255, 0, 255, 132, 0, 0, 255}},
    };
    for (auto& c : cases) {
        ImageRef img = LoadImageFromMemory(c.file.data(), c.file.size(), IMAGE_MASKED);
        ASSERT_TRUE(img) << c.what;
        EXPECT_EQ(ImageFramePixels(img, 0)->pixels, c.rgba) << c.what;
    }
    // Masks that would lie past the end of the file are refused.
    auto cut = Bmp2x1(40, 32, 3, {0xFF, 0xFF00, 0xFF0000}, 0, 0);
    cut.resize(60);
    EXPECT_EQ(LoadImageFromMemory(cut.data(), cut.size(), 0), nullptr);
}

TEST_F(NullGraphics, JpegDecodesWhenBuiltWithLibjpeg) {
#ifdef WORMLOB_HAVE_JPEG
    // 16 x 8 picture, left half red, right half blue, at high quality.
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&c, &buf, &len);
    c.image_width = 16, c.image_height = 8, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 98, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(16 * 3);
    for (int x = 0; x < 16; ++x) row[x * 3] = x < 8 ? 255 : 0, row[x * 3 + 2] = x < 8 ? 0 : 255;
    while (c.next_scanline < 8) {
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    ImageRef img = LoadImageFromMemory(buf, len, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 16);
    const auto& px = ImageFramePixels(img, 0)->pixels;
    EXPECT_GT(px[(3 * 16 + 2) * 4], 200);       // red on the left
    EXPECT_GT(px[(3 * 16 + 13) * 4 + 2], 200);  // blue on the right
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(LoadImageFromMemory(buf, len / 2, 0), nullptr);  // cut short
    free(buf);
#else
    // Without libjpeg a JPEG file is an unknown format.
    const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0};
    EXPECT_EQ(LoadImageFromMemory(soi, sizeof soi, 0), nullptr);
#endif
}

}  // namespace

#include "screens/helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "media/graphics.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "tests/support/headless.h"

namespace {
ImageRef Square(int w, int h) {
    ImageRef im = CreateBlankImage(w, h, 1, 0);
    return im;
}
}  // namespace

class Helpers : public ::testing::Test {
protected:
    void SetUp() override {
        // Headless: images answer as with OpenGL, no pixels are drawn.
        ASSERT_TRUE(OpenHeadlessDisplay());
        std::memset(SpriteCount, 0, sizeof SpriteCount);
        Settings[7] = 0;
        FrameSkipPhase = 0;
    }
    void TearDown() override { CloseDisplay(); }
};

TEST_F(Helpers, StateShorthands) {
    SetDrawScale(3);
    float sx, sy;
    GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 3);
    EXPECT_FLOAT_EQ(sy, 3);
    SetDrawScale(3, 1.5f);
    GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sy, 1.5f);

    SetAlpha(0.25f);
    SetTint(300, -5, 127.9f);
    int r, g, b;
    GetColor(r, g, b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 127);
    EXPECT_FLOAT_EQ(GetAlpha(), 0.25f);  // alpha untouched without the argument
    SetTint(80, 80, 80, 2);
    EXPECT_FLOAT_EQ(GetAlpha(), 1);
    SetTint(254.9f, 0, 0, -1);
    GetColor(r, g, b);
    EXPECT_EQ(r, 254);
    EXPECT_FLOAT_EQ(GetAlpha(), 0);

    SetBlendKind(3);
    EXPECT_EQ(GetBlend(), BLEND_LIGHT);
    SetBlendKind(9);  // unknown kinds change nothing
    EXPECT_EQ(GetBlend(), BLEND_LIGHT);
    SetBlendKind(2);
    EXPECT_EQ(GetBlend(), BLEND_SHADE);
    SetBlendKind(0);
    EXPECT_EQ(GetBlend(), BLEND_SOLID);
    SetDrawAngle(30);
    ResetDrawState();
    EXPECT_EQ(GetBlend(), BLEND_ALPHA);
    EXPECT_FLOAT_EQ(GetRotation(), 0);
    GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 1);

    EXPECT_FLOAT_EQ(ClampFloat(5, 10, 0), 10);
    EXPECT_FLOAT_EQ(ClampFloat(-1, 0, 1), 0);
    EXPECT_FLOAT_EQ(ClampFloat(std::nanf(""), 2, 3), 2);
}

TEST_F(Helpers, MouseInRectIsStrict) {
    auto at = [](int x, int y) {
        FrameMouseX = x;
        FrameMouseY = y;
        return MouseInRect(10, 10, 20, 20);
    };
    EXPECT_EQ(at(10, 15), 0);
    EXPECT_EQ(at(30, 15), 0);
    EXPECT_EQ(at(15, 30), 0);
    EXPECT_EQ(at(11, 11), 1);
    EXPECT_EQ(at(29, 29), 1);
}

TEST_F(Helpers, BudgetsAndFrameGate) {
    ImageRef im = Square(16, 16);
    SpriteBudget[1] = 2;
    for (int i = 0; i < 3; i++) DrawSprite(im, 0, 0, 0, 1);
    EXPECT_EQ(SpriteCount[1], 2);
    BeginFrame(0);
    EXPECT_EQ(SpriteCount[1], 0);
    DrawSprite(im, 0, 0, 0, 1);
    DrawSprite(im, 0, 0, 0, 1);
    EXPECT_EQ(SpriteCount[1], 2);

    // BeginFrame resets categories 1..10 only.
    SpriteCount[11] = 5;
    SpriteCount[0] = 4;
    BeginFrame(0);
    EXPECT_EQ(SpriteCount[11], 5);
    EXPECT_EQ(SpriteCount[0], 4);

    // Frame skipping: nothing drawn or counted on the skipped phase.
    Settings[7] = 1;
    FrameSkipPhase = 1;
    DrawSprite(im, 0, 0, 0, 1);
    EXPECT_EQ(SpriteCount[1], 0);
    FrameSkipPhase = 0;
    DrawSprite(im, 0, 0, 0, 1);
    EXPECT_EQ(SpriteCount[1], 1);
    SpriteBudget[1] = 50000;
}

TEST_F(Helpers, GlowSpriteBudgetsAreIndependentAndStateIsRestored) {
    ImageRef im = Square(16, 16);
    SpriteBudget[1] = 0;
    SpriteBudget[2] = 5;
    SetScale(2, 3);
    SetAlpha(0.4f);
    SetBlend(BLEND_SHADE);
    DrawGlowSprite(im, 10, 10, 0, nullptr, 1.5f, 0);
    EXPECT_EQ(SpriteCount[1], 0);
    EXPECT_EQ(SpriteCount[2], 1);  // a glow alpha of 0 still costs a draw
    float sx, sy;
    GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 2);
    EXPECT_FLOAT_EQ(sy, 3);
    EXPECT_FLOAT_EQ(GetAlpha(), 0.4f);
    EXPECT_EQ(GetBlend(), BLEND_SHADE);
    SpriteBudget[1] = 50000;
    SpriteBudget[2] = 50000;
}

namespace {
struct Bar {
    float y;
    int r, b;
};
std::vector<Bar> g_bars;
void RecordBar(float, float y, float, float) {
    int r, g, b;
    GetColor(r, g, b);
    g_bars.push_back({y, r, b});
}
}  // namespace

// One bar every 10 rows of the view, 30 drawing units apart, turned by
// -45 degrees; the blue rises by half a step per bar from 50.5 (truncated),
// and with the red fade the red is 100 less the blue.
TEST_F(Helpers, StripesBrightenBarByBar) {
    for (bool redFade : {false, true}) {
        g_bars.clear();
        ResetDrawState();
        DrawStripes(redFade, RecordBar);
        ASSERT_EQ(g_bars.size(), 97u);  // rows 0, 10, ..., 960
        EXPECT_FLOAT_EQ(GetRotation(), -45);
        EXPECT_EQ(g_bars[0].b, 50);
        EXPECT_EQ(g_bars[1].b, 51);
        EXPECT_EQ(g_bars[96].b, 98);
        EXPECT_FLOAT_EQ(g_bars[96].y, 2880);
        EXPECT_EQ(g_bars[0].r, redFade ? 49 : 0);
        EXPECT_EQ(g_bars[96].r, redFade ? 1 : 0);
    }
}

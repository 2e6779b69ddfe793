#include "services/popups.h"

#include <gtest/gtest.h>

#include "media/graphics.h"
#include "services/drawlog.h"
#include "shell/display.h"

class Popups : public ::testing::Test {
protected:
    std::vector<DrawCall> calls;
    void SetUp() override {
        ForceNullGraphics(true);
        SetNullDisplayMode(1280, 960);
        SelectGraphicsBackend(NullGraphicsBackend(), 2);
        ASSERT_NE(OpenDisplay(1280, 960, 0, 60, 0), nullptr);
        std::string font = std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Plainhand.ttf";
        for (int i = 1; i <= 4; i++) Fonts[i] = LoadImageFont(font, 10 + i, 0);
        PopupList.clear();
        SetDrawRecorder(&calls);
    }
    void TearDown() override {
        SetDrawRecorder(nullptr);
        for (auto& f : Fonts) f.reset();
        PopupList.clear();
        CloseDisplay();
    }
    void Tick() {
        calls.clear();
        TickPopups();
    }
};

TEST_F(Popups, FirstTickDrawsJustAboveTheCreationPointNearlyOpaque) {
    AddPopup(0, 100, 200, 255, 128, 0);
    ASSERT_EQ(PopupList.size(), 1u);
    EXPECT_EQ(PopupList.front()->t, 120);
    Tick();
    ASSERT_EQ(calls.size(), 1u);
    const DrawCall& c = calls[0];
    EXPECT_EQ(c.text, "0");  // a ball that scores nothing still shows 0
    EXPECT_EQ(c.x, 100);
    EXPECT_EQ(c.y, 199);  // 199.75 truncated
    EXPECT_EQ(c.hAlign, 1);
    EXPECT_EQ(c.vAlign, 1);
    EXPECT_EQ(c.r, 255);
    EXPECT_EQ(c.g, 128);
    EXPECT_EQ(c.b, 0);
    EXPECT_FLOAT_EQ(c.alpha, 119.0f / 120.0f);
    EXPECT_EQ(c.fontSlot, 3);
    EXPECT_FLOAT_EQ(PopupList.front()->y, 199.75f);
}

TEST_F(Popups, RiseFadeAndExpireAfterOneHundredTwentyTicks) {
    AddPopup(-25, -3, 0, 10, 20, 30);
    int drawn = 0;
    float lastAlpha = 2;
    for (int tick = 1; tick <= 120; tick++) {
        Tick();
        if (tick < 120) {
            ASSERT_EQ(calls.size(), 1u) << tick;
            EXPECT_EQ(calls[0].text, "-25");
            EXPECT_LT(calls[0].alpha, lastAlpha);
            lastAlpha = calls[0].alpha;
            // Truncated toward zero: -0.25 draws at 0, -3 stays -3.
            EXPECT_EQ(calls[0].y, (float)(int)(-0.25f * tick));
            EXPECT_EQ(calls[0].x, -3);
            drawn++;
        } else {
            EXPECT_TRUE(calls.empty());
        }
    }
    EXPECT_EQ(drawn, 119);
    EXPECT_FLOAT_EQ(lastAlpha, 1.0f / 120.0f);
    EXPECT_TRUE(PopupList.empty());
}

TEST_F(Popups, SeveralAtOnceDrawInCreationOrderAndExpireSeparately) {
    AddPopup(5, 50, 50, 255, 255, 255);
    Tick();
    AddPopup(10, 50, 50, 0, 255, 0);
    AddPopup(15, 50, 50, 0, 0, 255);
    Tick();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].text, "5");
    EXPECT_EQ(calls[1].text, "10");
    EXPECT_EQ(calls[2].text, "15");  // drawn last: on top
    for (int i = 0; i < 118; i++) Tick();
    // The first is gone on its 120th tick, the others one tick later.
    ASSERT_EQ(PopupList.size(), 2u);
    EXPECT_EQ(PopupList.front()->n, 10);
    Tick();
    EXPECT_TRUE(PopupList.empty());
}

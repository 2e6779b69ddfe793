// The score table drawn through OpenGL (under a virtual X server): checks
// pixels of the frame, the separator, the picked row and the detail box, and
// leaves a picture of the panel in the build folder ("scoretable.png").
#include "tests/support/skip.h"
#include <gtest/gtest.h>

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/datetext.h"
#include "services/scoretable.h"
#include "shell/display.h"
#include "shell/framehub.h"

namespace {
const std::string Common = std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/";

struct Rgb {
    int r, g, b;
};
Rgb At(const TPixmap& pm, int x, int y) {
    const uint8_t* p = &pm.pixels[(size_t)y * pm.pitch + (size_t)x * 4];
    return {p[0], p[1], p[2]};
}
}  // namespace

TEST(TablePixels, PanelRowsAndDetailBoxReachTheScreen) {
    ForceNullGraphics(false);
    SelectGraphicsBackend(OpenGLBackend(), 2);
    if (!OpenDisplay(1280, 960, 0, 60, 0)) WORMLOB_SKIP("no OpenGL display: " << DisplayError());
    SetResolution(1280, 960);
    ViewWidth = 1280;
    ViewHeight = 960;
    SetAutoCentreHandle(true);
    IconSheetSmooth = LoadImageStrip(Common + "icons.png", 16, 16, 0, 64, 3);
    Fonts[1] = LoadImageFont(Common + "Plainhand.ttf", 24, FONT_SMOOTH);
    Fonts[3] = LoadImageFont(Common + "Plainhand.ttf", 16, FONT_SMOOTH);
    Fonts[4] = LoadImageFont(Common + "Plainhand.ttf", 20, FONT_SMOOTH);

    const char* names[] = {"ANN", "Bob", "Carla", "Dmitri", "Eve", "Frank", "Gunhild", "Hiro"};
    int64_t t = MakeTimestampAt("05 Mar 2010", "18:30:00");
    ScoreList.clear();
    for (int i = 0; i < 30; i++) {
        auto r = std::make_shared<Scores>();
        r->Score = i == 0 ? 90000 : 5000 + (i * 7919) % 40000;
        r->Timestamp = t - i * 3600;
        r->Name = names[i % 8];
        r->GameMode = 1;
        ScoreList.push_back(r);
    }
    const int VH = 960, X0 = 1280 - 10 - 320;
    ResetScoreView();
    FrameMouseX = X0 + 150;
    FrameMouseY = VH - 436 + 17 + 8;  // over row 2
    SetColor(0, 0, 0);
    ClearScreen();
    DrawScoreTable(320, 1, 0, 0);
    ASSERT_EQ(PickedRecord, TopScores[2]);
    TPixmap pm = GrabPixmap(0, 0, 1280, 960);
    SavePixmapAsPng(pm, std::string(WORMLOB_BINARY_DIR) + "/scoretable.png", 6);
    ASSERT_EQ(pm.width, 1280);

    // Yellow frame at alpha 0.6 over the black screen.
    Rgb frame = At(pm, X0 - 1, VH - 300);
    EXPECT_NEAR(frame.r, 153, 3);
    EXPECT_NEAR(frame.g, 153, 3);
    EXPECT_NEAR(frame.b, 0, 3);
    // The inner panel: black over yellow, both at 0.6.
    Rgb inner = At(pm, X0 + 160, VH - 200);
    EXPECT_NEAR(inner.r, 61, 3);
    EXPECT_NEAR(inner.b, 0, 3);
    // The dark blue separator of the timeline.
    Rgb line = At(pm, 1050, VH - 160);
    EXPECT_NEAR(line.r, 0, 3);
    EXPECT_NEAR(line.b, 80, 3);
    // The picked row is lit compared with the row above it.
    Rgb row1 = At(pm, X0 + 160, VH - 436 + 8);
    Rgb row2 = At(pm, X0 + 160, VH - 436 + 17 + 8);
    EXPECT_GT(row2.b, row1.b + 40);
    // The detail box above the panel: white at 0.6 over black.
    Rgb box = At(pm, X0 + 200, VH - 500);
    EXPECT_NEAR(box.r, 153, 3);
    EXPECT_NEAR(box.b, 153, 3);
    // Outside the panel nothing was drawn.
    Rgb outside = At(pm, X0 - 20, VH - 300);
    EXPECT_EQ(outside.r + outside.g + outside.b, 0);

    for (auto& f : Fonts) f.reset();
    IconSheetSmooth.reset();
    PickedRecord.reset();
    ScoreList.clear();
    CloseDisplay();
}

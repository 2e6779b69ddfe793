// The title screen's inputs, in-process on the null drawing back end.
#include "shell/title.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "media/graphics.h"
#include "media/system.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/headless.h"

namespace fs = std::filesystem;

class Title : public ::testing::Test {
protected:
    TempFilesFolder tmp{"title"};
    void SetUp() override {
        ChangeDir("418/");
        UseVirtualClock(0);
        ASSERT_TRUE(OpenHeadlessDisplay());
        ScreenWidth = 1280;
        SetDefaultSettings();
        ResetInputTables();
        SlideIn = StartLatch = StartHeld = 0;
        CurrentMode = 1;
        PanelOffset = -300;
        SettingsOpen = 0;
        FillCredits();
    }
    void TearDown() override {
        CloseDisplay();
        UseRealClock();
    }
    static void Move(int x, int y) {
        InputEvent e{INPUT_MOUSE_MOVE};
        e.x = x;
        e.y = y;
        PostInputEvent(e);
    }
    static void Button(bool down) {
        InputEvent e{down ? INPUT_MOUSE_DOWN : INPUT_MOUSE_UP};
        e.code = 1;
        PostInputEvent(e);
    }
    static void Frame() {
        TitleFrame();
        FinishFrame(1);
    }
};

TEST_F(Title, CreditsHaveTwentyOneLines) {
    EXPECT_EQ(CreditCount, 21);
    EXPECT_EQ(Credits[1], "A Game by Brannoc");
    EXPECT_EQ(Credits[6], "using Brannoc's Framework");
    EXPECT_EQ(Credits[14].rfind("Font : ", 0), 0u);
    EXPECT_EQ(Credits[21], "Sound Effects by Brannoc");
    EXPECT_NE(Credits[2].find(" | "), std::string::npos);
}

TEST_F(Title, StartButtonOnlyWorksOnceSlidInAndWithThePanelAway) {
    Move(640, 480);  // where the button rests
    Button(true);
    Frame();
    Frame();
    EXPECT_EQ(SlideIn, 2);  // still 750 px below: nothing started
    Button(false);
    for (int i = 0; i < 40; i++) Frame();
    EXPECT_EQ(SlideIn, 32);

    SettingsOpen = 1;
    PanelOffset = -250;  // settings panel still sliding
    Button(true);
    Frame();
    Frame();
    EXPECT_EQ(SlideIn, 32);
    Button(false);
    Frame();

    SettingsOpen = 0;
    PanelOffset = -300;
    Button(true);
    Frame();  // the hold is seen
    EXPECT_EQ(StartHeld, 1);
    // The game runs; it is quit from the pause screen (Escape, Up, Space)
    // and its name confirmed with Enter; then the title slides in again.
    LoadInputScriptText("0 mouse up 1\n100 key down 27\n200 key up 27\n400 key down 38\n450 key up 38\n"
                        "600 key down 32\n650 key up 32\n3000 key down 13\n3050 key up 13\n");
    Frame();
    EXPECT_EQ(SlideIn, 0);
    EXPECT_EQ(PlayState, 0);
    // The button was let go during the game, so the latch set when it ended
    // is already clear.
    EXPECT_EQ(StartLatch, 0);
}

TEST_F(Title, ModeIsChosenByHoldingOnItsLabel) {
    for (int i = 0; i < 32; i++) Frame();
    Move(560, 480 + 300 + 10);  // "Hard"
    Frame();                     // the pointer is sampled at the end of a frame
    Button(true);
    Frame();
    EXPECT_EQ(CurrentMode, 2);
    Button(false);
    Move(560, 480 + 200 + 10);  // "Easy", pointer only
    Frame();
    Frame();
    EXPECT_EQ(CurrentMode, 2);
    Button(true);
    Frame();
    EXPECT_EQ(CurrentMode, 0);
    Button(false);
}

TEST_F(Title, PodsBobWithAFullCycleEvery90Frames) {
    int a0 = BobAngle;
    for (int i = 0; i < 90; i++) Frame();
    EXPECT_EQ(BobAngle, a0);
    Frame();
    EXPECT_EQ(BobAngle, (a0 + 4) % 360);
}

TEST_F(Title, CreditsFitTheirPanel) {
    // The panel is 320 wide at 16-pixel text, 416 wide on displays
    // narrower than 900 where the text is 22 pixels; lines are centred in it.
    const fs::path font = fs::path(WORMLOB_SOURCE_DIR) / "Files" / "Common" / "Plainhand.ttf";
    struct Panel { int size, width; };
    for (Panel p : {Panel{16, 320}, Panel{22, 416}}) {
        FontRef f = LoadImageFont(font.string(), p.size, FONT_SMOOTH);
        ASSERT_TRUE(f) << font;
        SetImageFont(f);
        for (int j = 1; j <= CreditCount; j++)
            EXPECT_LE(TextWidth(Credits[j]), p.width - 10) << Credits[j] << " at " << p.size;
    }
    SetImageFont(nullptr);
}

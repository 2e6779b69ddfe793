// Display set-up: opening the window, the system pointer, and the mode list.
#include "shell/display.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "media/graphics.h"
#include "media/system.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "tests/support/headless.h"

namespace {
// The performance test stops after its second level at this rate.
int SlowRate() { return 10; }
}  // namespace

class Display : public ::testing::Test {
protected:
    TempFilesFolder tmp{"display"};
    void SetUp() override {
        ChangeDir("418/");
        UseVirtualClock(0);
        std::memset(Settings, 0, sizeof Settings);
        SetDefaultSettings();
        DisplayReady = 0;
        FrameRateOverride = SlowRate;
    }
    void TearDown() override {
        CloseDisplay();
        for (auto& c : Channels) c.reset();
        FrameRateOverride = nullptr;
        DisplayReady = 0;
        ForceNullGraphics(false);
        UseRealClock();
    }
};

TEST_F(Display, SystemPointerIsHiddenInTheOpenedWindow) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    ForceNullGraphics(false);
    // Start-up hides the pointer before any window exists; the game draws
    // its own, so the system one must not show over the opened window.
    HideMouse();
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

#include "screens/enginetest.h"

#include <string>

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

int TargetRate;
bool EngineTestRunning = false;

void DrawEngineTestPicture() {
    ResetDrawState();
    DrawStripes(false);
    ResetDrawState();
    SetDrawScale(1.5f);
    DrawImage(LogoImage, ViewWidth * 0.3f, ViewHeight * 0.3f, 0);
    DrawImage(SiteLogoImage, ViewWidth * 0.7f, ViewHeight * 0.7f, 0);
    SetDrawScale(1);
}

void EngineTest(int aim, int spriteScale) {
    ShowFrameRate = 0;
    if (Settings[7] == 1) aim = 30;
    TargetRate = aim;
    SpriteBudget[1] = 500;
    SpriteBudget[2] = 500;
    SpriteBudget[3] = 250;
    int best = 0;
    LogLine("Starting Engine Test");
    EngineTestRunning = true;
    LogLine("Aiming for " + std::to_string(aim) + "," + std::to_string(spriteScale));

    // A measurement run (--test-load) holds one load long enough for a
    // steady frame time; the search is otherwise the same.
    const int held = Options.testLoad;
    for (int n = held ? held : 500; n <= (held ? held : 20000); n += 500) {
        for (int f = 0; f < (held ? 70 : 8); f++) {
            BeginFrame(1);
            DrawEngineTestPicture();
            for (int j = 0; j <= n; j++) {
                SetDrawAngle((float)RandomInt(1, 360));
                SetTint(0, 0, 0, 0);
                SetDrawScale((float)spriteScale);
                int y = RandomInt(1, ViewHeight);
                int x = RandomInt(1, ViewWidth);
                DrawImage(IconSheet, (float)x, (float)y, 0);
            }
            FinishFrame(0);
        }
        int r = FrameRate;
        if (r >= aim - 2 && n > 500) best = n;
        if (r <= aim - 2 && n > 500) break;
    }

    EngineTestRunning = false;
    LogLine("Test Complete");
    SpriteBudget[1] = (int)(best * 0.4);
    SpriteBudget[2] = (int)(best * 0.4);
    SpriteBudget[3] = (int)(best * 0.2);
    LogLine("");
    LogLine("Engine Test Results");
    LogLine("");
    LogLine("\tMaximum Sprites Allowed for " + std::to_string(aim) + " Frames Per Second");
    LogLine("\tMain sprites : " + std::to_string(SpriteBudget[1]));
    LogLine("\tGlowy Sprites : " + std::to_string(SpriteBudget[2]));
    LogLine("\tParticles : " + std::to_string(SpriteBudget[3]));
    LogLine("");
    if (SpriteBudget[1] < 1000) {
        SpriteBudget[1] = 1000;
        TargetRate = 30;
        Settings[7] = 1;
    }
    if (SpriteBudget[2] < 500) SpriteBudget[2] = 500;
    if (SpriteBudget[3] < 250) SpriteBudget[3] = 250;
    if (TargetRate == 30) LogLine("Settings Overwritten, Set to Default Lower Limits at 30fps.");
    LogLine("");
    ShowFrameRate = 1;
}

// The settings panel, key names and capture, the pause screen and file
// names for screenshots, in-process on the null drawing back end.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "media/system.h"
#include "screens/binding.h"
#include "screens/pause.h"
#include "screens/screenshot.h"
#include "screens/settings.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/headless.h"

namespace fs = std::filesystem;

namespace {
void Post(InputEventType type, int code, int x = 0, int y = 0) {
    InputEvent e{type};
    e.code = code;
    e.x = x;
    e.y = y;
    PostInputEvent(e);
}

class Screens : public ::testing::Test {
protected:
    TempFilesFolder tmp{"screens"};
    void SetUp() override {
        OpenLog("Debug.txt");
        ChangeDir("418/");
        UseVirtualClock(5000);
        ASSERT_TRUE(OpenHeadlessDisplay());
        std::memset(Settings, 0, sizeof Settings);
        std::memset(Keys, 0, sizeof Keys);
        SetDefaultSettings();
        AudioDriverNames = {"Null"};
        ResetInputTables();
        FrameTimeMark = Millisecs();
        SettingsOpen = 0;
        PanelOffset = -300;
        PlayState = 0;
        JoyCount = 0;
    }
    void TearDown() override {
        CloseDisplay();
        CloseLog();
        UseRealClock();
    }
};
}  // namespace

TEST(KeyNames, TableAndJoystickRule) {
    const std::pair<int, const char*> cases[] = {
        {65, "A"},     {100, "4"},  {226, "\\"}, {220, "\\"}, {223, "`"}, {301, "Y+"}, {357, "U+"},
        {375, "Right"}, {333, "3"}, {16, "-14"}, {123, "F12"}, {8, "Backspace"}, {350, "Y-"},
        {348, "18"},   {320, "Up"}, {186, ";"},  {-7, "-37"},
    };
    for (auto& [code, name] : cases) EXPECT_EQ(KeyName(code), name) << code;
}

TEST(Screenshot, FileSafeNameDropsTheTwelveCharacters) {
    EXPECT_EQ(FileSafeName("A#'b,`c.\\d/e:f|g*h?i\"j (Screenshot_06 Dec 2026_14:05:09)"),
              "Abcdefghij (Screenshot_06 Dec 2026_140509)");
}

TEST(PauseMenu, LatchAndWrap) {
    struct Step {
        bool up, down, confirm;
        int sel, result;
    };
    // Space held from the pause on does nothing until released; a held key
    // moves one step; the selection wraps both ways.
    const Step steps[] = {
        {false, false, true, 0, 0}, {false, false, false, 0, 0}, {true, false, false, 1, 0},
        {true, true, false, 1, 0},  {false, true, false, 1, 0},  {false, false, false, 1, 0},
        {false, true, false, 0, 0}, {false, false, false, 0, 0}, {true, false, false, 1, 0},
        {false, false, false, 1, 0}, {false, false, true, 1, 99},
    };
    PauseMenu m;
    for (size_t i = 0; i < std::size(steps); i++) {
        PauseNavigate(m, steps[i].up, steps[i].down, steps[i].confirm);
        PauseConfirm(m, steps[i].confirm);
        EXPECT_EQ(m.sel, steps[i].sel) << "step " << i;
        EXPECT_EQ(m.result, steps[i].result) << "step " << i;
    }
}

TEST(Resolution, StepsThroughTheModeListFromAnyIndex) {
    ModeCount = 0;
    Settings[4] = 3;
    Settings[5] = 640;
    StepResolution(1);
    EXPECT_EQ(Settings[4], 3);
    EXPECT_EQ(Settings[5], 640);
    ModeCount = 5;
    for (int k = 1; k <= 5; k++) ModeWidth[k] = 100 * k, ModeHeight[k] = 75 * k;
    const int cases[][3] = {{5, 1, 1}, {1, -1, 5}, {2, 1, 3}, {0, 1, 1}, {0, -1, 5}, {9, 1, 1}, {9, -1, 5}, {-4, -1, 5}};
    for (auto& c : cases) {
        Settings[4] = c[0];
        StepResolution(c[1]);
        EXPECT_EQ(Settings[4], c[2]) << c[0] << " " << c[1];
        EXPECT_EQ(Settings[5], 100 * c[2]);
        EXPECT_EQ(Settings[6], 75 * c[2]);
    }
}

TEST_F(Screens, CaptureFromKeysAndVirtualJoysticks) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    // Joystick 1's hat reads "up" at start-up (stuck); joystick 2 has a
    // 31-button mask.
    int i1 = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 12, 1);
    int i2 = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 31, 1);
    ASSERT_GE(i2, 0) << SDL_GetError();
    SDL_Joystick* d[2] = {SDL_JoystickOpen(i1), SDL_JoystickOpen(i2)};
    SDL_JoystickSetVirtualHat(d[0], 0, SDL_HAT_UP);
    ASSERT_EQ(JoystickCount(), 2);
    JoyCount = 2;
    for (int j = 1; j <= 2; j++) {
        JoyButtons[j] = JoystickButtonMask(j - 1);
        JoyRest[0][j] = JoystickX(j - 1);
        JoyRest[1][j] = JoystickY(j - 1);
        JoyEnabled[j] = 1;
        JoyHatCentred[j] = JoystickHat(j - 1) == -1 ? 1 : 0;
    }
    ASSERT_EQ(JoyHatCentred[1], 0);
    ASSERT_EQ(JoyButtons[2], 0x7FFFFFFF);

    struct Case {
        const char* what;
        std::function<void()> set;
        int code;
    };
    auto key = [](int k) { Post(INPUT_KEY_DOWN, k); };
    const Case cases[] = {
        {"nothing held", [] {}, 0},
        {"Z and X: the lowest code", [&] { key(90), key(88); }, 88},
        {"F12 blocks capture", [&] { key(123), key(88); }, 0},
        {"a key before any stick", [&] { key(90), SDL_JoystickSetVirtualAxis(d[1], 0, -32768); }, 90},
        {"stick 2 left", [&] { SDL_JoystickSetVirtualAxis(d[1], 0, -32768); }, 352},
        {"stick 2 up, not past 0.3", [&] { SDL_JoystickSetVirtualAxis(d[1], 1, -9000); }, 0},
        {"stick 2 up past 0.3", [&] { SDL_JoystickSetVirtualAxis(d[1], 1, -11000); }, 350},
        {"stick 1 hat (not centred at start)", [&] { SDL_JoystickSetVirtualHat(d[0], 0, SDL_HAT_RIGHT); }, 0},
        {"stick 2 hat right", [&] { SDL_JoystickSetVirtualHat(d[1], 0, SDL_HAT_RIGHT); }, 375},
        {"stick 2 button 18", [&] { SDL_JoystickSetVirtualButton(d[1], 18, 1); }, 398},
        {"stick 2 button 19 has no code", [&] { SDL_JoystickSetVirtualButton(d[1], 19, 1); }, 0},
        {"stick 1 button 0 before stick 2", [&] { SDL_JoystickSetVirtualButton(d[0], 0, 1), SDL_JoystickSetVirtualAxis(d[1], 0, 32767); }, 330},
        {"disabled stick 2", [&] { JoyEnabled[2] = 0, SDL_JoystickSetVirtualAxis(d[1], 0, 32767); }, 0},
    };
    auto atRest = [&] {
        ResetInputTables();
        JoyCount = 2;
        JoyEnabled[2] = 1;
        for (SDL_Joystick* dev : d) {
            for (int a = 0; a < 6; a++) SDL_JoystickSetVirtualAxis(dev, a, 0);
            for (int b = 0; b < 31; b++) SDL_JoystickSetVirtualButton(dev, b, 0);
            SDL_JoystickSetVirtualHat(dev, 0, dev == d[0] ? SDL_HAT_UP : SDL_HAT_CENTERED);
        }
    };
    for (const Case& c : cases) {
        atRest();
        c.set();
        EXPECT_EQ(CaptureBinding(), c.code) << c.what;
        // Whatever binds is then reported held by the bound control,
        // joystick bindings included.
        Keys[1] = c.code;
        EXPECT_EQ(ControlDown(1, 1), c.code ? 1 : 0) << c.what;
    }
    // A joystick binding reports held only while its stick is counted,
    // enabled and pushed past rest; each case takes one of these away from
    // an input that is held.
    const Case notHeld[] = {
        {"stick 2 left, let go", [] {}, 352},
        {"stick 1's hat, not centred at start-up", [&] { SDL_JoystickSetVirtualHat(d[0], 0, SDL_HAT_RIGHT); }, 325},
        {"stick 2 disabled", [&] { JoyEnabled[2] = 0, SDL_JoystickSetVirtualButton(d[1], 18, 1); }, 398},
        {"stick 2 not counted", [&] { JoyCount = 1, SDL_JoystickSetVirtualAxis(d[1], 1, -32768); }, 350},
    };
    for (const Case& c : notHeld) {
        atRest();
        c.set();
        Keys[1] = c.code;
        EXPECT_EQ(ControlDown(1, 1), 0) << c.what;
    }
    Keys[1] = 0;
    JoyCount = 2;
    // A click on joystick 2's name in the panel's list disables it.
    JoyNames[2] = "Pad Two";
    JoyEnabled[2] = 1;
    SettingsOpen = 1;
    PanelOffset = 20;
    FrameMouseX = 1005, FrameMouseY = 270;  // its line at (1000, 265)
    Post(INPUT_MOUSE_DOWN, 1);
    SettingsPanel();
    EXPECT_EQ(JoyEnabled[2], 0);
    JoyCount = 0;
    for (SDL_Joystick* dev : d) SDL_JoystickClose(dev);
    SDL_JoystickDetachVirtual(i2);
    SDL_JoystickDetachVirtual(i1);
}

TEST_F(Screens, AJoystickThatComesLaterJoinsTheListAtTheNextFrame) {
    // A browser shows a gamepad to the page only after a press on it, so
    // pads arrive after the start-up count.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    int i1 = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 12, 1);
    ASSERT_GE(i1, 0) << SDL_GetError();
    SDL_Joystick* d1 = SDL_JoystickOpen(i1);
    SDL_JoystickSetVirtualAxis(d1, 0, 16384);
    CountJoysticksAgain();
    ASSERT_EQ(JoyCount, 1);
    EXPECT_NEAR(JoyRest[0][1], 0.5f, 0.01f);
    JoyEnabled[1] = 0;
    // The first pad is held hard left when the second arrives: its rest
    // and its switch stay; the new pad is read as at the start.
    SDL_JoystickSetVirtualAxis(d1, 0, -32768);
    int i2 = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 4, 1);
    SDL_Joystick* d2 = SDL_JoystickOpen(i2);
    SDL_JoystickSetVirtualAxis(d2, 1, -32768);
    SDL_JoystickSetVirtualHat(d2, 0, SDL_HAT_UP);
    FinishFrame(0);
    EXPECT_EQ(JoyCount, 1) << "no recount without the platform's word";
    Post(INPUT_JOYSTICKS_CHANGED, 0);
    FinishFrame(0);
    ASSERT_EQ(JoyCount, 2);
    EXPECT_NEAR(JoyRest[0][1], 0.5f, 0.01f);
    EXPECT_EQ(JoyEnabled[1], 0);
    EXPECT_EQ(JoyRest[1][2], -1.0f);
    EXPECT_EQ(JoyEnabled[2], 1);
    EXPECT_EQ(JoyHatCentred[2], 0);
    EXPECT_EQ(JoyButtons[2], 0xF);
    JoyCount = 0;
    for (SDL_Joystick* dev : {d1, d2}) SDL_JoystickClose(dev);
    SDL_JoystickDetachVirtual(i2);
    SDL_JoystickDetachVirtual(i1);
}

TEST_F(Screens, BindingButtonsOfTheControlsBlock) {
    MouseGame = 0;
    SettingsOpen = 1;
    PanelOffset = 20;
    FrameMouseX = 320, FrameMouseY = 50;  // player 1's "up" button at (300, 30)
    Post(INPUT_KEY_DOWN, 87);
    SettingsPanel();
    EXPECT_EQ(Keys[0], 87);
    EXPECT_EQ(ControlDown(0, 1), 1);
    Post(INPUT_KEY_UP, 87);
    Post(INPUT_KEY_DOWN, 8);
    SettingsPanel();
    EXPECT_EQ(Keys[0], 0);  // Backspace unbinds
    ResetInputTables();
    FrameMouseX = 860, FrameMouseY = 110;  // player 3's bottom button at (840, 90)
    Post(INPUT_KEY_DOWN, 90);
    SettingsPanel();
    EXPECT_EQ(Keys[50], 90);
    EXPECT_EQ(ControlDown(10, 3), 1);
    EXPECT_EQ(ControlDown(10, 2), 0);
    // While the panel slides nothing is captured.
    Post(INPUT_KEY_DOWN, 65);
    SettingsOpen = 0;
    SettingsPanel();
    EXPECT_EQ(Keys[50], 90);
    MouseGame = 1;
}

TEST_F(Screens, CursorKeysStepTheResolutionOnlyWhenPressedOverItsLine) {
    ModeCount = 5;
    for (int k = 1; k <= 5; k++) ModeWidth[k] = 100 * k, ModeHeight[k] = 75 * k;
    struct Case {
        const char* what;
        bool open, over;
        std::vector<int> keys;
        int step;
    };
    // Each case presses its keys in one frame, then the pointer rests over
    // the line for two more frames without a press.
    const Case cases[] = {
        {"Right over the line", true, true, {39}, 1},
        {"Left over the line", true, true, {37}, -1},
        {"Up and Right in one frame: one step", true, true, {38, 39, 38}, 1},
        {"Up and Down cancel", true, true, {38, 40}, 0},
        {"pressed with the pointer elsewhere", true, false, {39, 38, 39}, 0},
        {"pressed while the panel was closed (the pause menu's keys)", false, true, {40, 40}, 0},
    };
    for (const Case& c : cases) {
        ResetInputTables();
        Settings[4] = 3;
        SettingsOpen = c.open ? 1 : 0;
        PanelOffset = c.open ? 20 : -300;
        FrameMouseX = c.over ? 30 : 600, FrameMouseY = c.over ? 100 : 500;  // the line spans (20, 90)-(220, 160)
        for (int k : c.keys) Post(INPUT_KEY_DOWN, k), Post(INPUT_KEY_UP, k);
        SettingsPanel();
        SettingsOpen = 1;
        PanelOffset = 20;
        FrameMouseX = 30, FrameMouseY = 100;
        SettingsPanel();
        SettingsPanel();
        EXPECT_EQ(Settings[4], 3 + c.step) << c.what;
        EXPECT_EQ(Settings[5], 100 * (3 + c.step)) << c.what;
    }
}

TEST_F(Screens, ApplyLeavesNoClickForTheWidgetsAfterIt) {
    DisplayReady = 1;
    SettingsOpen = 1;
    PanelOffset = 20;
    FrameMouseX = 30, FrameMouseY = 290;  // over "Apply" at (18, 278)
    Post(INPUT_MOUSE_DOWN, 1);
    SettingsPanel();
    EXPECT_EQ(SettingsOpen, 0);
    EXPECT_EQ(FrameLeftClicks, 0);
}

TEST_F(Screens, EscapeInAGamePausesUntilAChoice) {
    alarm(60);
    PlayState = 1;
    GameStartTime = Millisecs();
    // Quit chosen with Up and confirmed with Space; the pause lasts 500 ms.
    Post(INPUT_KEY_DOWN, 27);
    LoadInputScriptText("100 key up 27\n300 key down 38\n350 key up 38\n500 key down 32\n550 key up 32\n");
    int start = Millisecs();
    EXPECT_EQ(FinishFrame(0), 99);
    EXPECT_EQ(PlayState, 1);
    EXPECT_GE(MsDiff(GameStartTime, start), 500);
    EXPECT_LE(MsDiff(GameStartTime, start), MsDiff(Millisecs(), start));
    // A second Escape with "Continue" highlighted resumes.
    Post(INPUT_KEY_DOWN, 27);
    LoadInputScriptText("100 key up 27\n300 key down 27\n350 key up 27\n");
    EXPECT_EQ(FinishFrame(0), 1);
    alarm(0);
}

TEST(ApplyDeathTest, NoDisplayAtAllEndsAfterSavingSetupAndScores) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this body afresh; it finds the parent's folder here.
    if (!std::getenv("WL2_APPLY_DIR"))
        setenv("WL2_APPLY_DIR", (fs::temp_directory_path() / ("wl2_apply_" + std::to_string(getpid()))).c_str(), 1);
    fs::path dir = std::getenv("WL2_APPLY_DIR");
    auto applyWithoutDisplay = [&] {
        fs::create_directories(dir / "418");
        fs::current_path(dir);
        OpenLog("Debug.txt");
        ChangeDir("418/");
        UseVirtualClock(0);
        SetDefaultSettings();
        // Without an X display neither the chosen mode nor the fallback
        // window opens.
        unsetenv("DISPLAY");
        setenv("SDL_VIDEODRIVER", "x11", 1);
        DisplayReady = 1;
        SettingsOpen = 1;
        PanelOffset = 20;
        FrameMouseX = 30, FrameMouseY = 290;
        Post(INPUT_MOUSE_DOWN, 1);
        SettingsPanel();
    };
    EXPECT_EXIT(applyWithoutDisplay(), ::testing::ExitedWithCode(1), "could not open the display");
    EXPECT_TRUE(fs::exists(dir / "Setup.ini"));
    EXPECT_TRUE(fs::exists(dir / "418" / "scores.dat"));
    fs::remove_all(dir);
}

// Display set-up: opening the window, the system pointer, and the mode list.
#include "shell/display.h"

#include <SDL.h>
#include "tests/support/skip.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "media/graphics.h"
#include "media/graphics_internal.h"
#include "media/system.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "tests/support/headless.h"

namespace fs = std::filesystem;

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
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    ForceNullGraphics(false);
    // Start-up hides the pointer before any window exists; the game draws
    // its own, so the system one must not show over the opened window.
    HideMouse();
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

// ------------------------------------------------------------ mode list ---

namespace {
struct FakeMode {
    int w, h, depth;
};
std::vector<FakeMode> g_fake;
int FakeCount() { return (int)g_fake.size(); }
void FakeGet(int i, int& w, int& h, int& d, int& hz) {
    if (i < 0 || i >= (int)g_fake.size()) {
        w = h = d = hz = 0;
        return;
    }
    w = g_fake[i].w, h = g_fake[i].h, d = g_fake[i].depth, hz = 60;
}
bool FakeExists(int w, int h, int d, int) {
    for (auto& m : g_fake)
        if (m.w == w && m.h == h && (d == 0 || m.depth == d)) return true;
    return false;
}
// Reports one more mode than it can read, as a list that shrank between
// the count and the reads would.
int ShrunkCount() { return (int)g_fake.size() + 1; }
}  // namespace

class ModeList : public Display {
protected:
    void SetUp() override {
        Display::SetUp();
        DisplayModeSource src;
        src.count = FakeCount;
        src.get = FakeGet;
        src.exists = FakeExists;
        SetDisplayModeSource(src);
        ScreenWidth = 800;
        ScreenHeight = 600;
        Settings[4] = 0;
    }
    void TearDown() override {
        SetDisplayModeSource(DisplayModeSource{});
        SetNullDisplayMode(1280, 960);
        ScreenWidth = 800;
        ScreenHeight = 600;
        Display::TearDown();
    }
    std::vector<std::pair<int, int>> Listed() {
        std::vector<std::pair<int, int>> l;
        for (int k = 1; k <= ModeCount; k++) l.push_back({ModeWidth[k], ModeHeight[k]});
        return l;
    }
};

TEST_F(ModeList, OnlyFourThreeAndSixteenNineEachOnceInReportedOrder) {
    g_fake = {{1280, 1024, 32}, {1280, 720, 32}, {1024, 768, 32}, {1024, 768, 16}, {1280, 720, 32},
              {1366, 768, 32},  {1280, 800, 32}, {800, 600, 16},  {1920, 1080, 32}};
    Settings[5] = 1366;
    Settings[6] = 768;
    BuildModeList();
    std::vector<std::pair<int, int>> expect = {{1280, 720}, {1024, 768}, {1366, 768}, {800, 600}, {1920, 1080}};
    EXPECT_EQ(Listed(), expect);
    EXPECT_EQ(Settings[4], 3);
    EXPECT_EQ(ScreenWidth, 1366);
    EXPECT_EQ(ScreenHeight, 768);

    // A size that is not listed leaves the previous one.
    Settings[5] = 1280;
    Settings[6] = 1024;
    BuildModeList();
    EXPECT_EQ(ScreenWidth, 1366);
}

TEST_F(ModeList, UnreadableModesAndOverlongListsAreSafe) {
    g_fake = {{1024, 768, 32}};
    DisplayModeSource src;
    src.count = ShrunkCount;
    src.get = FakeGet;
    src.exists = FakeExists;
    SetDisplayModeSource(src);
    BuildModeList();
    ASSERT_EQ(ModeCount, 1);  // the mode that answered 0 x 0 is not offered
    EXPECT_EQ(ModeWidth[1], 1024);

    // More distinct modes than the table holds: the first 999 are offered.
    g_fake.clear();
    for (int i = 1; i <= 1500; i++) g_fake.push_back({4 * i, 3 * i, 32});
    Settings[5] = 4 * 1400;
    Settings[6] = 3 * 1400;
    BuildModeList();
    EXPECT_EQ(ModeCount, 999);
    EXPECT_EQ(ModeWidth[999], 4 * 999);
    EXPECT_EQ(ScreenWidth, 800);  // the requested size was past the cap
}

TEST_F(ModeList, DepthFallsBackTo16BitsThenToAWindow) {
    ForceNullGraphics(true);
    SetNullDisplayMode(1024, 768);
    OpenLog("../Debug.txt");
    auto logAfter = [&]() {
        CloseLog();
        std::ifstream f(tmp.dir / "Debug.txt", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        OpenLog("../Debug.txt");
        return ss.str();
    };
    // Window mode, no 32-bit full-screen mode of the size but a 16-bit one:
    // full screen at 16 bits.
    g_fake = {{1024, 768, 16}, {1280, 720, 32}};
    Settings[1] = 0;
    Settings[5] = 1024;
    Settings[6] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    std::string log = logAfter();
    EXPECT_NE(log.find("\tResolution : 1024x768,16\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Widescreen"), std::string::npos);
    EXPECT_EQ(ViewWidth, 1280);
    EXPECT_EQ(ViewHeight, 960);

    // Full screen asked, a 32-bit mode exists: 32 bits; 1280 x 720 is wide.
    Settings[1] = 1;
    Settings[5] = 1280;
    Settings[6] = 720;
    SetNullDisplayMode(1280, 720);  // the null back end opens only its own mode full screen
    ASSERT_TRUE(ApplyGraphicsSettings());
    log = logAfter();
    EXPECT_NE(log.find("\tChanged Graphics Mode ingame.\r\n\tUsing OpenGL Driver\r\n"
                       "\tResolution : 1280x720,32\r\n\tWidescreen mode!\r\n"),
              std::string::npos) << log;
    EXPECT_EQ(Settings[2], 1);
    EXPECT_EQ(ViewWidth, 1600);
    EXPECT_EQ(ViewHeight, 900);

    // Full screen asked for a size with no full-screen mode at all: a window.
    ScreenWidth = 1024;  // as if 1024 x 768 had been opened before and vanished
    ScreenHeight = 768;
    g_fake = {{1280, 720, 32}};
    Settings[5] = 1024;
    Settings[6] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    log = logAfter();
    EXPECT_NE(log.find("\tResolution : 1024x768,0\r\n"), std::string::npos);
    EXPECT_EQ(Settings[2], 0);
    CloseLog();
}

TEST_F(ModeList, AModeThatWillNotOpenFallsBackToAnOpenGLWindowAndIsStored) {
    ForceNullGraphics(true);
    SetNullDisplayMode(1280, 960);  // full screen opens only at this size
    OpenLog("../Debug.txt");
    g_fake = {{1024, 768, 32}, {800, 600, 32}};
    Settings[1] = 1;
    Settings[3] = 1;  // DirectX 9 asked: served by OpenGL
    Settings[5] = 1024;
    Settings[6] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    CloseLog();
    std::ifstream f(tmp.dir / "Debug.txt", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string log = ss.str();
    EXPECT_NE(log.find("\tUsing DirectX 9 Driver\r\n\tResolution : 1024x768,32\r\n\tCould not open the display"),
              std::string::npos) << log;
    EXPECT_NE(log.find("\tFalling back to an 800x600 OpenGL window"), std::string::npos);
    EXPECT_EQ(ScreenWidth, 800);
    EXPECT_EQ(Settings[5], 800);
    EXPECT_EQ(Settings[6], 600);
    EXPECT_EQ(Settings[1], 0);
    EXPECT_EQ(Settings[3], 0);
    EXPECT_EQ(Settings[4], 2);  // the 800 x 600 entry of the list
}

// ------------------------------------------------- common assets by size ---

TEST_F(ModeList, FontSizesFollowTheDisplayWidth) {
    ForceNullGraphics(true);
    const fs::path common = fs::path(WORMLOB_SOURCE_DIR) / "Files" / "Common";
    fs::create_directories(tmp.dir / "Common");
    for (const char* f : {"Plainhand.ttf", "Roadsign.ttf", "Marquee.ttf"})
        fs::copy_file(common / f, tmp.dir / "Common" / f);
    g_fake = {{1024, 768, 32}, {800, 600, 32}, {512, 384, 32}};
    struct Case {
        int w, h;
        int sizes[13];  // slots 1..12; 0 = empty
    };
    const Case cases[] = {
        {1024, 768, {0, 24, 16, 16, 20, 96, 72, 32, 32, 0, 128, 96, 32}},
        {800, 600, {0, 28, 22, 22, 24, 115, 86, 38, 38, 0, 128, 96, 32}},
        {512, 384, {0, 36, 32, 32, 30, 144, 108, 48, 48, 0, 128, 96, 32}},
    };
    for (const Case& c : cases) {
        Settings[5] = c.w;
        Settings[6] = c.h;
        SetNullDisplayMode(c.w, c.h);
        ASSERT_TRUE(ApplyGraphicsSettings());
        EXPECT_EQ(fs::current_path().filename(), "418");
        for (int slot = 1; slot <= 12; slot++) {
            if (c.sizes[slot] == 0) {
                EXPECT_FALSE(Fonts[slot]) << "slot " << slot;
                continue;
            }
            ASSERT_TRUE(Fonts[slot]) << "slot " << slot << " at " << c.w;
            EXPECT_EQ(Fonts[slot]->size, c.sizes[slot]) << "slot " << slot << " at " << c.w;
        }
    }
}

TEST_F(ModeList, SoundEffectsAreLookedForFrom001To200) {
    ForceNullGraphics(true);
    SetNullDisplayMode(1024, 768);
    g_fake = {{1024, 768, 32}};
    Settings[5] = 1024;
    Settings[6] = 768;
    const fs::path wav = fs::path(WORMLOB_SOURCE_DIR) / "Files" / "418" / "001.wav";
    for (const char* n : {"001.wav", "200.wav", "201.wav", "1.wav"}) fs::copy_file(wav, tmp.dir / "418" / n);
    OpenLog("../Debug.txt");
    ASSERT_TRUE(ApplyGraphicsSettings());
    CloseLog();
    std::ifstream f(tmp.dir / "Debug.txt", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_NE(ss.str().find("Loading Sound effects\r\n\tSFX(1)\r\n\tSFX(200)\r\nSounds loaded\r\n"), std::string::npos)
        << ss.str();
    EXPECT_TRUE(SoundEffects[1]);
    EXPECT_TRUE(SoundEffects[200]);
    EXPECT_FALSE(SoundEffects[2]);
}

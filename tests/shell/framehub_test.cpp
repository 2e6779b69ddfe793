// The frame hub, the performance test and the title, in-process on the null
// drawing back end and the virtual clock.
#include "shell/framehub.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/graphics.h"
#include "media/system.h"
#include "screens/enginetest.h"
#include "screens/helpers.h"
#include "services/popups.h"
#include "shell/display.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/audio_sounds.h"
#include "tests/support/headless.h"
#include "tests/support/program.h"
#include "tests/support/skip.h"

namespace {
struct FakeChannel : TChannel {
    float volume = -1;
    bool playing = true;
    void SetVolume(float v) override { volume = v; }
    void SetPan(float) override {}
    void SetRate(float) override {}
    void SetPaused(bool) override {}
    void Stop() override { playing = false; }
    bool Playing() override { return playing; }
};
}  // namespace

class Hub : public ::testing::Test {
protected:
    TempFilesFolder tmp{"hub"};
    fs::path dir = tmp.dir;
    void SetUp() override {
        OpenLog("Debug.txt");
        ChangeDir("418/");
        UseVirtualClock(5000);
        ASSERT_TRUE(OpenHeadlessDisplay());
        std::memset(Settings, 0, sizeof Settings);
        SetDefaultSettings();
        AudioDriverNames = {"Null"};
        ResetInputTables();
        MessageList.clear();
        PopupList.clear();
        FrameTimeMark = Millisecs();
        SettingsOpen = 0;
        PlayState = 0;
        FrameRateOverride = nullptr;
    }
    void TearDown() override {
        for (auto& c : Channels) c.reset();
        CloseDisplay();
        CloseLog();
        UseRealClock();
    }
    static void Press(int key) {
        InputEvent d{INPUT_KEY_DOWN};
        d.code = key;
        PostInputEvent(d);
        InputEvent u{INPUT_KEY_UP};
        u.code = key;
        PostInputEvent(u);
    }
};

TEST_F(Hub, MessagesLive180Frames) {
    for (int i = 0; i < 7; i++) AddMessage("m" + std::to_string(i));
    for (int f = 1; f <= 179; f++) FinishFrame(1);
    EXPECT_EQ(MessageList.size(), 7u);
    EXPECT_EQ(MessageList.front()->tick, 179);
    AddMessage("late");
    FinishFrame(1);
    ASSERT_EQ(MessageList.size(), 1u);  // the first seven went on their 180th frame
    EXPECT_EQ(MessageList.front()->txt, "late");
    EXPECT_EQ(MessageList.front()->tick, 1);
}

// The message stack through OpenGL, with the message font at the sizes the
// display set-up picks (16 at 1280 x 960, 22 at 800 x 600, 32 below 600
// wide) and a smaller one. A strip is as high as the font's line; the lowest
// ends at the bottom edge (or 16 units above it) and each next one stands a
// line less two rows higher (at least 14), so strips overlap by two rows at
// most and never cover each other's text.
TEST(HubPixels, MessagesStackAboveTheBottomByTheFontHeight) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("no X display (run under xvfb-run)");
    TempFilesFolder tmp{"hubpx"};
    ForceNullGraphics(false);
    SelectGraphicsBackend(OpenGLBackend(), 2);
    ASSERT_NE(OpenDisplay(1280, 960, 0, 0, 0), nullptr) << DisplayError();
    SetResolution(1280, 960);
    ViewWidth = 1280, ViewHeight = 960;
    UseVirtualClock(5000);
    FrameTimeMark = Millisecs();
    ShowFrameRate = 0;
    SettingsOpen = 0;
    PanelOffset = -300;
    std::memset(Settings, 0, sizeof Settings);
    for (int size : {12, 16, 22, 32}) {
        Fonts[3] = LoadImageFont(std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Plainhand.ttf", size, FONT_SMOOTH);
        ASSERT_TRUE(Fonts[3]) << size;
        SetImageFont(Fonts[3]);
        const int h = TextHeight(), line = std::max(16, h), pitch = std::max(14, line - 2);
        // Blank texts: the strips alone, yellow at 0.7 over black (178),
        // brighter where two overlap (231).
        MessageList.clear();
        for (int i = 0; i < 7; i++) AddMessage("            ");
        SetColor(0, 0, 0);
        ClearScreen();
        std::string png = (tmp.dir / ("messages" + std::to_string(size) + ".png")).string();
        Options.grabs = {{FrameCounter + 1 + ExtraPresents, png}};
        FinishFrame(0);
        Options.grabs.clear();
        ImageRef shot = LoadImage(png, 0);
        const TPixmap* pm = ImageFramePixels(shot, 0);
        ASSERT_TRUE(pm && pm->height == 960) << size;
        // How many strips cover each row of the column x = 4.
        for (int y = 0; y < 960; y++) {
            int v = pm->pixels[(size_t)y * pm->pitch + 4 * 4];
            int want = 0;
            for (int k = 0; k < 7; k++) want += y >= 960 - line - k * pitch && y < 960 - line - k * pitch + h;
            ASSERT_EQ(v < 60 ? 0 : v < 205 ? 1 : 2, want) << "font " << size << " (" << h << " high), row " << y;
        }
    }
    CloseDisplay();
    UseRealClock();
}

TEST_F(Hub, PacingHoldsSixtyFramesPerSecondOnTheClock) {
    int start = Millisecs();
    for (int f = 0; f < 60; f++) FinishFrame(0);
    int took = MsDiff(Millisecs(), start);
    // 15 ms per frame on a whole-millisecond clock (2 ms short of 16.67).
    EXPECT_EQ(took, 900);
    // 1000 / 15 = 66, and the integer smoothing settles two below it.
    EXPECT_EQ(FrameRate, 64);
}

TEST_F(Hub, PacingSurvivesTheClockWrap) {
    UseVirtualClock(INT32_MAX - 20);
    FrameTimeMark = Millisecs();
    for (int f = 0; f < 5; f++) FinishFrame(0);
    EXPECT_EQ(MsDiff(Millisecs(), INT32_MAX - 20), 75);
}

TEST_F(Hub, TabTogglesThePanelAndSavesEachTime) {
    fs::path ini = dir / "Setup.ini";
    Press(9);
    FinishFrame(1);
    EXPECT_EQ(SettingsOpen, 1);
    ASSERT_TRUE(fs::exists(ini));
    fs::remove(ini);
    Press(123);  // F12 as well
    FinishFrame(1);
    EXPECT_EQ(SettingsOpen, 0);
    EXPECT_TRUE(fs::exists(ini));
    EXPECT_EQ(fs::current_path().filename(), "418");
    fs::remove(ini);
    FinishFrame(1);
    EXPECT_FALSE(fs::exists(ini));
}

TEST_F(Hub, ChannelUpkeepFollowsSettingsAndFreesFinishedSlots) {
    auto music = std::make_shared<FakeChannel>();
    auto effect = std::make_shared<FakeChannel>();
    auto done = std::make_shared<FakeChannel>();
    done->playing = false;
    Channels[1] = music;
    Channels[30] = effect;
    Channels[256] = done;
    Settings[11] = 50;
    Settings[13] = 80;
    Settings[12] = 20;
    FinishFrame(0);
    EXPECT_FLOAT_EQ(music->volume, 0.40f);
    EXPECT_FLOAT_EQ(effect->volume, 0.10f);
    EXPECT_EQ(Channels[256], nullptr);
    Settings[11] = 100;
    FinishFrame(0);
    EXPECT_FLOAT_EQ(music->volume, 0.80f);
    effect->playing = false;
    FinishFrame(0);
    EXPECT_EQ(Channels[30], nullptr);
}

TEST_F(Hub, VolumesFromAnOddSetupFileStayWithinRange) {
    // "Setup.ini" may hold any 32-bit volume; the product of two of them
    // must not wrap round to silence (or worse).
    auto music = std::make_shared<FakeChannel>();
    auto effect = std::make_shared<FakeChannel>();
    Channels[1] = music;
    Channels[20] = effect;
    Settings[11] = INT32_MAX;
    Settings[13] = INT32_MAX;
    Settings[12] = 100;
    FinishFrame(0);
    EXPECT_GE(music->volume, 1.0f);
    EXPECT_GE(effect->volume, 1.0f);
    Settings[11] = 100;
    Settings[12] = INT32_MIN;  // what a "Sound=-2147483648" line leaves
    FinishFrame(0);
    EXPECT_LE(effect->volume, 0.0f);
    EXPECT_GE(music->volume, 1.0f);
    Settings[11] = 50000;  // 50000 x 50000 passes 2^31
    Settings[13] = 50000;
    FinishFrame(0);
    EXPECT_GE(music->volume, 1.0f);
    // Integer share first, as a player reads the sliders: 33 x 33 / 100 = 10.
    Settings[11] = 33;
    Settings[13] = 33;
    EXPECT_FLOAT_EQ(SlotVolume(19), 0.10f);
}

// Title music (slot 1), drums (2), effects and the jingle (256) all start
// at the level the upkeep then keeps: the integer share of the settings
// (33 x 33 / 100 = 10 %, not 10.89 %) times the caller's volume.
TEST_F(Hub, PlayOnSlotStartsAtTheLevelTheUpkeepKeeps) {
    ASSERT_TRUE(SetAudioDriver("FreeAudio"));
    int rate = 0;
    ASSERT_TRUE(AudioCaptureBegin(&rate));
    SoundRef tone = LoadTone(rate, 1, 441, 1.0);
    ASSERT_TRUE(tone);
    std::vector<float> out(2 * (size_t)rate / 10);
    auto peak = [&] {
        AudioCaptureMix(out.data(), rate / 10);  // past any volume ramp
        AudioCaptureMix(out.data(), rate / 10);
        float p = 0;
        for (size_t i = 0; i < out.size(); i += 2) p = std::max(p, std::fabs(out[i]));
        return p;
    };
    ChannelRef ref = CueSound(tone, AllocChannel());
    ref->SetPaused(false);
    float full = peak();
    ref->Stop();
    ASSERT_GT(full, 0.1f);

    Settings[11] = 33, Settings[12] = 90, Settings[13] = 33;
    struct {
        int slot;
        float volume, level;
    } cases[] = {{1, 1, 0.10f}, {2, 1, 0.10f}, {19, 2, 0.20f}, {20, 0.5f, 0.145f}, {256, 1, 0.29f}};
    for (auto& c : cases) {
        ChannelRef ch = PlayOnSlot(c.slot, tone, 1, 0, c.volume);
        ASSERT_TRUE(ch);
        EXPECT_EQ(Channels[c.slot], ch);
        EXPECT_NEAR(peak() / full, c.level, 0.005f) << "slot " << c.slot;
        EXPECT_FALSE(PlayOnSlot(c.slot, nullptr)) << "no sound empties the slot";
        EXPECT_FALSE(Channels[c.slot]);
        EXPECT_FALSE(ch->Playing());
    }
    ShutdownAudio();
}

TEST_F(Hub, PointerAndClicksAreSampledOncePerFrame) {
    SetResolution(1280, 960);
    InputEvent mv{INPUT_MOUSE_MOVE};
    mv.x = 100;
    mv.y = 200;
    PostInputEvent(mv);
    InputEvent md{INPUT_MOUSE_DOWN};
    md.code = 1;
    PostInputEvent(md);
    FinishFrame(1);
    EXPECT_EQ(FrameMouseX, 100);
    EXPECT_EQ(FrameMouseY, 200);
    // The settings panel's pass took the click before the sampling.
    EXPECT_EQ(FrameLeftClicks, 0);
    InputEvent mu{INPUT_MOUSE_UP};
    mu.code = 1;
    PostInputEvent(mu);
    PostInputEvent(md);
    SettingsPanel();
    EXPECT_EQ(FrameLeftClicks, 1);
    mv.x = 300;
    PostInputEvent(mv);
    FinishFrame(1);
    EXPECT_EQ(PrevMouseX, 100);
    EXPECT_EQ(FrameMouseX, 300);
    EXPECT_EQ(FrameLeftClicks, 0);
}

TEST_F(Hub, FrameSkipPhaseAlternates) {
    int p = FrameSkipPhase;
    FinishFrame(0);
    EXPECT_EQ(FrameSkipPhase, 1 - p);
    FinishFrame(0);
    EXPECT_EQ(FrameSkipPhase, p);
}

// ------------------------------------------------------ performance test ---

namespace {
long long g_testStart = 0;
int (*g_curve)(int n) = nullptr;
int CurveRate() {
    long long frame = FrameCounter - g_testStart;  // 1-based within the test
    int level = (int)((frame - 1) / 8);
    return g_curve(500 * (level + 1));
}
}  // namespace

class Perf : public Hub {
protected:
    int levels = 0;
    void Run(int (*curve)(int)) {
        g_curve = curve;
        g_testStart = FrameCounter;
        FrameRateOverride = CurveRate;
        EngineTest(60, 4);
        FrameRateOverride = nullptr;
        levels = (int)((FrameCounter - g_testStart) / 8);
    }
    std::string Log() {
        CloseLog();
        std::string s = Slurp(dir / "Debug.txt");
        ChangeDir("..");
        OpenLog("Debug2.txt");
        ChangeDir("418/");
        return s;
    }
};

TEST_F(Perf, HoldsUpTo6000ThenDrops) {
    Run([](int n) { return n <= 6000 ? 60 : 50; });
    EXPECT_EQ(levels, 13);
    EXPECT_EQ(SpriteBudget[1], 2400);
    EXPECT_EQ(SpriteBudget[2], 2400);
    EXPECT_EQ(SpriteBudget[3], 1200);
    EXPECT_EQ(Settings[7], 0);
    EXPECT_EQ(ShowFrameRate, 1);
    std::string log = Log();
    EXPECT_NE(log.find("Starting Engine Test\r\nAiming for 60,4\r\nTest Complete\r\n\r\nEngine Test Results\r\n\r\n"
                       "\tMaximum Sprites Allowed for 60 Frames Per Second\r\n\tMain sprites : 2400\r\n"
                       "\tGlowy Sprites : 2400\r\n\tParticles : 1200\r\n\r\n\r\n"),
              std::string::npos);
}

TEST_F(Perf, ExactlyAimMinusTwoRecordsAndStops) {
    Run([](int n) { return n < 3000 ? 60 : 58; });
    EXPECT_EQ(levels, 6);
    EXPECT_EQ(SpriteBudget[1], 1200);
}

TEST_F(Perf, SlowMachineGetsFloorsAndFrameSkipping) {
    Run([](int) { return 40; });
    EXPECT_EQ(levels, 2);
    EXPECT_EQ(SpriteBudget[1], 1000);
    EXPECT_EQ(SpriteBudget[2], 500);
    EXPECT_EQ(SpriteBudget[3], 250);
    EXPECT_EQ(Settings[7], 1);
    EXPECT_EQ(TargetRate, 30);
    std::string log = Log();
    EXPECT_NE(log.find("\tMain sprites : 0\r\n\tGlowy Sprites : 0\r\n\tParticles : 0\r\n\r\n"
                       "Settings Overwritten, Set to Default Lower Limits at 30fps.\r\n\r\n"),
              std::string::npos);
}

TEST_F(Perf, HeldLoadRunsSeventyFramesAtThatLoad) {
    // One level of 70 frames at the held load, which is then the best load.
    Options.testLoad = 4000;
    Run([](int) { return 60; });
    Options.testLoad = 0;
    EXPECT_EQ(FrameCounter - g_testStart, 70);
    EXPECT_EQ(SpriteBudget[1], 1600);
    EXPECT_EQ(Settings[7], 0);
}

TEST_F(Perf, BudgetTableByBestLoad) {
    struct Case { int best, main, glow, part, ess; };
    const Case cases[] = {{1500, 1000, 600, 300, 1}, {2000, 1000, 800, 400, 1}, {2500, 1000, 1000, 500, 0},
                          {20000, 8000, 8000, 4000, 0}};
    for (const Case& c : cases) {
        Settings[7] = 0;
        static int best;
        best = c.best;
        Run([](int n) { return n <= best ? 60 : 10; });
        EXPECT_EQ(SpriteBudget[1], c.main) << c.best;
        EXPECT_EQ(SpriteBudget[2], c.glow) << c.best;
        EXPECT_EQ(SpriteBudget[3], c.part) << c.best;
        EXPECT_EQ(Settings[7], c.ess) << c.best;
    }
}

TEST_F(Perf, StartingWithFrameSkippingAimsAt30) {
    Settings[7] = 1;
    Run([](int) { return 30; });
    std::string log = Log();
    EXPECT_NE(log.find("Aiming for 30,4"), std::string::npos);
    EXPECT_NE(log.find("\tMaximum Sprites Allowed for 30 Frames Per Second"), std::string::npos);
    EXPECT_NE(log.find("Settings Overwritten, Set to Default Lower Limits at 30fps."), std::string::npos);
    EXPECT_EQ(levels, 40);
    EXPECT_EQ(SpriteBudget[1], 8000);
}

#include "media/system.h"

#include "tests/support/skip.h"
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

// ------------------------------------------------------------- random ---

// Reference values computed outside this code base (a Python script stepping
// 48271 * s mod 2^31-1 directly, with big integers, from state 4660).
TEST(Random, FirstUnitDrawsFromInitialState) {
    SeedRandom(0);  // 0 maps to the initial state 4660
    const double expect[] = {0.4189887270692887, 0.21256311710331344, 0.694284713397524,
                             0.1493624812093064, 0.5709239920384921};
    for (double e : expect) EXPECT_DOUBLE_EQ(RandomUnit(), e);
}

TEST(Random, DiceFromInitialStateAndRanges) {
    SeedRandom(4660);
    const int expect[] = {3, 2, 5, 1, 4, 2, 5, 3, 3, 4};
    for (int e : expect) EXPECT_EQ(RandomInt(1, 6), e);

    // Reversed bounds give the same range, every face appears, nothing escapes.
    int counts[7] = {};
    for (int i = 0; i < 60000; i++) {
        int v = RandomInt(6, 1);
        ASSERT_GE(v, 1);
        ASSERT_LE(v, 6);
        counts[v]++;
    }
    for (int f = 1; f <= 6; f++) EXPECT_NEAR(counts[f], 10000, 600) << f;

    // The widest range must not overflow.
    for (int i = 0; i < 1000; i++) (void)RandomInt(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 1000; i++) {
        double f = RandomFloat(5.0, 2.0);
        ASSERT_GE(f, 2.0);
        ASSERT_LT(f, 5.0);
    }
}

TEST(Random, SeedRules) {
    SeedRandom(0x7FFFFFFF);
    EXPECT_EQ(RandomState(), 4660);
    SeedRandom(-1);  // AND 0x7FFFFFFF gives 0x7FFFFFFF -> replaced
    EXPECT_EQ(RandomState(), 4660);
    SeedRandom(0x80000005);
    EXPECT_EQ(RandomState(), 5);
}

// -------------------------------------------------------- text numbers ---

TEST(TextNumbers, LeadingIntegerRule) {
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt("  42abc"), 42);
    EXPECT_EQ(TextToInt("-1024"), -1024);
    EXPECT_EQ(TextToInt("+7"), 7);
    EXPECT_EQ(TextToInt("$ff"), 255);
    EXPECT_EQ(TextToInt("-$10"), -16);
    EXPECT_EQ(TextToInt("%1011"), 11);
    EXPECT_EQ(TextToInt("%102"), 2);
    EXPECT_EQ(TextToInt("x12"), 0);
    EXPECT_EQ(TextToInt("-+-"), 0);
    EXPECT_EQ(TextToInt("1 2"), 1);
}

TEST(TextNumbers, OverflowWrapsInsteadOfUndefined) {
    EXPECT_EQ(TextToInt("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt("2147483648"), INT32_MIN);  // wraps like a register
    EXPECT_EQ(TextToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(TextToInt("4294967297"), 1);
    EXPECT_EQ(AbsInt(INT32_MIN), INT32_MIN);
    EXPECT_EQ(AbsInt(-5), 5);
    EXPECT_EQ(TextToLong("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(TextToLong("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(TextToLong("99999999999999999999999"), TextToLong("99999999999999999999999"));
    EXPECT_EQ(AbsLong(INT64_MIN), INT64_MIN);
    EXPECT_EQ(TextToLong("123456789012"), 123456789012LL);
}

// -------------------------------------------------------------- clock ---

TEST(Clock, VirtualClockAdvancesOnlyBySleeping) {
    UseVirtualClock(1000);
    EXPECT_EQ(Millisecs(), 1000);
    SleepMs(16);
    EXPECT_EQ(Millisecs(), 1016);
    SleepMs(-5);
    EXPECT_EQ(Millisecs(), 1016);
    UseRealClock();
}

TEST(Clock, DifferencesStayRightAcrossTheWrap) {
    UseVirtualClock(INT32_MAX - 5);
    int mark = Millisecs();
    int deadline = (int)((uint32_t)mark + 2500u);  // wraps to a negative value
    EXPECT_LT(deadline, mark);
    EXPECT_FALSE(MsReached(Millisecs(), deadline));
    int turns = 0;
    while (!MsReached(Millisecs(), deadline) && turns < 10000) {
        SleepMs(1);
        turns++;
    }
    EXPECT_EQ(turns, 2500);  // neither hung nor skipped at the wrap
    EXPECT_EQ(MsDiff(Millisecs(), mark), 2500);
    UseRealClock();
}

TEST(Clock, DateAndTimeTextIgnoreTheLocale) {
    std::string d = DateText(), t = TimeText();
    ASSERT_EQ(d.size(), 11u) << d;
    EXPECT_EQ(d[2], ' ');
    EXPECT_EQ(d[6], ' ');
    static const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    EXPECT_NE(std::string(months).find(d.substr(3, 3)), std::string::npos) << d;
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    EXPECT_EQ(t[5], ':');
}

// -------------------------------------------------------------- files ---

class Files : public ::testing::Test {
protected:
    fs::path dir, old;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() / ("wl2_files_" + std::to_string(getpid()));
        fs::create_directories(dir / "sub");
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(old);
        fs::remove_all(dir);
    }
    static void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string Get(const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST_F(Files, ReadLineRules) {
    Put("a.txt", std::string("ab\r\ncd"));
    TStream* s = ReadFile("a.txt");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadLine(s), "ab");
    EXPECT_FALSE(EndOfStream(s));
    EXPECT_EQ(ReadLine(s), "cd");
    EXPECT_TRUE(EndOfStream(s));
    CloseStream(s);

    // NUL ends a line; bytes above 127 stay single characters.
    Put("b.txt", std::string("x\0y\n\xe9\xff\n", 7));
    s = ReadFile("b.txt");
    EXPECT_EQ(ReadLine(s), "x");
    EXPECT_EQ(ReadLine(s), "y");
    std::string l = ReadLine(s);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ((unsigned char)l[0], 0xe9);
    EXPECT_TRUE(EndOfStream(s));
    CloseStream(s);
}

TEST_F(Files, WriteLineAndTypes) {
    TStream* s = WriteFile("w.txt");
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(WriteLine(s, "one"));
    EXPECT_TRUE(WriteLine(s, std::string("\xe9", 1)));
    EXPECT_TRUE(CloseStream(s));
    EXPECT_EQ(Get("w.txt"), "one\r\n\xe9\r\n");
    EXPECT_EQ(FileType("w.txt"), 1);
    EXPECT_EQ(FileType("sub"), 2);
    EXPECT_EQ(FileType("nothing"), 0);
    EXPECT_EQ(FileType("w<.txt"), 0);
    EXPECT_EQ(ReadFile("nothing"), nullptr);
    EXPECT_EQ(ReadFile("sub"), nullptr);
    EXPECT_EQ(WriteFile("missing/dir/x"), nullptr);
    EXPECT_TRUE(ChangeDir("sub"));
    EXPECT_TRUE(ChangeDir("../"));
    EXPECT_FALSE(ChangeDir("nope"));
}

TEST_F(Files, AtomicWriteKeepsOldFileOnFailure) {
    Put("keep.txt", "old\r\n");
    std::string lines[] = {"new", "data"};
    EXPECT_TRUE(WriteFileAtomically("keep.txt", lines, 2));
    EXPECT_EQ(Get("keep.txt"), "new\r\ndata\r\n");
    EXPECT_EQ(FileType("keep.txt.tmp"), 0);
    // A folder in the way of the temporary file makes the write fail.
    fs::create_directory("keep.txt.tmp");
    EXPECT_FALSE(WriteFileAtomically("keep.txt", lines, 1));
    EXPECT_EQ(Get("keep.txt"), "new\r\ndata\r\n");
}

TEST_F(Files, WriteLineReportsAFullDisk) {
    if (FileType("/dev/full") == 0) WORMLOB_SKIP("no /dev/full");
    TStream* s = WriteFile("/dev/full");
    ASSERT_NE(s, nullptr);
    std::string big(1 << 16, 'x');
    bool all = true;
    for (int i = 0; i < 4; i++) all = WriteLine(s, big) && all;
    bool closed = CloseStream(s);
    EXPECT_FALSE(all && closed);
}

// -------------------------------------------------------------- input ---

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        InstallPlatformHooks(PlatformHooks{});
        ResetInputTables();
        SetMouseScale(1, 1);
    }
    static void Key(int code, bool down, bool repeat = false) {
        InputEvent e{down ? INPUT_KEY_DOWN : INPUT_KEY_UP};
        e.code = code;
        e.repeat = repeat;
        PostInputEvent(e);
    }
    static void Char(int c) {
        InputEvent e{INPUT_CHAR};
        e.code = c;
        PostInputEvent(e);
    }
};

TEST_F(Input, HeldKeyWithRepeatIsOneHitButManyCharacters) {
    Key(65, true);
    Char('a');
    for (int i = 0; i < 5; i++) {
        Key(65, true, true);
        Char('a');
    }
    EXPECT_EQ(KeyHitCount(65), 1);
    EXPECT_EQ(KeyHitCount(65), 0);
    EXPECT_EQ(KeyIsDown(65), 1);
    for (int i = 0; i < 6; i++) EXPECT_EQ(NextTypedChar(), 'a');
    EXPECT_EQ(NextTypedChar(), 0);
    Key(65, false);
    EXPECT_EQ(KeyIsDown(65), 0);
}

TEST_F(Input, TwoPressesBetweenFramesCountTwo) {
    Key(9, true);
    Key(9, false);
    Key(9, true);
    Key(9, false);
    EXPECT_EQ(KeyHitCount(9), 2);
    InputEvent m{INPUT_MOUSE_DOWN};
    m.code = 1;
    PostInputEvent(m);
    PostInputEvent(m);  // a second down without an up is not a new click
    EXPECT_EQ(MouseIsDown(1), 1);
    EXPECT_EQ(MouseHitCount(1), 1);
    EXPECT_EQ(MouseHitCount(1), 0);
}

TEST_F(Input, CharacterQueueHolds256AndDropsTheRest) {
    for (int i = 0; i < 300; i++) Char(1000 + i);
    for (int i = 0; i < 256; i++) ASSERT_EQ(NextTypedChar(), 1000 + i);
    EXPECT_EQ(NextTypedChar(), 0);
    // After draining, the ring keeps working.
    Char(7);
    EXPECT_EQ(NextTypedChar(), 7);
}

TEST_F(Input, SuspendAndFlushClear) {
    Key(38, true);
    Char('x');
    InputEvent m{INPUT_MOUSE_DOWN};
    m.code = 2;
    PostInputEvent(m);
    PostInputEvent(InputEvent{INPUT_SUSPEND});
    EXPECT_EQ(KeyIsDown(38), 0);
    EXPECT_EQ(KeyHitCount(38), 0);
    EXPECT_EQ(MouseIsDown(2), 0);
    EXPECT_EQ(NextTypedChar(), 0);

    Key(38, true);
    PostInputEvent(m);
    Char('y');
    FlushInput();  // keys and characters go, the mouse stays
    EXPECT_EQ(KeyIsDown(38), 0);
    EXPECT_EQ(NextTypedChar(), 0);
    EXPECT_EQ(MouseIsDown(2), 1);
    // Out-of-table codes are harmless.
    EXPECT_EQ(KeyIsDown(999), 0);
    EXPECT_EQ(MouseHitCount(-1), 0);
}

TEST_F(Input, PointerScaleAndWarp) {
    static int warpedX = -1, warpedY = -1;
    PlatformHooks h;
    h.warpMouse = [](int x, int y) { warpedX = x; warpedY = y; };
    InstallPlatformHooks(h);
    SetMouseScale(1280.0f / 800.0f, 960.0f / 600.0f);
    InputEvent mv{INPUT_MOUSE_MOVE};
    mv.x = 400;
    mv.y = 300;
    PostInputEvent(mv);
    EXPECT_FLOAT_EQ(MouseXPos(), 640.0f);
    EXPECT_FLOAT_EQ(MouseYPos(), 480.0f);
    MoveMousePos(1280, 960);
    EXPECT_EQ(warpedX, 800);
    EXPECT_EQ(warpedY, 600);
    // A place far beyond any screen is held at 2^24 pixels, so drawing
    // coordinates made from it still fit an int.
    mv.x = INT32_MAX;
    mv.y = INT32_MIN;
    PostInputEvent(mv);
    EXPECT_FLOAT_EQ(MouseXPos(), 16777216.0f * 1.6f);
    EXPECT_FLOAT_EQ(MouseYPos(), -16777216.0f * 1.6f);
    MoveMousePos(MouseXPos(), MouseYPos());
    EXPECT_EQ(warpedX, 16777216);
    EXPECT_EQ(warpedY, -16777216);
    InstallPlatformHooks(PlatformHooks{});
}

TEST_F(Input, HidingThePointerBeforeTheWindowExistsStillHidesIt) {
    static int hides = 0;
    InstallPlatformHooks(PlatformHooks{});
    HideMouse();  // no window yet: nothing to hide
    PlatformHooks h;
    h.hideMouse = [] { hides++; };
    InstallPlatformHooks(h);  // the window opens
    EXPECT_EQ(hides, 1);
    InstallPlatformHooks(PlatformHooks{});
}

TEST_F(Input, QueriesPumpThePlatformFirst) {
    static int pumps = 0;
    PlatformHooks h;
    h.pump = [] {
        pumps++;
        InputEvent e{INPUT_KEY_UP};
        e.code = 27;
        PostInputEvent(e);
    };
    Key(27, true);
    InstallPlatformHooks(h);
    // A wait loop that runs no frames still sees the release.
    EXPECT_EQ(KeyIsDown(27), 0);
    EXPECT_GE(pumps, 1);
    InstallPlatformHooks(PlatformHooks{});
}

// A demo player drives the pointer itself: the window's pointer, buttons
// and focus changes must not reach the tables, its keys still do, and what
// the program posts itself (the demo player's moves) always does.
TEST_F(Input, IgnoredPlatformPointerLetsOnlyKeysThrough) {
    PlatformHooks h;
    h.pump = [] {
        InputEvent e{INPUT_MOUSE_MOVE};
        e.x = 5, e.y = 6;
        PostInputEvent(e);
        for (InputEventType t : {INPUT_SUSPEND, INPUT_MOUSE_DOWN, INPUT_WHEEL, INPUT_KEY_DOWN}) {
            InputEvent o{t};
            o.code = t == INPUT_KEY_DOWN ? 27 : 1;
            PostInputEvent(o);
        }
    };
    InputEvent own{INPUT_MOUSE_MOVE};
    own.x = 300, own.y = 200;
    PostInputEvent(own);
    Key(65, true);
    IgnorePlatformPointer(true);
    InstallPlatformHooks(h);
    EXPECT_FLOAT_EQ(MouseXPos(), 300.0f);
    EXPECT_EQ(MouseIsDown(1), 0);
    EXPECT_EQ(MouseWheel(), 0);
    EXPECT_EQ(KeyIsDown(65), 1) << "a focus change reached the tables";
    EXPECT_EQ(KeyIsDown(27), 1);
    IgnorePlatformPointer(false);
    EXPECT_FLOAT_EQ(MouseXPos(), 5.0f);
    EXPECT_EQ(MouseIsDown(1), 1);
    InstallPlatformHooks(PlatformHooks{});
}

TEST_F(Input, ScriptedEventsArriveWhenTheClockPassesThem) {
    UseVirtualClock(-100);  // the script's times straddle the wrap of zero
    ASSERT_TRUE(LoadInputScriptText(
        "# comment\n"
        "50 key down 27\n"
        "10 move 100 200\n"
        "\t  # indented comment\n"
        "60 key up 27\n"
        "70 text Hi|\n"
        "80 mouse down 1\n"));
    EXPECT_EQ(PendingScriptedEvents(), 7);
    EXPECT_EQ(KeyIsDown(27), 0);
    SleepMs(10);
    EXPECT_FLOAT_EQ(MouseXPos(), 100.0f);
    SleepMs(40);
    EXPECT_EQ(KeyIsDown(27), 1);  // a wait loop sees it without any frame
    SleepMs(10);
    EXPECT_EQ(KeyIsDown(27), 0);
    EXPECT_EQ(KeyHitCount(27), 1);
    SleepMs(10);
    EXPECT_EQ(NextTypedChar(), 'H');
    EXPECT_EQ(NextTypedChar(), 'i');
    EXPECT_EQ(NextTypedChar(), '|');
    EXPECT_EQ(MouseIsDown(1), 0);
    SleepMs(10);
    EXPECT_EQ(MouseIsDown(1), 1);
    EXPECT_EQ(PendingScriptedEvents(), 0);
    UseRealClock();
}

// A typo in a test script must stop the run, saying where and what.
TEST_F(Input, MalformedScriptLinesAreRefusedWithLineAndReason) {
    struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"garbage line", "time \"garbage\" is not a whole number"},
        {"-5 key down 27", "time -5 is out of range 0..2147483647"},
        {"10 jump 3", "unknown event \"jump\""},
        {"10 key down 256", "key code 256 is out of range 0..255"},
        {"10 key press 27", "key wants \"down\" or \"up\", not \"press\""},
        {"10 mouse down 4", "mouse button 4 is out of range 1..3"},
        {"10 move 5", "missing y"},
        {"10 key up 27 28", "unexpected \"28\" after the event"},
        {"10", "missing event after the time"},
        {"10 char 1e3", "character code \"1e3\" is not a whole number"},
    };
    for (auto& c : cases) {
        std::vector<ScriptedInput> events;
        std::string error;
        EXPECT_FALSE(ParseInputScript("# first line\n5 key down 9\n" + std::string(c.line) + "\n", events, error));
        EXPECT_EQ(error.rfind("line 3: " + std::string(c.error), 0), 0u) << c.line << " gave " << error;
        EXPECT_TRUE(events.empty());
    }
    std::vector<ScriptedInput> events;
    std::string error;
    EXPECT_FALSE(ReadInputScript("/nonexistent/script.txt", events, error));
    EXPECT_EQ(error, "cannot be read");
}

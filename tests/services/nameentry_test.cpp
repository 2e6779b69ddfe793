#include "services/nameentry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "media/graphics.h"
#include "media/system.h"
#include "services/drawlog.h"
#include "services/scores.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/headless.h"

namespace fs = std::filesystem;

class NameEntry : public ::testing::Test {
protected:
    fs::path dir, old;
    std::vector<DrawCall> calls;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() / ("wl2_name_" + std::to_string(getpid()));
        fs::create_directories(dir / "418");
        fs::current_path(dir);
        OpenLog("Debug.txt");
        ChangeDir("418/");
        UseVirtualClock(5000);
        ASSERT_TRUE(OpenHeadlessDisplay());
        std::string font = std::string(WORMLOB_SOURCE_DIR) + "/Files/Common/Roadsign.ttf";
        Fonts[5] = LoadImageFont(font, 40, 0);
        Fonts[6] = LoadImageFont(font, 30, 0);
        std::memset(Settings, 0, sizeof Settings);
        SetDefaultSettings();
        ResetInputTables();
        FrameTimeMark = Millisecs();
        PlayState = 0;
        PlayerName = "Player";
        SetDrawRecorder(&calls);
    }
    void TearDown() override {
        SetDrawRecorder(nullptr);
        LoadInputScriptText("");
        for (auto& f : Fonts) f.reset();
        CloseDisplay();
        CloseLog();
        UseRealClock();
        fs::current_path(old);
        fs::remove_all(dir);
    }
    // Runs name entry with the input script (times from now) and returns the
    // number of frames it took.
    long long Run(const std::string& script) {
        EXPECT_TRUE(LoadInputScriptText(script));
        long long before = FrameCounter;
        EnterName();
        return FrameCounter - before;
    }
    // The name as shown on the last frame (the cursor cut off).
    std::string Shown() const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->kind == 'T' && it->text != "Enter Your Name")
                return it->text.substr(0, it->text.size() - 1);
        return "<none>";
    }
};

TEST_F(NameEntry, EnterAtOnceKeepsThePreviousName) {
    PlayerName = "Keeper";
    long long frames = Run("20 key down 13\n40 key up 13\n");
    EXPECT_EQ(PlayerName, "Keeper");
    EXPECT_LE(frames, 3);
    EXPECT_EQ(Shown(), "Keeper");
    EXPECT_EQ(PendingScriptedEvents(), 0);  // returned after the release
}

TEST_F(NameEntry, TypedCharactersAreAppendedOnePerFrameAndNoneLost) {
    PlayerName = "";
    // Twenty characters arrive at once; Enter long after.
    long long frames = Run("20 text ABCDEFGHIJKLMNOPQRST\n2000 key down 13\n2020 key up 13\n");
    EXPECT_EQ(PlayerName, "ABCDEFGHIJKLMNOPQRST");
    EXPECT_GE(frames, 20);
    // One character per frame: the shown name grew by at most one each time.
    size_t prev = 0;
    for (auto& c : calls) {
        if (c.kind != 'T' || c.text == "Enter Your Name") continue;
        size_t len = c.text.size() - 1;
        EXPECT_LE(len, prev + 1);
        prev = len;
    }
}

TEST_F(NameEntry, BackspaceDropsOneCharacterAndDoesNothingOnEmpty) {
    PlayerName = "AB";
    Run("20 key down 8\n30 key up 8\n60 key down 8\n70 key up 8\n100 key down 8\n110 key up 8\n"
        "150 text Z\n200 key down 8\n210 key up 8\n300 key down 13\n310 key up 13\n");
    EXPECT_EQ(PlayerName, "");  // an empty name is accepted

    PlayerName = "Q";
    Run("20 key down 8\n30 key up 8\n100 text XY\n300 key down 13\n310 key up 13\n");
    EXPECT_EQ(PlayerName, "XY");
}

TEST_F(NameEntry, RefusesTheSeparatorControlCodesAndWideCharacters) {
    PlayerName = "P";
    Run("20 char 124\n20 char 9\n20 char 13\n20 char 31\n20 char 32\n20 char 233\n20 char 255\n"
        "20 char 256\n20 char 8364\n20 text a\n1000 key down 13\n1010 key up 13\n");
    EXPECT_EQ(PlayerName, "P \xe9\xff"
                          "a");
    EXPECT_TRUE(NameCharAccepted(32));
    EXPECT_TRUE(NameCharAccepted(126));
    EXPECT_TRUE(NameCharAccepted(255));
    EXPECT_FALSE(NameCharAccepted(124));
    EXPECT_FALSE(NameCharAccepted(31));
    EXPECT_FALSE(NameCharAccepted(0));
    EXPECT_FALSE(NameCharAccepted(256));
}

// A score server takes names of up to 40 bytes: entry stops there, so a
// game is never filed under a name that would be refused. Characters typed
// at the limit are still taken from the queue (one a frame) and dropped.
TEST_F(NameEntry, StopsAtTheServersFortyCharacters) {
    const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    ASSERT_EQ(forty.size(), 40u);
    ASSERT_EQ(NameMostChars, 40u);
    struct Case {
        std::string start, script, name;
    } cases[] = {
        // Typed from empty, far past the limit.
        {"", "20 text " + forty + "opqrstuvwxyz\n3000 key down 13\n3020 key up 13\n", forty},
        // One short of the limit: one more fits, the rest not.
        {forty.substr(0, 39), "20 text XYZ\n1000 key down 13\n1020 key up 13\n", forty.substr(0, 39) + "X"},
        // At the limit: nothing more; Backspace makes room for one.
        {forty, "20 text XY\n200 key down 8\n220 key up 8\n300 text Q\n400 text R\n1000 key down 13\n1020 key up 13\n",
         forty.substr(0, 39) + "Q"},
        // Latin-1 letters are one character (one byte) each.
        {std::string(38, 'a'), "20 char 233\n20 char 255\n20 char 252\n1000 key down 13\n1020 key up 13\n",
         std::string(38, 'a') + "\xe9\xff"},
        // A longer name from an older score file is offered cut to the limit.
        {forty + "0123456789", "20 key down 13\n40 key up 13\n", forty},
    };
    for (const Case& c : cases) {
        PlayerName = c.start;
        calls.clear();
        Run(c.script);
        EXPECT_EQ(PlayerName, c.name) << c.script;
        EXPECT_LE(PlayerName.size(), 40u);
        EXPECT_EQ(Shown(), c.name) << c.script;
        EXPECT_EQ(PendingScriptedEvents(), 0) << c.script;
    }
}

TEST_F(NameEntry, AHeldButtonIsWaitedForBeforeTheNameCanBeConfirmed) {
    PlayerName = "Keeper";
    // The button that ended the game is still held.
    InputEvent down{INPUT_MOUSE_DOWN};
    down.code = 1;
    PostInputEvent(down);
    int start = Millisecs();
    long long frames = Run("500 mouse up 1\n600 text Z\n900 mouse down 1\n1200 mouse up 1\n");
    // Not confirmed by the held button: the typed Z made it in.
    EXPECT_EQ(PlayerName, "KeeperZ");
    // No frame was drawn while waiting for the first release (the wait
    // sleeps, so the clock moved on), and the return waited for the second.
    EXPECT_LE(frames, (900 - 500) / 14 + 3);  // about 60 without the wait
    EXPECT_GE(MsDiff(Millisecs(), start), 1200);
}

TEST_F(NameEntry, EscapeConfirmsWithoutOpeningThePause) {
    PlayerName = "Esc";
    PlayState = 1;  // name entry runs at the end of a game
    Run("20 text X\n100 key down 27\n150 key up 27\n");
    EXPECT_EQ(PlayerName, "EscX");
    EXPECT_EQ(PlayState, 1);
}

TEST_F(NameEntry, DrawsThePromptAndABlinkingCursor) {
    PlayerName = "ANN";
    Run("1500 key down 13\n1510 key up 13\n");
    SetImageFont(Fonts[5]);
    int nameX = 640 - TextWidth("ANN") / 2;
    bool on = false, off = false, prompt = false;
    for (auto& c : calls) {
        if (c.kind != 'T') continue;
        if (c.text == "Enter Your Name") {
            prompt = true;
            EXPECT_EQ(c.x, 640);
            EXPECT_EQ(c.y, 380);
            EXPECT_EQ(c.hAlign, 1);
            EXPECT_EQ(c.vAlign, 1);
            EXPECT_EQ(c.g, 255);
            EXPECT_EQ(c.r + c.b, 0);
            EXPECT_EQ(c.fontSlot, 6);
        } else {
            on |= c.text == "ANN_";
            off |= c.text == "ANN ";
            EXPECT_EQ(c.x, nameX);
            EXPECT_EQ(c.y, 480);
            EXPECT_EQ(c.vAlign, 1);
            EXPECT_EQ(c.fontSlot, 5);
        }
    }
    EXPECT_TRUE(prompt);
    EXPECT_TRUE(on);
    EXPECT_TRUE(off);
    // The background: bands every 10 units down to the bottom, rotated,
    // from purple towards blue.
    std::vector<DrawCall> bands;
    for (auto& c : calls)
        if (c.kind == 'R') bands.push_back(c);
    ASSERT_GE(bands.size(), 97u);
    EXPECT_EQ(bands[0].r, 49);
    EXPECT_EQ(bands[0].b, 50);
    EXPECT_EQ(bands[0].x, -100);
    EXPECT_EQ(bands[0].w, 1280 + 1800);
    EXPECT_FLOAT_EQ(bands[0].rotation, -45);
    EXPECT_EQ(bands[96].y, 960 * 3);
    EXPECT_EQ(bands[96].b, 98);
    EXPECT_EQ(bands[96].r, 1);  // 100 - 98.5, truncated
}

#include "media/journal.h"
#include "tests/support/program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
// A stand-in for the window: it reports a key press on its third poll.
int g_polls = 0;
void PressOnThirdPoll() {
    if (++g_polls == 3) {
        InputEvent e{INPUT_KEY_DOWN};
        e.code = 65;
        PostInputEvent(e);
    }
}
int32_t Answer42(int a, int b) { return 40 + a + b; }
}  // namespace

// What a recording sees is what its replay sees: the same clock readings,
// the key press in the same poll, the same device answer; the window's own
// events do not reach a replay.
TEST(Journal, RecordingPlaysBackTheSameReadingsEventsAndAnswers) {
    fs::path file = fs::temp_directory_path() / ("wl2_journal_" + std::to_string(getpid()) + ".txt");
    PlatformHooks hooks;
    hooks.pump = PressOnThirdPoll;
    InstallPlatformHooks(hooks);
    ResetInputTables();
    UseVirtualClock(5000);

    std::string error;
    ASSERT_TRUE(StartRecording(file.string(), error)) << error;
    std::vector<int> readings, keySeen;
    for (int i = 0; i < 4; i++) {
        readings.push_back(Millisecs());
        SleepMs(i < 3 ? 15 : 2);
        keySeen.push_back(KeyIsDown(65));
    }
    int32_t answer = JournalValue(Answer42, 1, 1);
    JournalFrame(0x0123456789abcdefull);
    EXPECT_EQ(FinishJournal(1), "");
    EXPECT_EQ(keySeen, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(answer, 42);
    // Equal steps share one line until something else is journaled.
    EXPECT_EQ(Slurp(file),
              "wormlob2 journal 1\nc 5000\nc 15 2\ne 3 0 65 0 0 0\nc 15\nv 42\nf 0123456789abcdef\nend 1\n");

    JournalData data;
    ASSERT_TRUE(ReadJournal(file.string(), data, error)) << error;
    g_polls = 0;
    ResetInputTables();
    UseVirtualClock(99999);  // a replay's time is the journal's, not this
    StartReplay(data);
    std::vector<int> again, keyAgain;
    for (int i = 0; i < 4; i++) {
        again.push_back(Millisecs());
        keyAgain.push_back(KeyIsDown(65));
    }
    // The window presses its key again on its third poll, but only the
    // journal's press (in the same poll) reaches the tables.
    EXPECT_EQ(again, readings);
    EXPECT_EQ(keyAgain, keySeen);
    EXPECT_EQ(JournalValue(Answer42, 7, 7), 42);
    JournalFrame(0x0123456789abcdefull);
    EXPECT_EQ(FinishJournal(1), "");

    InstallPlatformHooks(PlatformHooks());
    UseRealClock();
    fs::remove(file);
}

TEST(Journal, ReplayThatEndsEarlyOrLeavesInputOverSaysSo) {
    JournalData data;
    std::string error;
    ASSERT_TRUE(ParseJournal("wormlob2 journal 1\nc 10 2\ne 9 0 13 0 0 0\nf 0000000000000001\nend 1\n", data, error))
        << error;
    EXPECT_EQ(data.clock.size(), 1u);
    EXPECT_EQ(data.clock[0].count, 2u);
    EXPECT_EQ(data.endFrames, 1);
    StartReplay(data);
    EXPECT_EQ(Millisecs(), 10);
    EXPECT_EQ(FinishJournal(0), "the replay ended after 0 frames, the recording after 1");
    StartReplay(data);
    EXPECT_EQ(Millisecs(), 10);
    JournalFrame(1);
    EXPECT_EQ(FinishJournal(1), "the journal has 1 clock readings and 1 input events left over");
    // Windows line ends are read as well; a bad line names its number.
    EXPECT_TRUE(ParseJournal("wormlob2 journal 1\r\nc -3\r\n", data, error)) << error;
    EXPECT_EQ(data.clock[0].delta, -3);
    EXPECT_FALSE(ParseJournal("wormlob2 journal 1\nc 1\ne 1 0 13 0 0 2\n", data, error));
    EXPECT_EQ(error, "line 3: auto-repeat flag \"2\" is not 0 or 1");
    EXPECT_TRUE(data.clock.empty());
    EXPECT_FALSE(ParseJournal("wormlob2 journal 1\nv 1 2\n", data, error));
    EXPECT_EQ(error, "line 2: \"v\" wants 1 values");
}

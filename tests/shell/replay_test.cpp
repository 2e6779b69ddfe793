// Recording a run with --record and playing it again with --replay, through
// the real program in temporary copies of Files/.
#include "tests/support/skip.h"
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/program.h"
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
    }
    return out;
}

// The first score record of a scores.dat, split at '|', time stamp blanked.
std::vector<std::string> FirstRecord(const fs::path& scores) {
    std::vector<std::string> lines = SplitLines(Slurp(scores)), fields;
    if (lines.empty()) return fields;
    std::stringstream ss(lines[0]);
    for (std::string f; std::getline(ss, f, '|');) fields.push_back(f);
    if (fields.size() > 3) fields[3] = "";
    return fields;
}

class Replay : public ::testing::Test {
protected:
    fs::path root;
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("wl2_replay_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
    // A fresh copy of the data folder in root/name/Files; returns root/name.
    fs::path Fresh(const std::string& name) {
        fs::path dir = root / name, files = dir / "Files";
        fs::remove_all(dir);
        fs::create_directories(files);
        fs::path src = fs::path(WORMLOB_SOURCE_DIR) / "Files";
        fs::copy(src / "Common", files / "Common", fs::copy_options::recursive);
        fs::copy(src / "418", files / "418", fs::copy_options::recursive);
        for (const char* junk : {"418/scores.dat", "418/scores.dat.bak"}) fs::remove(files / junk);
        return dir;
    }
    // Runs the program in dir; file names in args are relative to root.
    int Run(const fs::path& dir, const std::string& args, int timeoutSecs = 180) {
        std::string cmd = "cd '" + dir.string() + "' && timeout " + std::to_string(timeoutSecs) + " '" +
                          std::string(WORMLOB_BINARY_DIR) + "/wormlob2' " + args + " >out.txt 2>&1";
        int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    // The "Hard" button, then the start button after about 9 s, then Enter
    // every 3 s for the name prompt: an untouched Hard game that ends on its
    // own (window pixels at 800 x 600 are drawing coordinates / 1.6).
    void WriteHardGameScript() {
        std::ofstream script(root / "in.txt");
        script << "100 move 375 500\n9000 mouse down 1\n9050 mouse up 1\n"
               << "9200 move 400 300\n9500 mouse down 1\n9550 mouse up 1\n";
        for (int t = 20000; t < 120000; t += 3000) script << t << " key down 13\n" << t + 50 << " key up 13\n";
    }
};
}  // namespace

// A Hard game played on the real clock and recorded; its replay, headless
// and from fresh files, gives the same frames, the same draws and the same
// filed record.
TEST_F(Replay, RealClockGameReplaysToTheSameChecksumsAndRecord) {
    WriteHardGameScript();
    // The seed fixes the game whatever the performance test measured on a
    // busy machine (it draws random numbers for as long as it runs); this
    // one ends the game in about 750 frames, filed by about frame 1600.
    const int frames = 2100;  // 35 s at 60 frames per second
    fs::path rec = Fresh("rec");
    ASSERT_EQ(Run(rec, "--headless --record ../j.txt --checksums ../rec.sums --input ../in.txt --seed 3 --frames " +
                           std::to_string(frames)),
              0)
        << Slurp(rec / "out.txt");
    std::vector<std::string> recorded = FirstRecord(rec / "Files" / "418" / "scores.dat");
    ASSERT_EQ(recorded.size(), 8u) << "the game did not end and file its record within the frames";
    EXPECT_EQ(recorded[5], "2");  // Hard
    EXPECT_GT(std::stol(recorded[0]), 0);
    std::vector<std::string> sums = SplitLines(Slurp(root / "rec.sums"));
    ASSERT_EQ(sums.size(), (size_t)frames);
    // The game really ran: its state changed from frame to frame.
    EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), 500u);
    std::vector<std::string> journal = SplitLines(Slurp(root / "j.txt"));
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front(), "wormlob2 journal 1");
    EXPECT_EQ(journal.back(), "end " + std::to_string(frames));

    fs::path play = Fresh("play");
    ASSERT_EQ(Run(play, "--headless --replay ../j.txt --checksums ../play.sums"), 0) << Slurp(play / "out.txt");
    EXPECT_EQ(SplitLines(Slurp(root / "play.sums")), sums);
    EXPECT_EQ(FirstRecord(play / "Files" / "418" / "scores.dat"), recorded);
    EXPECT_NE(Slurp(play / "Files" / "Debug.txt")
                  .find("Replay finished as recorded after " + std::to_string(frames) + " frames"),
              std::string::npos);
}

// The demo player's game on the real clock: its replay runs the demo player
// too (its own clicks go unheard; the journal's reach the tables) and ends
// with the same frames and the same record. The seed gives a short game.
TEST_F(Replay, RealClockDemoGameReplaysToTheSameChecksumsAndRecord) {
    fs::path rec = Fresh("rec");
    ASSERT_EQ(Run(rec, "--headless --record ../j.txt --checksums ../rec.sums --autoplay --mode hard --seed 8 "
                       "--games 1 --frames 5400"),
              0)
        << Slurp(rec / "out.txt");
    std::vector<std::string> recorded = FirstRecord(rec / "Files" / "418" / "scores.dat");
    ASSERT_EQ(recorded.size(), 8u) << "the demo game did not end within the frames";
    EXPECT_EQ(recorded[5], "2");
    std::vector<std::string> sums = SplitLines(Slurp(root / "rec.sums"));
    // The game alone runs 842 frames; the performance test before it runs
    // fewer frames on a busy machine, so it is not counted on here.
    ASSERT_GT(sums.size(), 900u);
    ASSERT_LT(sums.size(), 5400u);
    EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), 500u);

    fs::path play = Fresh("play");
    ASSERT_EQ(Run(play, "--headless --replay ../j.txt --checksums ../play.sums"), 0) << Slurp(play / "out.txt");
    EXPECT_EQ(SplitLines(Slurp(root / "play.sums")), sums);
    EXPECT_EQ(FirstRecord(play / "Files" / "418" / "scores.dat"), recorded);
    // The demo player reports the game it played, the same both times.
    std::string said = Slurp(rec / "out.txt");
    size_t at = said.find("autoplay: ");
    ASSERT_NE(at, std::string::npos) << said;
    std::string report = said.substr(at, said.find('\n', at) - at);
    EXPECT_NE(Slurp(play / "out.txt").find(report), std::string::npos) << report;
}

// Recorded through a real window (software GL under xvfb, where the
// performance test measures a slow machine and sizes the sprite budgets to
// it): the headless replay measures the same, logs the same and runs the
// same frames. Watched on the display again, the replay keeps to the
// recording frame for frame too (its first frames: software GL is slow).
TEST_F(Replay, DisplayRecordingReplaysHeadlessAndOnTheDisplay) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    WriteHardGameScript();
    fs::path rec = Fresh("rec");
    ASSERT_EQ(Run(rec, "--record ../j.txt --checksums ../rec.sums --input ../in.txt --frames 500", 300), 0)
        << Slurp(rec / "out.txt");
    std::vector<std::string> sums = SplitLines(Slurp(root / "rec.sums"));
    ASSERT_EQ(sums.size(), 500u);
    std::string recLog = Slurp(rec / "Files" / "Debug.txt");
    ASSERT_NE(recLog.find("Engine Test Results"), std::string::npos) << recLog;

    fs::path play = Fresh("play");
    ASSERT_EQ(Run(play, "--headless --replay ../j.txt --checksums ../play.sums"), 0) << Slurp(play / "out.txt");
    EXPECT_EQ(SplitLines(Slurp(root / "play.sums")), sums);
    // The same log, with one line more where the program closes.
    std::string expectLog = recLog;
    size_t closing = expectLog.rfind("Closing Up\r\n");
    ASSERT_NE(closing, std::string::npos);
    expectLog.insert(closing, "Replay finished as recorded after 500 frames\r\n");
    EXPECT_EQ(Slurp(play / "Files" / "Debug.txt"), expectLog);

    fs::path watch = Fresh("watch");
    ASSERT_EQ(Run(watch, "--replay ../j.txt --checksums ../watch.sums --frames 60", 300), 0)
        << Slurp(watch / "out.txt");
    sums.resize(60);
    EXPECT_EQ(SplitLines(Slurp(root / "watch.sums")), sums);
    EXPECT_NE(Slurp(watch / "Files" / "Debug.txt").find("Replay stopped by --frames after 60 frames"),
              std::string::npos);
}

// A journal that was tampered with stops the replay at the first frame that
// differs; one cut short (the recording was killed) stops where it ends.
// Neither writes the game's files.
TEST_F(Replay, ReplayThatGoesItsOwnWayOrRunsOutStopsWithAReason) {
    WriteHardGameScript();
    fs::path rec = Fresh("rec");
    ASSERT_EQ(Run(rec, "--headless --virtual-clock --record ../j.txt --input ../in.txt --frames 1200"), 0)
        << Slurp(rec / "out.txt");
    std::vector<std::string> journal = SplitLines(Slurp(root / "j.txt"));

    // Untouched, it replays in full; --frames cannot take it past its end.
    fs::path play = Fresh("whole");
    EXPECT_EQ(Run(play, "--headless --replay ../j.txt --frames 5000"), 0) << Slurp(play / "out.txt");
    EXPECT_NE(Slurp(play / "Files" / "Debug.txt").find("Replay finished as recorded after 1200 frames"),
              std::string::npos);

    // The start click lands elsewhere: the pointer differs at once.
    std::vector<std::string> moved = journal;
    int eventLine = -1;
    for (size_t i = 0; i < moved.size(); i++)
        if (moved[i].rfind("e ", 0) == 0 && moved[i].find(" 5 0 400 300 ") != std::string::npos) {
            moved[i].replace(moved[i].find(" 400 300 "), 9, " 401 300 ");
            eventLine = (int)i;
            break;
        }
    ASSERT_GE(eventLine, 0) << "the journal holds no move to the start button";
    std::ofstream out(root / "moved.txt");
    for (auto& l : moved) out << l << "\n";
    out.close();
    play = Fresh("moved");
    EXPECT_EQ(Run(play, "--headless --replay ../moved.txt"), 3);
    std::string log = Slurp(play / "Files" / "Debug.txt");
    EXPECT_NE(log.find("Replay stopped: frame "), std::string::npos) << log;
    EXPECT_NE(log.find("went differently from the recording"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(play / "Files" / "418" / "scores.dat"));

    // Cut after the first half of its lines, as a killed recording would be.
    std::ofstream cut(root / "cut.txt");
    for (size_t i = 0; i < journal.size() / 2; i++) cut << journal[i] << "\n";
    cut.close();
    play = Fresh("cut");
    EXPECT_EQ(Run(play, "--headless --replay ../cut.txt"), 3);
    log = Slurp(play / "Files" / "Debug.txt");
    EXPECT_NE(log.find("Replay stopped: the journal's "), std::string::npos) << log;
    EXPECT_NE(log.find(" ran out (frame "), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(play / "Files" / "418" / "scores.dat"));
}

// A journal that is malformed, of another format or combined with options
// that contradict it is refused before anything is opened.
TEST_F(Replay, BadJournalsAndOptionsAreRefusedBeforeAnythingOpens) {
    fs::path dir = Fresh("bad");
    WriteHardGameScript();
    struct Case {
        std::string journal, args, says;
    };
    std::vector<Case> cases = {
        {"", "--replay ../absent.txt", "absent.txt: cannot be read"},
        {"", "--replay ../j.txt", "empty (not a wormlob2 journal)"},
        {"hello\n", "--replay ../j.txt", "line 1: not a wormlob2 journal"},
        {"wormlob2 journal 7\n", "--replay ../j.txt", "line 1: format \"7\", but this program reads format 1"},
        {"wormlob2 journal 1\nc 5\nq 1\n", "--replay ../j.txt", "line 3: unknown item \"q\""},
        {"wormlob2 journal 1\nc x\n", "--replay ../j.txt", "line 2: clock step \"x\" is not a whole number"},
        {"wormlob2 journal 1\ne 5 3 1 0 0 0\ne 4 4 1 0 0 0\n", "--replay ../j.txt",
         "line 3: input poll 4 comes before the previous event's"},
        {"wormlob2 journal 1\ne 5 16 1 0 0 0\n", "--replay ../j.txt", "line 2: event type \"16\" is not one of"},
        {"wormlob2 journal 1\nf 12ab\n", "--replay ../j.txt", "line 2: frame checksum \"12ab\" is not 16 hex"},
        {"wormlob2 journal 1\nend 3\n", "--replay ../j.txt", "line 2: end after 3 frames, but the journal has 0"},
        {"wormlob2 journal 1\nend 0\nc 1\n", "--replay ../j.txt", "line 3: something after the end line"},
        {"wormlob2 journal 1\no speed 3\n", "--replay ../j.txt", "run option \"speed\" is not known"},
        {"wormlob2 journal 1\no seed x\n", "--replay ../j.txt", "run option seed has the odd value \"x\""},
        {"wormlob2 journal 1\n", "--replay ../j.txt --input ../in.txt", "cannot be used with it"},
        {"wormlob2 journal 1\n", "--replay ../j.txt --virtual-clock", "cannot be used with it"},
        {"wormlob2 journal 1\n", "--replay ../j.txt --autoplay", "cannot be used with it"},
        {"wormlob2 journal 1\n", "--replay ../j.txt --record ../k.txt", "cannot be used together"},
        {"", "--record ../no/such/k.txt", "no/such/k.txt: cannot be created"},
        {"", "--checksums ../no/such/k.txt", "no/such/k.txt: cannot be created"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + " with \"" + c.journal + "\"");
        fs::remove(root / "j.txt");
        if (c.args.find("absent") == std::string::npos) std::ofstream(root / "j.txt", std::ios::binary) << c.journal;
        EXPECT_EQ(Run(dir, "--headless " + c.args), 2);
        std::string said = Slurp(dir / "out.txt");
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_FALSE(fs::exists(dir / "Files" / "Debug.txt"));
        EXPECT_FALSE(fs::exists(root / "k.txt"));
    }
}

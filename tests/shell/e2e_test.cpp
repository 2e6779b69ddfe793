// End-to-end runs of the real program in a temporary copy of Files/.
#include "tests/support/skip.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "media/graphics.h"
#include "media/system.h"
#include "shell/startup.h"
#include "tests/support/program.h"

namespace {
// The log's lines for the sound effects there are, in order.
std::vector<std::string> SfxLines(const fs::path& files) {
    std::vector<std::string> l;
    for (int n = 1; n <= 200; n++) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        if (fs::exists(files / "418" / name)) l.push_back("\tSFX(" + std::to_string(n) + ")");
    }
    return l;
}
}  // namespace

TEST_F(Program, FirstStartLogsEveryStepInOrder) {
    ASSERT_EQ(Run("--headless --virtual-clock --frames 340"), 0) << Slurp(root / "out.txt");
    std::vector<std::string> log = Lines(Slurp(files / "Debug.txt"));
    std::string rule(28, '-');
    std::vector<std::string> expect = {"Brannoc's Tarnwick Engine", rule, "Week #418", rule, AppTitle(), rule, "",
                                       "Loading", "Setting Audio Driver", "Set Audio Driver", "",
                                       "\tRequested Resolution : 800x600", "\tSetup Loaded", "", "",
                                       "Grabbing Previous Scores", "", "", "-=-=-=-=-=-=-=-=-=-=-=-=-=-",
                                       "Applying Graphical Settings", "\tUsing OpenGL Driver",
                                       "\tResolution : 800x600,0", "", "Loading : Common Objects", "",
                                       "Switching to Default Folder", "", "\tDefault Fonts", "\tDefault Icons",
                                       "\tLogos", "\tBadgeGet", "", "Switching to Game Folder", "",
                                       "Loading Sound effects"};
    for (auto& s : SfxLines(files)) expect.push_back(s);
    for (const char* s : {"Sounds loaded", "", "Starting Engine Test", "Aiming for 60,4", "Test Complete", "",
                          "Engine Test Results", "", "\tMaximum Sprites Allowed for 60 Frames Per Second",
                          "\tMain sprites : 8000", "\tGlowy Sprites : 8000", "\tParticles : 4000", "", "",
                          "-=-=-=-=-=-=-=-=-=-=-=-=-=-", "Finished Loading", "Closing Up", "", "Bye!", "",
                          "Play again, soon!!"})
        expect.push_back(s);
    EXPECT_EQ(log, expect);
    EXPECT_GE(SfxLines(files).size(), 19u);
    EXPECT_TRUE(fs::exists(files / "Setup.ini"));
    EXPECT_TRUE(fs::exists(files / "418" / "scores.dat"));
    EXPECT_NE(Slurp(files / "Setup.ini").find("Width=800\r\nHeight=600\r\n"), std::string::npos);
}

TEST_F(Program, UnlistedSizeFallsBackToThePreviousOneAndIsWrittenBack) {
    std::ofstream(files / "Setup.ini", std::ios::binary) << "Width=1280\r\nHeight=1024\r\n";
    ASSERT_EQ(Run("--headless --virtual-clock --frames 330"), 0);
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("\tRequested Resolution : 1280x1024"), std::string::npos);
    EXPECT_NE(log.find("\tResolution : 800x600,0"), std::string::npos);
    EXPECT_NE(Slurp(files / "Setup.ini").find("Width=800\r\nHeight=600\r\n"), std::string::npos);
}

TEST_F(Program, WidescreenDisplayGivesTheWideDrawingArea) {
    std::ofstream(files / "Setup.ini", std::ios::binary) << "Width=1600\r\nHeight=900\r\n";
    ASSERT_EQ(Run("--headless --headless-size 1600x900 --virtual-clock --frames 330"), 0);
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("\tResolution : 1600x900,0\r\n\tWidescreen mode!\r\n"), std::string::npos);
}

TEST_F(Program, EscapeOnTheTitleQuitsWritingSetupBeforeScores) {
    // Loading takes 4.8 s of virtual time (the performance test); the title
    // is up after that. Escape is held until the program has ended.
    std::ofstream(root / "quit.txt") << "9000 key down 27\n";
    ASSERT_EQ(Run("--headless --virtual-clock --frames 100000000 --input quit.txt", 60), 0)
        << Slurp(root / "out.txt");
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("Finished Loading\r\nClosing Up\r\n\r\nBye!\r\n\r\nPlay again, soon!!\r\n"),
              std::string::npos);
    auto setupTime = fs::last_write_time(files / "Setup.ini");
    auto scoresTime = fs::last_write_time(files / "418" / "scores.dat");
    EXPECT_LE(setupTime, scoresTime);
}

TEST_F(Program, BadUsageAndMissingFolderFailCleanly) {
    EXPECT_EQ(Run("--frames"), 2);
    EXPECT_EQ(Run("--bogus"), 2);
    for (const char* bad : {"--mode easier", "--seed -1", "--games 0", "--games x", "--test-load 0",
                            "--test-load 20001", "--test-load 5x", "--test-load 100 --record r.journal"}) EXPECT_EQ(Run(bad), 2) << bad;
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(Slurp(root / "out.txt").find("--virtual-clock"), std::string::npos);
    EXPECT_EQ(Run("--headless --files nowhere"), 1);
    // A script with a typo, or none to read, is refused before anything is
    // opened: no log is written and no audio device is left open.
    std::ofstream(root / "typo.txt") << "100 key down 27\n200 kye up 27\n";
    EXPECT_EQ(Run("--headless --virtual-clock --input typo.txt"), 2);
    EXPECT_NE(Slurp(root / "out.txt").find("typo.txt: line 2: unknown event \"kye\""), std::string::npos)
        << Slurp(root / "out.txt");
    EXPECT_EQ(Run("--headless --virtual-clock --input absent.txt"), 2);
    EXPECT_NE(Slurp(root / "out.txt").find("absent.txt: cannot be read"), std::string::npos);
    EXPECT_FALSE(fs::exists(files / "Debug.txt"));
}

TEST_F(Program, NoDisplayAtAllExitsWithAReason) {
    // Without an X display neither the chosen mode nor the 800 x 600
    // fallback window can open: a clean exit with the reason, not a crash.
    // Asking SDL for X11 with no X display makes every opening fail.
    std::string cmd = "cd '" + root.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 '" +
                      std::string(WORMLOB_BINARY_DIR) + "/wormlob2' --virtual-clock --frames 50 >out.txt 2>&1";
    int r = std::system(cmd.c_str());
    int rc = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    EXPECT_EQ(rc, 1);
    EXPECT_NE(Slurp(root / "out.txt").find("could not open the display"), std::string::npos);
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("\tFalling back to an 800x600 OpenGL window"), std::string::npos);
    EXPECT_EQ(log.find("Finished Loading"), std::string::npos);
}

TEST_F(Program, MissingAssetsDoNotCrash) {
    // Every file that cannot be loaded is named in the log, once, and the
    // program runs on without it.
    std::multiset<std::string> expect;
    for (auto& e : fs::directory_iterator(files / "Common"))
        if (e.path().extension() != ".txt") expect.insert("\tMissing: " + e.path().filename().string());
    fs::remove_all(files / "Common");
    for (const char* name : {"pod1.png", "wormlob.ogg"}) {
        fs::remove(files / "418" / name);
        expect.insert(std::string("\tMissing: ") + name);
    }
    std::ofstream(files / "418" / "net.png", std::ios::binary) << "not a picture";
    expect.insert("\tCould not load: net.png");
    ASSERT_EQ(Run("--headless --virtual-clock --frames 400"), 0) << Slurp(root / "out.txt");
    std::vector<std::string> log = Lines(Slurp(files / "Debug.txt"));
    std::multiset<std::string> reported;
    for (const std::string& l : log)
        if (l.rfind("\tMissing: ", 0) == 0 || l.rfind("\tCould not load: ", 0) == 0) reported.insert(l);
    EXPECT_EQ(reported, expect);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Play again, soon!!");
}

TEST_F(Program, OddSetupFileIsReadAndRewrittenSafely) {
    std::string bad = "Master=2147483647\r\nMusic=-2147483648\r\nSound=99999999999\r\n"
                      "Width=0\nHeight=-2147483648\n\xff\xfe=\x01\x02\nKey=-5,$FFFFFFFF\nAudioDriver\n";
    bad.push_back('\0');
    bad += "Fullscreen=on";
    std::ofstream(files / "Setup.ini", std::ios::binary) << bad;
    ASSERT_EQ(Run("--headless --virtual-clock --frames 340"), 0) << Slurp(root / "out.txt");
    std::string setup = Slurp(files / "Setup.ini");
    EXPECT_NE(setup.find("Width=800\r\nHeight=600\r\n"), std::string::npos) << setup;
    EXPECT_NE(setup.find("Master = 2147483647\r\n"), std::string::npos) << setup;
    EXPECT_NE(Slurp(files / "Debug.txt").find("Play again, soon!!"), std::string::npos);
}

TEST_F(Program, FilesThatCannotBeWrittenDoNotStopTheProgram) {
    // Folders where the log, the setup and the score file belong: none can
    // be opened or replaced, and the program still runs and ends normally.
    fs::create_directories(files / "Debug.txt");
    fs::create_directories(files / "Setup.ini");
    fs::create_directories(files / "418" / "scores.dat");
    ASSERT_EQ(Run("--headless --virtual-clock --frames 340"), 0) << Slurp(root / "out.txt");
    EXPECT_NE(Slurp(root / "out.txt").find("cannot write Debug.txt"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(files / "Setup.ini"));
    EXPECT_TRUE(fs::is_directory(files / "418" / "scores.dat"));
}

TEST_F(Program, TitleScreenIsDrawnOnRealOpenGL) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    // The real clock: software GL cannot hold 60 frames per second for long,
    // so the performance test stops early and the title is up by frame 700.
    ASSERT_EQ(Run("--frames 710 --grab 700:title.png", 300), 0) << Slurp(root / "out.txt");
    ASSERT_TRUE(fs::exists(root / "title.png"));
    ForceNullGraphics(true);  // decode only; no second window
    ImageRef shot = LoadImage((root / "title.png").string(), 0);
    ASSERT_TRUE(shot);
    EXPECT_EQ(ImageWidth(shot), 800);
    EXPECT_EQ(ImageHeight(shot), 600);
    const TPixmap* px = ImageFramePixels(shot, 0);
    ASSERT_NE(px, nullptr);
    // The background stripes run from dark red (top left) to dark blue.
    auto at = [&](int x, int y) { return &px->pixels[(size_t)y * px->pitch + (size_t)x * 4]; };
    const uint8_t* corner = at(790, 10);
    EXPECT_GT(corner[0] + corner[2], 40);
    // The title's white letters are somewhere in the upper middle band.
    int white = 0;
    for (int y = 150; y < 260; y++)
        for (int x = 200; x < 600; x++)
            if (at(x, y)[0] > 230 && at(x, y)[1] > 230 && at(x, y)[2] > 230) white++;
    EXPECT_GT(white, 500);
}

TEST(Splash, WaitHoldsUntilTheDeadlineOnTheRealClock) {
    UseRealClock();
    auto t0 = std::chrono::steady_clock::now();
    WaitUntilMs((int)((uint32_t)Millisecs() + 300u));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 299);
    EXPECT_LT(ms, 1500);
    // Across the wrap of the virtual clock it neither hangs nor returns early.
    UseVirtualClock(INT32_MAX - 1000);
    int start = Millisecs();
    WaitUntilMs((int)((uint32_t)start + 2500u));
    EXPECT_EQ(MsDiff(Millisecs(), start), 2500);
    UseRealClock();
}

// A Hard game left to itself: the start click, then nothing but an Enter
// now and then for the name prompt. The game ends on its own and files one
// record; the same script plays the same game again.
TEST_F(Program, UntouchedHardGameEndsAndFilesTheSameRecordEachTime) {
    std::ofstream script(root / "in.txt");
    // Window pixels at 800 x 600 are drawing coordinates / 1.6: "Hard" at
    // (600, 800), the start button at (640, 480).
    script << "100 move 375 500\n9000 mouse down 1\n9050 mouse up 1\n"
           << "9200 move 400 300\n9500 mouse down 1\n9550 mouse up 1\n";
    for (int t = 20000; t < 200000; t += 3000) script << t << " key down 13\n" << t + 50 << " key up 13\n";
    script.close();
    for (int run = 0; run < 2; run++)
        ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --frames 12000"), 0) << Slurp(root / "out.txt");
    std::vector<std::string> lines = Lines(Slurp(files / "418" / "scores.dat"));
    ASSERT_GE(lines.size(), 4u);
    std::vector<std::string> records[2];
    for (int r = 0; r < 2; r++) {
        std::stringstream ss(lines[2 * r]);
        std::string field;
        while (std::getline(ss, field, '|')) records[r].push_back(field);
        ASSERT_EQ(records[r].size(), 8u);
        long score = std::stol(records[r][0]);
        EXPECT_GT(score, 0);
        EXPECT_EQ(score % 5, 0);
        EXPECT_EQ(records[r][5], "2");  // mode
        EXPECT_EQ(records[r][7], "0");  // not quit
    }
    records[0][3] = records[1][3] = "";  // time stamps aside
    EXPECT_EQ(records[0], records[1]);
}

// The demo player plays whole games through the input tables alone: two
// seeded Medium games end by themselves and are filed, and the same seed
// plays the same games again.
TEST_F(Program, AutoplayPlaysAndFilesWholeGames) {
    const std::string args = "--headless --virtual-clock --autoplay --mode medium --seed 3 --games 2";
    ASSERT_EQ(Run(args), 0) << Slurp(root / "out.txt");
    std::string first = Slurp(root / "out.txt");
    std::vector<std::string> lines = Lines(Slurp(files / "418" / "scores.dat"));
    ASSERT_EQ(lines.size(), 4u);
    for (int r = 0; r < 2; r++) {
        EXPECT_EQ(lines[2 * r].find("|Player|0|"), lines[2 * r].find('|')) << lines[2 * r];
        EXPECT_NE(lines[2 * r].find("|0|1|0|0"), std::string::npos) << "Medium, not quit: " << lines[2 * r];
    }
    size_t games = 0;
    for (size_t at = first.find("autoplay: mode 1 score "); at != std::string::npos;
         at = first.find("autoplay: mode 1 score ", at + 1))
        games++;
    EXPECT_EQ(games, 2u) << first;
    fs::remove(files / "418" / "scores.dat");
    ASSERT_EQ(Run(args), 0);
    auto report = [](const std::string& out) {
        std::string r;
        for (size_t at = out.find("autoplay:"); at != std::string::npos; at = out.find("autoplay:", at + 1))
            r += out.substr(at, out.find('\n', at) - at) + "\n";
        return r;
    };
    EXPECT_EQ(report(Slurp(root / "out.txt")), report(first));
}

// A seeded demo game is the same game in a window on the real clock as
// headless on the virtual one: on software GL the performance test runs a
// machine-dependent number of frames before the title, and the window sends
// its own pointer and focus events, neither of which the demo may follow.
TEST_F(Program, SeededDemoFilesTheSameRecordInAWindowOnTheRealClock) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    const std::string demo = "--autoplay --mode hard --seed 4 --games 1";
    ASSERT_EQ(Run("--headless --virtual-clock " + demo), 0) << Slurp(root / "out.txt");
    auto filed = [&] {
        std::vector<std::string> lines = Lines(Slurp(files / "418" / "scores.dat"));
        if (lines.empty()) return std::string();
        std::string r = lines[0];
        // Score|name|quit flag|time stamp|...: the time stamp differs.
        size_t a = 0;
        for (int field = 0; field < 3 && a != std::string::npos; field++) a = r.find('|', a + 1);
        size_t b = a == std::string::npos ? a : r.find('|', a + 1);
        if (b != std::string::npos) r.erase(a + 1, b - a - 1);
        return r;
    };
    std::string headless = filed();
    std::string report = Slurp(root / "out.txt");
    ASSERT_NE(report.find("autoplay: mode 2 score "), std::string::npos) << report;
    report = report.substr(report.find("autoplay:"));
    fs::remove(files / "418" / "scores.dat");

    ASSERT_EQ(Run(demo, 240), 0) << Slurp(root / "out.txt");
    std::string window = Slurp(root / "out.txt");
    ASSERT_NE(Slurp(files / "Debug.txt").find("Engine Test Results"), std::string::npos);
    EXPECT_NE(window.find(report), std::string::npos) << window << "\nheadless: " << report;
    EXPECT_EQ(filed(), headless);
}

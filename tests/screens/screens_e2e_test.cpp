// The settings panel, "Apply" and F11 through the real program, driven by
// scripted input in a temporary copy of Files/. Input positions are window
// pixels: drawing coordinates / 1.6 in the 800 x 600 window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "media/graphics.h"
#include "tests/support/program.h"
#include "tests/support/skip.h"

namespace {
class Panel : public Program {
protected:
    int Run(const std::string& script, const std::string& args) {
        std::ofstream(root / "input.txt") << script;
        return Program::Run("--virtual-clock --input input.txt " + args, 400);
    }
};

// The title is up about 5 s into the run (after the performance test).
// Tab opens the panel; a click on the display-mode option (drawing 40, 66);
// a drag of "Master Volume" from x 1011 to 1096 (its track starts at 998),
// which snaps to 100.
const char* PanelScript =
    "6000 key down 9\n6050 key up 9\n"
    "6500 move 25 41\n6550 mouse down 1\n6600 mouse up 1\n"
    "6800 move 632 61\n6850 mouse down 1\n6900 move 660 61\n6950 move 685 61\n7000 mouse up 1\n";
}  // namespace

TEST_F(Panel, SettingsAreSavedAndF11WritesAPicture) {
    if (!std::getenv("DISPLAY")) WORMLOB_SKIP("needs an X display (run under xvfb-run)");
    std::string script = std::string(PanelScript) + "7200 key down 9\n7250 key up 9\n7500 key down 122\n7550 key up 122\n";
    ASSERT_EQ(Run(script, "--frames 560"), 0) << Slurp(root / "out.txt");
    std::string setup = Slurp(files / "Setup.ini");
    EXPECT_NE(setup.find("Fullscreen = True\r\n"), std::string::npos) << setup;
    EXPECT_NE(setup.find("Master = 100\r\n"), std::string::npos) << setup;

    std::vector<fs::path> shots;
    for (auto& e : fs::directory_iterator(files))
        if (e.path().extension() == ".png") shots.push_back(e.path());
    ASSERT_EQ(shots.size(), 1u);
    std::string name = shots[0].filename().string();
    EXPECT_TRUE(std::regex_match(
        name, std::regex(R"(Wormlob 2 Bat the Pods Net the Prize \(Screenshot_\d\d [A-Z][a-z][a-z] \d{4}_\d{6}\)\.png)")))
        << name;
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("\r\n\r\n\tScreenshot\r\n\tGrabbing Screenshot\r\n\tSaving Screenshot : " + name +
                       "\r\n\tSaved Screenshot 1\r\n\r\n"),
              std::string::npos)
        << log;

    ForceNullGraphics(true);  // decode only
    ImageRef shot = LoadImage(shots[0].string(), 0);
    ASSERT_TRUE(shot);
    EXPECT_EQ(ImageWidth(shot), 800);
    EXPECT_EQ(ImageHeight(shot), 600);
    // The title's frame without the panel: the top rows are its stripes, not
    // the panel's dark shade.
    const TPixmap* px = ImageFramePixels(shot, 0);
    int lit = 0;
    for (int x = 0; x < 800; x++) lit += px->pixels[(size_t)100 * px->pitch + x * 4] > 40;
    EXPECT_GT(lit, 100);
}

TEST_F(Panel, ApplyDuringAGameThenQuitFromThePause) {
    // A game started from the title. During it: Tab, a click on the
    // resolution line (headless lists one mode, 1280 x 960) and "Apply"
    // (drawing 32, 288); the display re-opens and the performance test runs
    // inside the game's frame, with Escape held for a while. Then Escape
    // pauses, Up highlights "Quit", Space confirms; Enter confirms the name.
    std::string script =
        "6000 move 400 300\n6050 mouse down 1\n6100 mouse up 1\n"
        "7000 key down 9\n7050 key up 9\n7300 move 25 60\n7350 mouse down 1\n7400 mouse up 1\n"
        "7500 move 20 180\n7550 mouse down 1\n7600 mouse up 1\n8000 key down 27\n8500 key up 27\n"
        "13000 key down 27\n13100 key up 27\n"
        "13500 key down 38\n13550 key up 38\n14000 key down 32\n14050 key up 32\n"
        "17000 key down 13\n17050 key up 13\n";
    ASSERT_EQ(Run(script, "--headless --frames 1300"), 0) << Slurp(root / "out.txt");
    std::string log = Slurp(files / "Debug.txt");
    size_t loaded = log.find("Finished Loading");
    ASSERT_NE(loaded, std::string::npos);
    size_t change = log.find("\tChanged Graphics Mode ingame.\r\n\tUsing OpenGL Driver\r\n\tResolution : 1280x960,", loaded);
    ASSERT_NE(change, std::string::npos) << log;
    EXPECT_NE(log.find("Starting Engine Test", change), std::string::npos);
    EXPECT_NE(Slurp(files / "Setup.ini").find("Width=1280\r\nHeight=960\r\n"), std::string::npos);
    // The game carried on to the pause and was quit: one record, filed as
    // quit (the last field of its first line). A pause opened by the Escape
    // held during the performance test would have swallowed that "Quit".
    std::string scores = Slurp(files / "418" / "scores.dat");
    std::string first = scores.substr(0, scores.find("\r\n"));
    EXPECT_NE(first.find("|Player|"), std::string::npos) << scores;
    EXPECT_EQ(first.substr(first.rfind('|')), "|1") << scores;
}

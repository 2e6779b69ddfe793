// Hostile play through the real program: a Hard game flooded with 400 F3
// balls in its first seconds, then the pointer thrown tens of thousands of
// pixels outside the window while F4, Tab, Escape and F11 are pressed
// through the rest of it, and finally quit from the pause screen.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/program.h"

TEST_F(Program, HostilePlayEndsNormallyAndFilesTheGame) {
    std::ofstream script(root / "in.txt");
    // Window pixels at 800 x 600 are drawing coordinates / 1.6: "Hard" at
    // (600, 800), the start button at (640, 480). The game starts at about
    // 9.5 s of the program's clock.
    script << "100 move 375 500\n9000 mouse down 1\n9050 mouse up 1\n"
           << "9200 move 400 300\n9500 mouse down 1\n9550 mouse up 1\n";
    // A frame lasts 15 ms: one F3 press every 16 ms adds one ball a frame.
    int t = 10000;
    for (int i = 0; i < 400; i++, t += 16) script << t << " key down 114\n" << t + 5 << " key up 114\n";
    // Then a minute of the pointer far away and the global keys; the
    // Escape presses come in pairs (pause, then continue).
    const char* places[4] = {"100000 0", "-100000 -100000", "0 100000", "100000 -100000"};
    for (int i = 0; t < 80000; i++, t += 250) {
        switch (i % 8) {
        case 0:
        case 2:
        case 4:
        case 6: script << t << " move " << places[(i / 2) % 4] << "\n"; break;
        case 1: script << t << " key down 115\n" << t + 30 << " key up 115\n"; break;
        case 3: script << t << " key down 9\n" << t + 30 << " key up 9\n"; break;
        case 5:
        case 7: script << t << " key down 27\n" << t + 30 << " key up 27\n"; break;
        }
        if (i % 80 == 40) script << t + 100 << " key down 122\n" << t + 130 << " key up 122\n";
    }
    // Quit: pause, "Quit", confirm; then Enter at the name prompt.
    script << "81000 key down 27\n81030 key up 27\n81300 key down 40\n81330 key up 40\n"
           << "81600 key down 32\n81630 key up 32\n";
    for (t = 83000; t < 90000; t += 500) script << t << " key down 13\n" << t + 30 << " key up 13\n";
    script.close();

    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt --games 1 --frames 20000", 300), 0)
        << Slurp(root / "out.txt");
    // Ended by --games after the game was filed, not by the frame limit:
    // the farewell is logged and scores.dat holds the one Hard game.
    std::string log = Slurp(files / "Debug.txt");
    EXPECT_NE(log.find("Play again, soon!!"), std::string::npos);
    std::vector<std::string> lines = Lines(Slurp(files / "418" / "scores.dat"));
    ASSERT_EQ(lines.size(), 2u);
    std::vector<std::string> fields;
    std::stringstream ss(lines[0]);
    for (std::string f; std::getline(ss, f, '|');) fields.push_back(f);
    ASSERT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields[5], "2");  // Hard
    long long score = std::stoll(fields[0]);
    EXPECT_GT(score, 0);
    EXPECT_EQ(score % 5, 0);
    // The screenshots were written beside Setup.ini.
    int shots = 0;
    for (const auto& e : fs::directory_iterator(files))
        if (e.path().extension() == ".png") shots++;
    EXPECT_GE(shots, 1);
}

// Whole stretches of play in-process: a driver steers the bat under the
// lowest falling body, launches balls and works the net.
#include <gtest/gtest.h>

#include <cmath>

#include "game/broadphase.h"
#include "tests/support/game_world.h"

namespace {
class GamePlay : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(OpenGameWorld()); }
    void TearDown() override { GameBroadPhase = true; }
};

// Pointer x that puts the bat's centre at x.
int PointerFor(float x) { return (int)std::lround((x - 640) / 1.2 + 640); }

// Follows the lowest ball or loose pod that is coming down, clicks to launch
// resting balls, and opens the net for a while every few seconds.
Driver Steer(int frame) {
    Driver d;
    d.y = 600;
    float best = -1;
    for (const Pod& p : Game.PodList)
        if ((p.ball == 1 || p.free == 1) && p.gy > 0 && p.y > best && p.y < 960) {
            best = p.y;
            d.x = PointerFor(p.x);
        }
    // No clicks in the tally: a ball launched there knocks the resting
    // ones about and sprouts mushrooms, which the tally must clear first.
    d.left = frame % 20 < 10 && Game.WaveEndActive == 0;
    d.right = frame % 300 > 240;
    return d;
}

TEST_F(GamePlay, ClearsWavesThroughTheTallyIntoSpeedAndFocusRounds) {
    CurrentMode = 0;
    SeedRandom(2024);
    ResetGame();
    int tallies = 0, wasActive = 0;
    bool sawSpeedSpawn = false, sawFocusSpawn = false;
    int frame = 0;
    for (; frame < 60000 && Game.ExitCode == 0 && Game.WaveNumber < 5; frame++) {
        // A few more balls keep the waves short.
        int balls = 0;
        for (const Pod& p : Game.PodList) balls += p.ball;
        if (frame % 300 == 0 && balls < 5) TapKey(114);
        StepGame(Steer(frame));
        if (Game.WaveEndActive && !wasActive) tallies++;
        wasActive = Game.WaveEndActive;
        for (const Pod& p : Game.PodList) {
            if (p.ball || p.free) continue;
            if (Game.WaveNumber == 3 && p.spd >= 9 && p.y == 32) sawSpeedSpawn = true;
            if (Game.WaveNumber == 4 && p.y == 960 / 2 - 96) sawFocusSpawn = true;
        }
    }
    ASSERT_EQ(Game.ExitCode, 0) << "lost in wave " << Game.WaveNumber << " after " << frame << " frames";
    EXPECT_EQ(Game.WaveNumber, 5);
    EXPECT_EQ(tallies, 4);
    EXPECT_TRUE(sawSpeedSpawn);
    EXPECT_TRUE(sawFocusSpawn);
    EXPECT_GT(Game.GameScore, 4 * 1000);
}

// The broad phase must not change a single thing: the same dense game,
// played with the plain loops and with the grids, agrees on the whole
// state after every frame, through Flaming Balls and mushrooms sprouting
// in the middle of the Pod pass.
TEST_F(GamePlay, BroadPhaseChangesNothing) {
    const int frames = 400;
    std::vector<uint64_t> sums[2];
    int sprouted = 0;
    for (int pass = 0; pass < 2; pass++) {
        GameBroadPhase = pass == 1;
        SeedRandom(99);
        PopupList.clear();
        BuildDenseState();
        for (int f = 0; f < frames; f++) {
            Driver d;
            d.x = 640 + (int)(500 * std::sin(f * 0.03));
            d.y = 400 + (f % 200);
            d.left = f % 50 < 5;
            d.right = (f / 60) % 2 == 1;
            if (f == 100) Game.FlameTimer = 150;
            size_t mushrooms = Game.MushroomList.size();
            StepGame(d);
            if (pass == 0 && Game.MushroomList.size() > mushrooms) sprouted++;
            sums[pass].push_back(GameChecksum());
        }
    }
    EXPECT_GT(sprouted, 0);
    for (int f = 0; f < frames; f++) ASSERT_EQ(sums[0][f], sums[1][f]) << "frame " << f;
}
}  // namespace

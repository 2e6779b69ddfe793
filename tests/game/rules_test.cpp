// The game's rules on built states, where a slip is easy to make.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "game/broadphase.h"
#include "tests/support/game_world.h"

namespace {
class GameRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(OpenGameWorld()); }
    void SetUp() override {
        CurrentMode = 1;
        SeedRandom(777);
        ResetGame();
        PopupList.clear();
        // A wave in progress that nothing enters: one centipede still to
        // come keeps the wave from clearing, a long intro keeps it out.
        Game.WaveIntroTimer = 100000;
        Game.CentipedesToSpawn = 1;
        Game.AutoLaunchTimer = 0;
    }
    void PlaceBat(int x) {
        FrameMouseX = d.x = x;
        UpdateBat();
    }
    Driver d;
    // Only the Pods the test adds.
    Pod& Add(const Pod& p) {
        Game.PodList.push_back(p);
        return Game.PodList.back();
    }
    static Pod Segment(float x, float y, float dir = 1) {
        Pod p;
        p.x = x, p.y = y, p.y2 = y + 32, p.spd = 5, p.RSpd = 5, p.d = dir;
        p.r = 255, p.g = 50, p.b = 50, p.head = 1, p.health = 1;
        return p;
    }
    static Pod Loose(float x, float y, float gx, float gy) {
        Pod p = Segment(x, y);
        p.free = 1, p.gx = gx, p.gy = gy;
        return p;
    }
};

TEST_F(GameRules, WaveTableByMode) {
    struct Row { int mode, wave, speed, count; const char* title; };
    const Row rows[] = {
        {0, 1, 5, 2, "It Begins Again"}, {2, 1, 7, 4, "It Begins Again"}, {1, 2, 5, 6, "So many pods"},
        {1, 3, 9, 9, "Speed Round"},     {2, 3, 11, 12, "Speed Round"},   {1, 4, 5, 1, "Focus Round"},
        {0, 5, 7, 10, "Level Up"},       {2, 6, 10, 24, ""},              {1, 47, 28, 141, "Speed Round"},
        {2, 41, 30, 164, "Level Up"},    {1, 61, 30, 183, "Level Up"},
    };
    for (const Row& r : rows) {
        CurrentMode = r.mode;
        Game.WaveNumber = r.wave;
        StartWave();
        EXPECT_EQ(Game.CentipedeSpeed, r.speed) << r.mode << " " << r.wave;
        EXPECT_EQ(Game.CentipedesToSpawn, r.count) << r.mode << " " << r.wave;
        EXPECT_EQ(Game.RoundTitle, r.title) << r.mode << " " << r.wave;
        for (float c : {Game.BackR, Game.BackG, Game.BackB}) EXPECT_TRUE(c >= 20 && c <= 60);
        for (float c : {Game.BackDirR, Game.BackDirG, Game.BackDirB}) EXPECT_TRUE(std::fabs(c) >= 0.25f);
    }
    CurrentMode = 0;
    ResetGame();
    EXPECT_EQ(Game.ReserveBalls, 5);
    ASSERT_EQ(Game.PodList.size(), 1u);
    EXPECT_EQ(Game.PodList.front().y, 960 - 40);
}

TEST_F(GameRules, SpawnQueuesSegmentsWithColourBands) {
    Game.WaveNumber = 1;
    SpawnCentipede(7, 9);
    ASSERT_EQ(Game.PodList.size(), 8u);  // seven at the front, the ball last
    std::vector<int> classes;
    int i = 7;
    for (const Pod& p : Game.PodList) {
        if (p.ball) break;
        EXPECT_EQ(p.x, -(32 * i + 128));  // the last made is first in the list
        EXPECT_EQ(p.y, 32);
        EXPECT_EQ(p.spd, 9);
        EXPECT_EQ(p.n, (7 - i) * 32);
        classes.insert(classes.begin(), ColourClass(p.r, p.g, p.b));
        i--;
    }
    // Seven segments show all seven classes in order from a random start.
    for (int k = 1; k < 7; k++) EXPECT_EQ(classes[k], classes[k - 1] % 7 + 1);

    Game.PodList.clear();
    Game.WaveNumber = 4;
    SpawnCentipede(3, 5);
    for (const Pod& p : Game.PodList) EXPECT_EQ(p.y, 960 / 2 - 96);
}

TEST_F(GameRules, SegmentsTurnAtMarginsAndAtMushroomsOnlyWhileWalking) {
    Pod& right = Add(Segment(1280 - 24 - 2, 300));
    Pod& left = Add(Segment(26, 400, -1));
    Pod& entering = Add(Segment(-200, 500, 1));
    Pod& descending = Add(Segment(700, 600));
    descending.falling = 1;
    descending.y2 = 603;
    StepGame(d);
    EXPECT_EQ(right.x, 1280 - 24);
    EXPECT_EQ(right.falling, 1);
    EXPECT_EQ(left.x, 24);
    EXPECT_EQ(left.falling, 1);
    EXPECT_EQ(entering.falling, 0);
    EXPECT_EQ(descending.y, 603);  // reached the row: reversed and walking
    EXPECT_EQ(descending.d, -1);
    EXPECT_EQ(descending.y2, 635);

    // A mushroom's turning point is 19 pixels up and left of its centre.
    Game.PodList.clear();
    Pod& walker = Add(Segment(500, 300));
    Pod& faller = Add(Segment(800, 300));
    faller.falling = 1;
    faller.y2 = 400;
    AddMushroom(500 + 19 + 40, 300 + 19, 100, 100, 100);
    AddMushroom(800 + 19, 300 + 19 + 20, 100, 100, 100);
    StepGame(d);
    EXPECT_EQ(walker.falling, 1);
    EXPECT_EQ(faller.falling, 1);
    EXPECT_EQ(faller.d, 1);  // no new descent, no second reversal
    Game.MushroomList.clear();
    Pod& far = Add(Segment(300, 200));
    AddMushroom(300 + 19 + 80, 200 + 19, 1, 1, 1);
    StepGame(d);
    EXPECT_EQ(far.falling, 0);
}

TEST_F(GameRules, LaunchLatchAndAutoLaunch) {
    Pod& ball = Game.PodList.front();
    Game.LaunchLatch = 1;
    d.left = true;
    StepGame(d);
    EXPECT_EQ(ball.free, 0) << "held since the start: the latch holds";
    d.left = false;
    StepGame(d);
    EXPECT_EQ(Game.LaunchLatch, 0);
    d.left = true;
    StepGame(d);
    EXPECT_EQ(ball.free, 1);
    EXPECT_EQ(ball.y, 960 - (15 + 20));
    Game.PodList.pop_front();  // it would knock the next ball off the bat
    AddRestingBall(255, 255, 80);
    Pod& second = Game.PodList.back();
    StepGame(d);
    StepGame(d);
    EXPECT_EQ(second.free, 0) << "one press launches one ball";
    Game.AutoLaunchTimer = 2;
    StepGame(d);
    EXPECT_EQ(second.free, 1);
}

TEST_F(GameRules, OneBatBounceAndFivePointsPerContact) {
    Game.PodList.clear();
    PlaceBat(640);
    Pod& ball = Add(Loose(650, 960 - 15, 0.5f, 3));
    ball.ball = 1, ball.head = 0, ball.r = 80, ball.g = 255, ball.b = 80;
    size_t sparks = Game.ParticleList.size();
    StepGame(d);
    EXPECT_EQ(Game.GameScore, 5);
    EXPECT_EQ(ball.laugh, -1);
    EXPECT_TRUE(ball.gy <= -3 && ball.gy >= -6) << ball.gy;
    EXPECT_FLOAT_EQ(ball.gx, (ball.x - 640) * 0.3f) << "sideways from the bat centre";
    EXPECT_EQ(Game.ParticleList.size(), sparks + 8);
    ball.gy = 0.1f, ball.gx = 0;  // keep it on the bat
    StepGame(d);
    StepGame(d);
    EXPECT_EQ(Game.GameScore, 5);
}

TEST_F(GameRules, WallsCapTheSpeed) {
    // cap 4: a fast component comes back at 4..6, a slow one at least 3.
    Game.PodList.clear();
    Pod& top = Add(Loose(640, 20, 0, -9));
    top.ball = 1, top.laugh = 5;
    Pod& left = Add(Loose(10, 500, -1, 0));
    left.ball = 1, left.laugh = 5;
    Pod& right = Add(Loose(1275, 500, 2, 0));
    right.laugh = 5;  // a loose pod turns 30 pixels from the edge
    StepGame(d);
    EXPECT_TRUE(top.gy >= 4 && top.gy <= 6) << top.gy;
    EXPECT_TRUE(left.gx >= 3 && left.gx <= 6) << left.gx;
    EXPECT_TRUE(right.gx <= -3 && right.gx >= -6) << right.gx;
}

TEST_F(GameRules, LoosePodScoresFiveToTwentyFiveThenLeaves) {
    Game.PodList.clear();
    PlaceBat(640);
    Pod& pod = Add(Loose(640, 960 - 15 - 6, 0, 2));
    std::vector<int> scores;
    for (int hit = 1; hit <= 5; hit++) {
        int before = Game.GameScore;
        size_t sparks = Game.ParticleList.size();
        StepGame(d);
        scores.push_back(Game.GameScore - before);
        if (hit < 5) {
            EXPECT_EQ(pod.health, hit + 1);
            EXPECT_EQ(Game.ParticleList.size(), sparks + 3 * (hit + 1));
            pod.x = 640, pod.y = 960 - 15 - 6, pod.gy = 2, pod.laugh = 0;
        }
    }
    EXPECT_EQ(scores, (std::vector<int>{5, 10, 15, 20, 25}));
    EXPECT_TRUE(Game.PodList.empty()) << "removed at health 6";
    EXPECT_EQ(Game.BatLostClock, 0);

    Pod& spiked = Add(Loose(640, 960 - 15 - 6, 0, 2));
    spiked.spike = 1;
    StepGame(d);
    EXPECT_EQ(Game.BatLostClock, 2) << "a spiked pod loses the bat";
    EXPECT_EQ(spiked.health, 2) << "and still bounces";
}

TEST_F(GameRules, StrikeDistances) {
    struct Case { int dx, dy, flame; bool ball, hits; };
    const Case cases[] = {
        {34, 0, 0, false, true},  {35, 0, 0, false, false}, {-34, 0, 1, false, true}, {0, -69, 1, true, true},
        {69, 0, 1, false, true},  {70, 0, 1, false, false}, {24, 24, 0, true, true}, {25, 25, 0, true, false},
    };
    for (const Case& c : cases) {
        SetUp();
        Game.PodList.clear();
        Game.FlameTimer = c.flame ? 100 : 0;
        Pod& target = Add(Segment(400, 400));
        target.spd = 0;
        Pod striker = Loose(400 + c.dx, 400 + c.dy, 0, 0);
        striker.ball = c.ball;
        striker.head = c.ball ? 0 : 1;
        Game.PodList.push_front(striker);
        Pod& s = Game.PodList.front();
        BeginPodPass();
        StrikeCheck(s, 0);
        EXPECT_EQ(target.free, c.hits ? 1 : 0) << c.dx << "," << c.dy;
        if (c.hits) {
            EXPECT_EQ(target.laugh, 15);
            EXPECT_EQ(Game.GameScore, c.ball ? 0 : 5);
            // Both leave along the line between them, away from each other.
            EXPECT_GE(s.gx * (float)c.dx + s.gy * (float)c.dy, 0);
            EXPECT_LE(target.gx * (float)c.dx + target.gy * (float)c.dy, 0);
            EXPECT_TRUE(std::fabs(s.gx) >= 3 && std::fabs(s.gy) >= 3) << "minimum speeds";
        }
    }
    // Mushrooms: squared distance under 768 (27.7 pixels), each in range.
    SetUp();
    Game.PodList.clear();
    AddMushroom(500, 500, 10, 20, 30);
    AddMushroom(527, 500, 10, 20, 30);
    AddMushroom(528 + 27, 500, 10, 20, 30);
    Pod& p = Add(Loose(500, 500, 1, 2));
    BeginPodPass();
    StrikeCheck(p, 0);
    EXPECT_EQ(Game.GameScore, 10);
    EXPECT_EQ(p.gx, 1) << "reversed twice";
    std::vector<int> h;
    for (auto& m : Game.MushroomList) h.push_back(m.h);
    EXPECT_EQ(h, (std::vector<int>{2, 2, 1}));
}

TEST_F(GameRules, ThreePodResults) {
    struct Case { int c1, c2, c3; const char* msg; };
    const Case listed[] = {
        {1, 2, 3, "Flaming Balls"}, {3, 1, 2, "Flaming Balls"}, {5, 5, 6, "Slippery!"}, {6, 5, 5, "Slippery!"},
        {5, 5, 5, "Freeze!!"},      {5, 4, 5, "Freeze!!"},      {6, 6, 5, "Shrinkage"}, {4, 4, 1, "Extra Ball"},
        {2, 7, 2, "Growth"},        {7, 7, 7, "Sick!!"},        {1, 1, 4, "Love Bat"},  {3, 6, 3, "Super Bonus"},
        {4, 5, 6, "Bonus Points"},
    };
    auto run = [&](int c1, int c2, int c3) {
        SetUp();
        Game.CaughtColour[1] = c1, Game.CaughtColour[2] = c2, Game.CaughtColour[3] = c3;
        EvaluateCaughtPods();
    };
    for (const Case& c : listed) {
        run(c.c1, c.c2, c.c3);
        EXPECT_EQ(Game.PowerMessage, c.msg) << c.c1 << c.c2 << c.c3;
    }
    // Every ordered triple: the result depends on the classes, not their
    // order, and the score only moves for the two scoring results.
    std::set<std::string> seen;
    for (int a = 1; a <= 7; a++)
        for (int b = 1; b <= 7; b++)
            for (int c = 1; c <= 7; c++) {
                run(a, b, c);
                std::string m = Game.PowerMessage;
                int score = Game.GameScore;
                seen.insert(m);
                for (auto [x, y, z] : {std::tuple{a, c, b}, std::tuple{b, a, c}, std::tuple{c, b, a}}) {
                    run(x, y, z);
                    EXPECT_EQ(Game.PowerMessage, m) << a << b << c;
                }
                EXPECT_EQ(score, m == "Bonus Points" ? 100 : m == "Super Bonus" ? 2500 : 0);
                bool allDifferent = a != b && b != c && a != c;
                if (allDifferent) {
                    EXPECT_TRUE(m == "Flaming Balls" || m == "Bonus Points");
                }
            }
    EXPECT_EQ(seen.size(), 10u);

    // Bat width stays within 1..4.
    SetUp();
    for (int i = 0; i < 5; i++) {
        Game.CaughtColour[1] = Game.CaughtColour[2] = 2, Game.CaughtColour[3] = 1;
        EvaluateCaughtPods();
    }
    EXPECT_EQ(Game.BatWidth, 4);
    for (int i = 0; i < 8; i++) {
        Game.CaughtColour[1] = Game.CaughtColour[2] = 6, Game.CaughtColour[3] = 1;
        EvaluateCaughtPods();
    }
    EXPECT_EQ(Game.BatWidth, 1);
}

TEST_F(GameRules, NetCatchesThreeThenTheRowClears) {
    d.x = 640;
    d.right = true;
    for (int i = 0; i < 10; i++) StepGame(d);
    ASSERT_EQ(Game.NetScale, 1);
    int frames = 0;  // from the third catch
    for (int k = 1; k <= 4; k++) {
        Pod& p = Add(Loose(640, 960 / 2 + 150 - 8, 0, 2));
        p.r = SegmentColours[k][0], p.g = SegmentColours[k][1], p.b = SegmentColours[k][2];
        p.laugh = 5;
        StepGame(d);
        if (Game.CaughtCount == 3) frames++;
    }
    EXPECT_EQ(Game.CaughtCount, 3);
    EXPECT_EQ(Game.PowerMessage, "Flaming Balls");
    EXPECT_EQ(Game.FlameTimer, 599);  // 600 at the third catch, a frame ago
    int loose = 0;
    for (const Pod& p : Game.PodList) loose += p.ball == 0;
    EXPECT_EQ(loose, 1) << "the fourth passes through the full net";
    while (Game.CaughtCount == 3 && frames < 200) StepGame(d), frames++;
    EXPECT_EQ(frames, 60) << "the result shows for 60 frames, then the row empties";
}

TEST_F(GameRules, TallyPaysMushroomsAndBallsOnTheClock) {
    Game.CentipedesToSpawn = 0;
    Game.WaveIntroTimer = 0;
    for (int i = 0; i < 12; i++) AddMushroom(100 + 50 * i, 300, 100, 100, 100);
    AddRestingBall(255, 255, 255);  // two resting balls
    std::vector<std::pair<int, int>> payments;  // clock, score after
    int before = Game.GameScore;
    for (int f = 0; f < 400 && Game.WaveNumber == 1; f++) {
        StepGame(d);
        if (Game.GameScore != before) payments.push_back({Game.WaveEndClock, Game.GameScore});
        before = Game.GameScore;
    }
    ASSERT_EQ(payments.size(), 14u);
    EXPECT_EQ(payments[0].first, 25);  // cleared at 39, the clock set to 24, then counted on
    EXPECT_EQ(payments[1].first, 25);
    EXPECT_EQ(payments[11].second, 1200);
    EXPECT_EQ(payments[12], (std::pair<int, int>{70, 2200}));
    EXPECT_EQ(payments[13], (std::pair<int, int>{70, 3200}));
    EXPECT_EQ(Game.WaveNumber, 2);
    int balls = 0;
    for (const Pod& p : Game.PodList) balls += p.ball;
    EXPECT_EQ(balls, 3) << "every cleared wave adds a ball";
}

TEST_F(GameRules, LosingTheBatThrowsSparksThenEnds) {
    Game.PodList.clear();
    Game.CentipedesToSpawn = 1;
    AddRestingBall(1, 2, 3);
    Game.BatLostClock = 1;
    Game.ParticleList.clear();
    int sparks = 0, frames = 0;
    while (Game.ExitCode == 0 && frames < 500) {
        StepGame(d);
        frames++;
        for (const Particle& p : Game.ParticleList)
            if (p.r == 100 && p.alp == 1) sparks++;  // made this frame
    }
    EXPECT_EQ(sparks, 760);
    EXPECT_EQ(Game.ExitCode, 1);
    EXPECT_EQ(frames, 119);
    EXPECT_EQ(Game.ReserveBalls, 0);
}

TEST_F(GameRules, LosingTheLastBallEndsTheGame) {
    CurrentMode = 2;
    ResetGame();
    Game.WaveIntroTimer = 0;
    Game.PodList.front().free = 1;
    Game.PodList.front().y = 960 + 70;
    int frames = 0;
    while (Game.ExitCode == 0 && frames < 500) StepGame(d), frames++;
    EXPECT_EQ(Game.ExitCode, 1);
    EXPECT_EQ(frames, 120);
}
}  // namespace

namespace {
// At the default 800 x 600 window a drawing unit is 1/1.6 of a pixel: a
// pointer inside the band must stay exactly where the player put it.
TEST_F(GameRules, PointerConfinementMovesOnlyAPointerOutsideTheBand) {
    SetMouseScale(1.6f, 1.6f);
    InputEvent move{INPUT_MOUSE_MOVE};
    move.x = 401, move.y = 251;
    PostInputEvent(move);
    for (int f = 0; f < 30; f++) StepGame(d);
    EXPECT_FLOAT_EQ(MouseXPos(), 401 * 1.6f);
    EXPECT_FLOAT_EQ(MouseYPos(), 251 * 1.6f);
    move.y = 50;  // drawing y 80, above the band
    PostInputEvent(move);
    SettingsOpen = 1;
    StepGame(d);
    EXPECT_FLOAT_EQ(MouseYPos(), 50 * 1.6f) << "not while the settings panel is open";
    SettingsOpen = 0;
    StepGame(d);
    EXPECT_FLOAT_EQ(MouseYPos(), 125 * 1.6f);
    move.y = 599;
    PostInputEvent(move);
    StepGame(d);
    EXPECT_FLOAT_EQ(MouseYPos(), 375 * 1.6f);
    SetMouseScale(1, 1);
}
}  // namespace

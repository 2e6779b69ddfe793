// The game's records and the state of one game. Everything a game changes
// lives in the one GameState `Game`, reset in one statement when a game
// starts; the shell's tables the game only reads (images, MarginX, Settings,
// the frame's pointer) stay where they are.
#pragma once

#include <cstdint>
#include <list>
#include <string>

// One record for every moving body: a centipede segment, a loose pod or a
// ball, told apart by `ball` and `free`.
struct Pod {
    float x = 0, y = 0;
    float spd = 0;   // walking speed of a segment
    float d = 0;     // walking direction, +1 right, -1 left
    float y2 = 0;    // where the current descent ends
    float RSpd = 0;  // ripple rate
    float wx1 = 0, wy1 = 0, wx2 = 0, wy2 = 0, wx3 = 0, wy3 = 0;  // a ball's trail, newest first
    int falling = 0;  // 0 walking sideways, 1 descending
    int r = 0, g = 0, b = 0;
    int n = 0;        // ripple phase offset, degrees
    int health = 0;   // 1..5; a loose pod reaching 6 is removed
    int power = 0;    // never used
    int head = 0;     // score multiplier: 1 for pods, 0 for balls
    int spike = 0;    // spiked: fatal to the bat
    int free = 0;     // 0 attached/resting, 1 loose/flying, 2 netted
    int ball = 0;
    float rot = 0;
    float grot = 0;
    float gx = 0, gy = 0;  // velocity (half the distance moved per frame)
    int laugh = 0;    // -1 touching the bat, >0 frames without strikes, 0 free
};

struct Mushroom {
    int x = 0, y = 0;
    int h = 0;  // 1..4, 5 = gone at the next mushroom pass
    int r = 0, g = 0, b = 0;
    // Orders mushrooms by height on screen; the list is kept sorted by it.
    int Compare(const Mushroom& other) const { return y - other.y; }
};

struct Particle {
    float x = 0, y = 0, gx = 0, gy = 0;
    int r = 0, g = 0, b = 0;
    float alp = 1;
};

struct GameState {
    std::list<Pod> PodList;
    std::list<Mushroom> MushroomList;
    std::list<Particle> ParticleList;
    int GameScore = 0;
    int WaveNumber = 1;
    int CentipedeSpeed = 0;
    int CentipedesToSpawn = 0;
    int AutoLaunchTimer = 0;
    int HomingPhase = 0;
    int WaveEndActive = 0, WaveEndClock = 0, BallBonusLeft = 0, MushroomBonusCount = 0;
    int BallBonusStart = 0;  // balls the running tally pays for
    std::string RoundTitle;
    int BatLostClock = 0;
    int LaunchLatch = 1;
    std::string PowerMessage;
    int SickTimer = 0, LoveBatTimer = 0, FlameTimer = 0, FreezeTimer = 0, SlipperyTimer = 0;
    float SlipDrift = 0;
    int WaveIntroTimer = 0;
    float PlantPitch = 0.5f;  // rises with each mushroom planted in a wave intro
    int PodSpeedCap = 4;
    int NetOpen = 0;
    float NetScale = 0;
    int CaughtCount = 0;
    int CaughtColour[4] = {}, CaughtGrow[4] = {}, CaughtAge[4] = {};
    float BackR = 0, BackG = 0, BackB = 0;
    float BackDirR = 0, BackDirG = 0, BackDirB = 0;
    // This frame's background alpha, fixed before the sick timer counts down.
    float BackAlpha = 0.5f;
    int ReserveBalls = 0;
    int BatX = 0;
    int BatLift = 0;
    float BatWidth = 2;
    int RestX = 0;
    int GameOverFlag = 0;
    int ExitCode = 0;
    int FrameNo = 0;
    int BadgeCount = 0;
    int Best[31] = {};
    // This frame's tallies of the Pod pass.
    int FrameLoose = 0, FrameBalls = 0, FrameSegments = 0;
    int EntryRowBusy = 0;
};

extern GameState Game;
// The channel slot the last sound effect went to (20..255, rotating).
extern int SfxSlot;

// Plays numbered sound effect id on the next effect slot of Channels.
void PlaySfx(int id, float rate = 1, float volume = 1, float pan = 0);
// Adds points to the score with a pop-up at (x, y).
void AddPoints(int points, int x, int y, int r, int g, int b);

// Float to int, truncating toward zero; values beyond the int range (a body
// flung far off screen) saturate instead of being undefined.
inline int Trunc(double v) {
    if (!(v == v)) return 0;  // NaN
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return (int)-2147483647 - 1;
    return (int)v;
}
// The colour class 1..7 a pod's colour belongs to.
int ColourClass(int r, int g, int b);
// Appends a spark at (x, y) with velocity (gx, gy).
void AddSpark(float x, float y, float gx, float gy, int r, int g, int b);
// n sparks with velocity (RandomFloat(xa, xb), RandomFloat(ya, yb)); the y
// velocity is drawn first.
void AddSparks(int n, float x, float y, float xa, float xb, float ya, float yb, int r, int g, int b);
// Adds a mushroom and keeps MushroomList sorted by y (equal heights keep
// their order, the new one last among them).
Mushroom& AddMushroom(int x, int y, int r, int g, int b);
// Appends a resting ball at (RestX, H - 30).
void AddRestingBall(int r, int g, int b);

// A hash of everything a game's future depends on: the whole GameState, the
// random generator, the pop-ups and the effect slot. Two runs that agree on
// it every frame played the same game.
uint64_t GameChecksum();

// The game's routines, called by the game loop (loop.cpp) and by tests.
#pragma once

#include "game/state.h"
#include "media/graphics.h"

// Colours of the seven segment classes, rows 1..7.
extern const int SegmentColours[8][3];

// Whole game and its waves.
void ResetGame();  // a new game's state, the first ball and wave 1
void StartWave();
// Steps 1 to 24 of a game frame: everything but the frame hub and the ending.
void GameFrameBody();
// One whole frame: the body, FinishFrame and the quit result. True while the
// game goes on.
bool GameFrame();
void DrawGameOver();

// Centipedes.
void SpawnCentipede(int length, int speed);
void PodLook(Pod& p);
void UpdateSegment(Pod& p);

// Bat and balls.
void UpdateBat();
void UpdateBall(Pod& p);
// Turns the velocity inward at the top and side walls (no floor), margin
// pixels from the edges: 24 for balls, 30 for loose pods.
void BounceOffWalls(Pod& p, float margin);
// True while the body (its image at the given scale) touches the bat's
// collision shape for balls and loose pods, and the bat is not lost.
bool TouchesBat(const Pod& p, const ImageRef& image, float scale);
// The velocity after a bounce off the bat (balls and loose pods alike).
void BatBounce(Pod& p);

// Loose pods, strikes, mushrooms and the net.
void UpdateLoosePod(Pod& p);
void StrikeCheck(Pod& p, int index);
void MushroomPass();
void UpdateNet();

// Power-ups.
void NetRow();
void EvaluateCaughtPods();

// Drawing.
void DrawBackground();
void SparkPass();
void DrawClearTexts(int balls);
void DrawTallyTexts();
void DrawHud();
void DrawWaveBanner(int s);

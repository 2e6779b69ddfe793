// The demo player (--autoplay): plays through the same input path as the
// mouse and keys, never touching game state. Called once a frame by the
// frame hub, before the pointer and clicks are taken for the next frame.
#pragma once

void AutoplayTick();
// One line on standard output when a game ends: mode, score, wave, frames.
void ReportAutoplayGame();

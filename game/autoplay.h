// The demo player (--autoplay): plays through the same input path as the
// mouse and keys, never touching game state. Called once a frame by the
// frame hub, before the pointer and clicks are taken for the next frame.
#pragma once

void AutoplayTick();
// One line on standard output when a game ends: mode, score, wave, frames.
void ReportAutoplayGame();
// The demo player's counters, for a game journal: its input queries poll
// the input as a player's would not, so a replay of its game runs it again
// from the same counts (its own events are not taken: the journal's are).
void SaveAutoplayState(int& tick, int& titleFrames);
void RestoreAutoplayState(int tick, int titleFrames);

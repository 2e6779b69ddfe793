// The high-score panel at the right of the title screen: the best 25 scores
// of the selected mode (16 rows shown), a scrollable timeline of recent
// games, and a detail box for the record under the pointer or pinned by a
// click. Rebuilt from ScoreList on every call; records that can no longer
// rank are pruned from the list as a side effect.
#pragma once

#include <cstdint>

#include "services/scores.h"

// The ranking, best first, slots 1..25 (0 unused); rebuilt on every call.
extern ScoreRef TopScores[26];
// The record shown in the detail box this frame (null: none).
extern ScoreRef PickedRecord;
// Highest score among the matching records, as its low 32 bits; 1 when there
// are none or all are 0.
extern int32_t BestScoreShown;

// Draws the panel for the records whose Level, GameMode and GameFlags equal
// the arguments. a is the slide offset: 320 at rest, larger slides the panel
// out to the right. Reads the pointer from FrameMouseX/FrameMouseY and the
// left button; updates ScoreScroll and ScorePick.
void DrawScoreTable(int a, int mode, int level, int flags);

// Timeline height of a score: score * 150 / best in 64-bit arithmetic, with
// the product taken without overflow; best is never 0 here.
int64_t TimelineHeight(int64_t score, int32_t best);

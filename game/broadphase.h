// Finding what a body may touch during the Pod pass without testing every
// pair. Two grids by position: mushrooms (for segments turning at them) and
// the attached Pods (segments and resting balls, for strikes). Both give
// exactly the answers of the plain loops, in the same list order; the plain
// loops stay as the reference (GameBroadPhase = false), and a test runs
// whole games both ways and compares the state every frame.
#pragma once

#include <vector>

#include "game/state.h"

extern bool GameBroadPhase;

// Called at the start of the Pod pass: numbers the Pods in list order and
// files the mushrooms and attached Pods by position.
void BeginPodPass();
// After each Pod's turn: the Pod at this list position moved, or was removed.
void PodTurnEnded(int index, Pod& p);
void PodRemoved(int index);
// A mushroom added during the pass.
void MushroomAddedDuringPass(Mushroom& m);

// True when the segment's image overlaps a mushroom (collision images at the
// mushrooms' turning points).
bool SegmentTouchesMushroom(const Pod& p);
// The other attached Pods within a squared distance of limit of striker P
// (at list position index), in list order.
void StrikeTargets(const Pod& p, int index, long long limit, std::vector<Pod*>& out);

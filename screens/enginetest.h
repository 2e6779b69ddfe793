// The start-up performance test: sizes the sprite budgets to the machine.
#pragma once

extern int TargetRate;
// Set while the test runs. Its length in frames depends on how fast this
// machine draws, so nothing that must replay the same everywhere (the demo
// player) may count or act on its frames.
extern bool EngineTestRunning;
void EngineTest(int aim, int spriteScale);
// One frame's picture of the test, behind its load: the striped backdrop and
// the two logos (the sprite benchmark draws it too).
void DrawEngineTestPicture();

// The start-up performance test: sizes the sprite budgets to the machine.
#pragma once

extern int TargetRate;
void EngineTest(int aim, int spriteScale);
// One frame's picture of the test, behind its load: the striped backdrop and
// the two logos (the sprite benchmark draws it too).
void DrawEngineTestPicture();

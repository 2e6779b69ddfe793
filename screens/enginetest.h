// The start-up performance test: sizes the sprite budgets to the machine.
#pragma once

extern int TargetRate;
void EngineTest(int aim, int spriteScale);

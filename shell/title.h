// The title screen: one frame per turn of the outer loop.
#pragma once

extern int SlideIn;
extern int StartLatch;
extern int StartHeld;
extern int BobAngle;

// Draws one title frame and reads its inputs; runs a game (through the
// outer loop's start routine) when the start button is pressed. Does not
// call FinishFrame.
void TitleFrame();

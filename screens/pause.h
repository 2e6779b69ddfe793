// The pause screen: "Continue" or "Quit" over a turning, breathing copy of
// the frozen game picture.
#pragma once

// The pause menu's selection and latch; a move or a confirmation needs the
// latch clear and sets it, and it clears only when nothing is held.
struct PauseMenu {
    int sel = 0;    // 0 "Continue", 1 "Quit"
    int latch = 1;  // set on entry: a key held while pausing does nothing yet
    int result = 0;
};
// One frame of navigation with the inputs held this frame (the selection
// wraps between the two items).
void PauseNavigate(PauseMenu& m, bool up, bool down, bool confirm);
// Confirmation of the highlighted item: 1 "Continue", 99 "Quit".
void PauseConfirm(PauseMenu& m, bool confirm);

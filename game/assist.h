// The colour-symbol assist: each coloured pod carries a small black shape
// for its colour class, so that a player who cannot tell red from green
// (or orange) can still aim the net for a power-up. Off by default; F8
// turns it on and off (saying so on screen), --assist turns it on for a
// run, and the choice is kept in "Assist.ini" beside "Setup.ini".
#pragma once

extern bool ColourSymbols;

// Reads "Assist.ini" in the current folder (the data folder, at start-up);
// a missing or unreadable file leaves the assist off.
void LoadAssist();
// Once a frame: F8 turns the assist on or off, says so and saves it.
void AssistKeyTick();
// The symbol of colour class k (1..7) centred on (cx, cy), its 64 x 64 cell
// drawn at the given scale. Does nothing while the assist is off; leaves
// the drawing state as it found it.
void DrawColourSymbol(int k, float cx, float cy, float scale);

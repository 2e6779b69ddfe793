// The full-screen "Enter Your Name" prompt run after every game. It edits
// PlayerName (services/scores.h) in place, so a returning player only has to
// confirm.
#pragma once

#include <cstddef>

// Runs until the player confirms with Enter, the left button or Escape (there
// is no cancel). Waits for those to be released before it starts and again
// before it returns, so the press that ended the game does not confirm and
// the confirming press does not reach the next screen. Accepts one typed
// character per frame, codes 32..255 except "|" (the score file's field
// separator), up to NameMostChars characters; Backspace drops the last
// character. Seeds the random generator from the clock at the end.
void EnterName();
// The longest name entry makes: a score server takes names of up to 40
// bytes (one byte a character here), and a game filed under a longer name
// could never be ranked. A character typed at the limit is taken from the
// queue and dropped, as a refused character is.
constexpr size_t NameMostChars = 40;
// 1 while the prompt's frames run (the demo player answers it).
extern int NameEntryActive;

// True when name entry accepts the typed character code.
bool NameCharAccepted(int code);

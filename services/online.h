// The score client's hooks that a game calls. The client sends filed games
// to a score server in the background; none of these blocks a frame.
#pragma once
#include <string>

// A game starts from the title: a session token is taken in the background.
void OnlineGameStarted();
// The token taken for the running game; "" when none (yet).
std::string OnlineGameToken();
// A game's journal has been written to journalPath; counts is false for
// practice and demo games, which are never sent.
void OnlineGameFiled(const std::string& journalPath, bool counts);

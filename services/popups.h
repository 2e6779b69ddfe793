// Score pop-ups: the small numbers that appear where points were scored,
// drift upwards and fade out over two seconds. The frame hub ticks and draws
// them once per frame, after the screen's own drawing.
#pragma once

#include <list>
#include <memory>

struct ScorePopup {
    int n = 0;           // the points shown
    float x = 0, y = 0;  // centre of the text
    int t = 0;           // remaining life in frames
    int r = 0, g = 0, b = 0;
};

// Live pop-ups in creation order; kept across games.
extern std::list<std::shared_ptr<ScorePopup>> PopupList;

// Frames a new pop-up lives.
constexpr int PopupLife = 120;

// Appends a pop-up showing points at (x, y) in the given colour.
void AddPopup(int points, int x, int y, int r, int g, int b);
// Ages every pop-up by one frame, drops the expired ones and draws the rest
// (font slot 3, centred, fading out).
void TickPopups();

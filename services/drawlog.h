// The services' drawing calls, with an optional recorder behind them. The
// score table, name entry and pop-ups draw through these so a test (or a
// tool) can see exactly what was drawn, with which colour, alpha and font,
// without reading pixels back.
#pragma once

#include <string>
#include <vector>

#include "media/graphics.h"

struct DrawCall {
    char kind = 0;           // 'R' rectangle, 'L' line, 'S' sprite, 'T' text
    float x = 0, y = 0;      // rectangle/sprite/text position; line start
    float w = 0, h = 0;      // rectangle size; line end (x2, y2)
    int frame = 0;           // sprite frame
    int hAlign = 0, vAlign = 0;
    std::string text;
    int r = 0, g = 0, b = 0;
    float alpha = 0;
    float rotation = 0;
    int fontSlot = -1;       // slot of Fonts holding the current font, -1 none
};

// Every call below is appended to sink while it is set (null: stop).
void SetDrawRecorder(std::vector<DrawCall>* sink);

void LoggedRect(float x, float y, float w, float h);
void LoggedLine(float x1, float y1, float x2, float y2);
void LoggedSprite(const ImageRef& image, int x, int y, int frame, int category);
void LoggedText(int x, int y, const std::string& text, int hAlign, int vAlign);

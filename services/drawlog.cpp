#include "services/drawlog.h"

#include "screens/helpers.h"
#include "shell/display.h"

namespace {
std::vector<DrawCall>* g_sink = nullptr;

void Record(DrawCall c) {
    if (!g_sink) return;
    GetColor(c.r, c.g, c.b);
    c.alpha = GetAlpha();
    c.rotation = GetRotation();
    FontRef font = GetImageFont();
    for (int i = 0; i < 20 && font; i++)
        if (Fonts[i] == font) {
            c.fontSlot = i;
            break;
        }
    g_sink->push_back(std::move(c));
}
}  // namespace

void SetDrawRecorder(std::vector<DrawCall>* sink) { g_sink = sink; }

void LoggedRect(float x, float y, float w, float h) {
    DrawCall c;
    c.kind = 'R';
    c.x = x, c.y = y, c.w = w, c.h = h;
    Record(c);
    DrawRect(x, y, w, h);
}

void LoggedLine(float x1, float y1, float x2, float y2) {
    DrawCall c;
    c.kind = 'L';
    c.x = x1, c.y = y1, c.w = x2, c.h = y2;
    Record(c);
    DrawLine(x1, y1, x2, y2);
}

void LoggedSprite(const ImageRef& image, int x, int y, int frame, int category) {
    DrawCall c;
    c.kind = 'S';
    c.x = (float)x, c.y = (float)y;
    c.frame = frame;
    Record(c);
    // The helper refuses a null image; a missing icon sheet draws nothing.
    if (image) DrawSprite(image, x, y, frame, category);
}

void LoggedText(int x, int y, const std::string& text, int hAlign, int vAlign) {
    DrawCall c;
    c.kind = 'T';
    c.x = (float)x, c.y = (float)y;
    c.hAlign = hAlign, c.vAlign = vAlign;
    c.text = text;
    Record(c);
    DrawTextAligned(x, y, text, hAlign, vAlign);
}

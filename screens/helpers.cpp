#include "screens/helpers.h"

#include <cmath>

#include "media/graphics.h"
#include "media/system.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/setup.h"

int SpriteBudget[20] = {0, 50000, 50000};
int SpriteCount[20];

void DrawTextAligned(int x, int y, const std::string& text, int hAlign, int vAlign) {
    int w = TextWidth(text);
    int h = TextHeight();
    int px = x, py = y;
    // Integer halving before the conversion to float, so an odd width
    // starts half a pixel to the left the same way every time.
    if (hAlign == 1) px = x - w / 2;
    else if (hAlign == 2) px = x - w;
    if (vAlign == 1) py = y - h / 2;
    else if (vAlign == 2) py = y - h;
    DrawText(text, (float)px, (float)py);
}

void SetDrawScale(float sx) { SetScale(sx, sx); }
void SetDrawScale(float sx, float sy) { SetScale(sx, sy); }
void SetDrawAngle(float degrees) { SetRotation(degrees); }

void ResetDrawState() {
    SetRotation(0);
    SetScale(1, 1);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlendKind(1);
}

void SetBlendKind(int kind) {
    switch (kind) {
    case 0: SetBlend(BLEND_SOLID); break;
    case 1: SetBlend(BLEND_ALPHA); break;
    case 2: SetBlend(BLEND_SHADE); break;
    case 3: SetBlend(BLEND_LIGHT); break;
    default: break;
    }
}

float ClampFloat(float v, float lo, float hi) {
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    if (std::isnan(v)) v = lo;
    return v;
}

void SetTint(float r, float g, float b) {
    SetColor((int)ClampFloat(r, 0, 255), (int)ClampFloat(g, 0, 255), (int)ClampFloat(b, 0, 255));
}

void SetTint(float r, float g, float b, float alpha) {
    SetTint(r, g, b);
    SetAlpha(ClampFloat(alpha, 0, 1));
}

namespace {
// Sprites are skipped on frames that frame skipping will not present.
bool FrameGateOpen() { return Settings[7] != 1 || FrameSkipPhase == 0; }
}  // namespace

void DrawSprite(const ImageRef& image, int x, int y, int frame, int category) {
    if (!FrameGateOpen()) return;
    if (category < 0 || category >= 20) return;
    float sx, sy;
    GetScale(sx, sy);
    if (SpriteCount[category] >= SpriteBudget[category]) return;
    SpriteCount[category]++;
    if (!image) return;
    DrawImage(image, (float)x + (float)ImageWidth(image) * sx / 2.0f,
              (float)y + (float)ImageHeight(image) * sy / 2.0f, frame);
}

void DrawGlowSprite(const ImageRef& image, int x, int y, int frame, const ImageRef& glowImage,
                    float glowScale, float glowAlpha) {
    if (!FrameGateOpen()) return;
    float sx, sy;
    GetScale(sx, sy);
    float a0 = GetAlpha();
    int b0 = GetBlend();
    float cx = (float)x + (float)ImageWidth(image) * sx / 2.0f;
    float cy = (float)y + (float)ImageHeight(image) * sy / 2.0f;
    if (SpriteCount[1] < SpriteBudget[1]) {
        SpriteCount[1]++;
        if (image) DrawImage(image, cx, cy, frame);
    }
    SetScale(sx * glowScale, sy * glowScale);
    SetAlpha(a0 * glowAlpha);
    SetBlendKind(3);
    if (SpriteCount[2] < SpriteBudget[2]) {
        SpriteCount[2]++;
        const ImageRef& g = glowImage ? glowImage : image;
        if (g) DrawImage(g, cx, cy, frame);
    }
    SetScale(sx, sy);
    SetAlpha(a0);
    SetBlend(b0);
}

void BeginFrame(int clear) {
    if (clear == 1) ClearScreen();
    for (int c = 1; c <= 10; c++) SpriteCount[c] = 0;
}

int MouseInRect(int x, int y, int w, int h) {
    return (FrameMouseX > x && FrameMouseY > y && FrameMouseX < x + w && FrameMouseY < y + h) ? 1 : 0;
}

void DrawStripes(bool redFade, void (*rect)(float x, float y, float w, float h)) {
    // Bars 30 units apart down the view, turned by -45 degrees, so each bar
    // lies 30 x cos 45 (21.2) units across from the next one, which covers
    // the rest of it. Only the last bar shows whole; the others are drawn
    // just past where the next begins (a two-unit overlap, so no seam can
    // open between them). The picture is the same, but a third fewer pixels
    // are filled, which a software rasteriser feels on every title frame
    // and in the start-up performance test.
    const float shown = 30.0f * 0.70710678f + 2.0f;
    float c = 50;
    SetDrawAngle(-45);
    for (int i = 0; i <= ViewHeight; i += 10) {
        c += 0.5f;
        SetTint(redFade ? 100 - c : 0, 0, c);
        rect(-100, (float)(3 * i), (float)(ViewWidth + 1800), i + 10 <= ViewHeight ? shown : 30);
    }
}

// Drawing helpers every screen uses: state shorthands, aligned text, budgeted
// sprites with glow copies, the start of a frame and the pointer hit test.
#pragma once
#include <string>

#include "media/graphics.h"

extern int SpriteBudget[20];
extern int SpriteCount[20];

void DrawTextAligned(int x, int y, const std::string& text, int hAlign, int vAlign);
void SetDrawScale(float sx);
void SetDrawScale(float sx, float sy);
void SetDrawAngle(float degrees);
void ResetDrawState();
void SetBlendKind(int kind);
void SetTint(float r, float g, float b);
void SetTint(float r, float g, float b, float alpha);
void DrawSprite(const ImageRef& image, int x, int y, int frame, int category);
void DrawGlowSprite(const ImageRef& image, int x, int y, int frame, const ImageRef& glowImage,
                    float glowScale, float glowAlpha);
void BeginFrame(int clear);
float ClampFloat(float v, float lo, float hi);
int MouseInRect(int x, int y, int w, int h);
// The striped backdrop of the splash, the performance test, the title and
// name entry: wide bars turned by -45 degrees whose blue brightens from one
// corner to the other; with redFade the red falls as the blue rises. Leaves
// the rotation set (callers reset the state). rect draws each bar (name
// entry passes its recorded variant).
void DrawStripes(bool redFade, void (*rect)(float x, float y, float w, float h) = DrawRect);

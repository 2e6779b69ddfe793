// Display mode, logical drawing area and the common assets.
#pragma once
#include "media/audio.h"
#include "media/graphics.h"

extern int ModeCount;
extern int ModeWidth[1000];
extern int ModeHeight[1000];
extern int ScreenWidth, ScreenHeight;
extern int ViewWidth, ViewHeight;
extern int DisplayReady;
extern FontRef Fonts[20];
extern float FontScaleA, FontScaleB;
extern ImageRef IconSheet, IconSheetSmooth;
extern ImageRef LogoImage, SiteLogoImage;
extern SoundRef BadgeSound;
extern ImageRef BadgeImages;
extern SoundRef SoundEffects[201];

// Builds the mode list, opens the display (falling back to an 800 x 600
// OpenGL window), loads the common and game assets. Returns false only when
// no display at all could be opened (the reason is logged).
bool ApplyGraphicsSettings();
void LoadCommonAssets();
// Fills ModeCount/ModeWidth/ModeHeight from the full-screen modes; when the
// requested size (Settings 5 and 6) is listed, sets Settings 4 to its entry
// and ScreenWidth/ScreenHeight to it.
void BuildModeList();

// Where the full-screen modes come from: the media layer by default; tests
// supply their own lists. Null members keep the media layer's call.
struct DisplayModeSource {
    int (*count)() = nullptr;
    void (*get)(int index, int& width, int& height, int& depth, int& hertz) = nullptr;
    bool (*exists)(int width, int height, int depth, int hertz) = nullptr;
};
void SetDisplayModeSource(const DisplayModeSource& source);

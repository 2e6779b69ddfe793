// The game's images and music, loaded each time the display opens.
#pragma once
#include "media/audio.h"
#include "media/graphics.h"

extern ImageRef PodImage[12];
extern ImageRef MushroomImage[12];
extern ImageRef WhiteSquare, WhiteSquareGlow;
extern ImageRef NetImage, NetGlow;
extern ImageRef SpikeImage, SpikeGlow;
// The colour symbols, one 64 x 64 frame per colour class 1..7 (frame k - 1).
extern ImageRef SymbolImage;
extern int MarginX, RowStep;

void LoadGameAssets();
// The loading part of LoadGameAssets, without the performance test before it.
void LoadGameImagesAndMusic();
void LoadGameImages();
// Creates the game's tables and lists, once at start-up before the title.
void CreateGameTables();

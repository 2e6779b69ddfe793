#include "game/assets.h"

#include <string>

#include "screens/enginetest.h"
#include "shell/startup.h"

ImageRef PodImage[12];
ImageRef MushroomImage[12];
ImageRef WhiteSquare, WhiteSquareGlow;
ImageRef NetImage, NetGlow;
ImageRef SpikeImage, SpikeGlow;
ImageRef SymbolImage;
int MarginX, RowStep;

void LoadGameAssets() {
    EngineTest(60, 4);
    LoadGameImagesAndMusic();
}

void LoadGameImagesAndMusic() {
    LoadGameImages();
    TitleMusic = LoadSound("wormlob.ogg", 0);
}

void LoadGameImages() {
    for (int i = 1; i <= 5; i++) {
        PodImage[i] = LoadImage("pod" + std::to_string(i) + ".png");
        PodImage[i + 5] = LoadImage("pod" + std::to_string(i) + "g.png");
    }
    for (int i = 1; i <= 4; i++) {
        MushroomImage[i] = LoadImage("mushroom" + std::to_string(i) + ".png");
        MushroomImage[i + 5] = LoadImage("mushroom" + std::to_string(i) + "g.png");
    }
    WhiteSquare = LoadImage("whitesquare.png");
    WhiteSquareGlow = LoadImage("whitesquareg.png");
    NetImage = LoadImage("net.png");
    NetGlow = LoadImage("netg.png");
    SpikeImage = LoadImage("spike.png");
    SpikeGlow = LoadImage("spikeg.png");
    SymbolImage = LoadImageStrip("symbols.png", 64, 64, 0, 7, IMAGE_FILTERED | IMAGE_MIPMAPPED);
}


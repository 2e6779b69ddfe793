// Pictures of the game drawn by the real game code on OpenGL, from built
// states: the WAVE banner, a wave in play, the open net, a power-up message,
// the tally and "Game Over". For looking at the game without playing it.
//   gameshots [output folder]
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "game/assets.h"
#include "game/game.h"
#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/popups.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/setup.h"
#include "shell/startup.h"
#include "tests/support/game_world.h"

namespace {
std::string out = ".";

void Frame(const Driver& d, const char* shot = nullptr) {
    StepGame(d);
    if (shot) SavePixmapAsPng(GrabPixmap(0, 0, WindowWidth(), WindowHeight()), out + "/" + shot, 6);
    Flip(0);
}

// Steers under the lowest falling body and keeps launching.
Driver Follow(int f) {
    Driver d;
    d.y = 600;
    float best = -1;
    for (const Pod& p : Game.PodList)
        if ((p.ball || p.free) && p.gy > 0 && p.y > best && p.y < 960) {
            best = p.y;
            d.x = (int)std::lround((p.x - 640) / 1.2 + 640);
        }
    d.left = f % 20 < 10;
    return d;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) out = argv[1];
    SelectGraphicsBackend(OpenGLBackend(), 2);
    if (!OpenDisplay(800, 600, 0, 60, 0)) {
        std::fprintf(stderr, "gameshots: %s\n", DisplayError().c_str());
        return 1;
    }
    SetResolution(1280, 960);
    ViewWidth = 1280, ViewHeight = 960, ScreenWidth = 800, ScreenHeight = 600;
    SetAutoCentreHandle(true);
    std::filesystem::current_path(std::string(WORMLOB_SOURCE_DIR) + "/Files/Common");
    Fonts[5] = LoadImageFont("Roadsign.ttf", 96, FONT_SMOOTH);
    Fonts[3] = LoadImageFont("Plainhand.ttf", 16, FONT_SMOOTH);
    Fonts[8] = LoadImageFont("Plainhand.ttf", 32, FONT_SMOOTH);
    Fonts[10] = LoadImageFont("Marquee.ttf", 128, FONT_SMOOTH);
    Fonts[11] = LoadImageFont("Marquee.ttf", 96, FONT_SMOOTH);
    Fonts[12] = LoadImageFont("Marquee.ttf", 32, FONT_SMOOTH);
    std::filesystem::current_path("../418");
    LoadGameImages();
    MarginX = 24, RowStep = 32;
    SpriteBudget[1] = SpriteBudget[2] = 8000;
    SpriteBudget[3] = 4000;
    Settings[7] = 0;
    SeedRandom(31337);

    CurrentMode = 0;
    ResetGame();
    Driver d;
    d.y = 600;
    for (int f = 1; f <= 40; f++) Frame(d, f == 40 ? "game_banner.png" : nullptr);
    for (int f = 0; f < 1500; f++) {
        if (f % 300 == 0) TapKey(114);
        Frame(Follow(f), f == 1499 ? "game_play.png" : nullptr);
    }
    for (int f = 0; f < 12; f++) {
        Driver n = Follow(f);
        n.right = true;
        Frame(n, f == 11 ? "game_net.png" : nullptr);
    }
    Game.CaughtCount = 3;
    Game.CaughtColour[1] = 1, Game.CaughtColour[2] = 2, Game.CaughtColour[3] = 3;
    for (int i = 1; i <= 3; i++) Game.CaughtAge[i] = 0, Game.CaughtGrow[i] = 40;
    for (int f = 0; f < 20; f++) Frame(Follow(f), f == 19 ? "game_powerup.png" : nullptr);

    // A cleared wave with mushrooms left and two balls kept.
    for (Pod& p : Game.PodList) p.y = 5000;
    Frame(d);
    Game.PodList.clear();
    Game.CentipedesToSpawn = 0;
    Game.WaveIntroTimer = 0;
    Game.GameOverFlag = 0, Game.BatLostClock = 0;
    AddRestingBall(255, 255, 255);
    AddRestingBall(255, 255, 80);
    for (int f = 0; f < 400 && Game.WaveEndClock < 100; f++)
        Frame(d, Game.WaveEndClock == 99 ? "game_tally.png" : nullptr);

    Game.ExitCode = 1;
    StepGame(d);
    Flip(0);
    Options.grabs.push_back({FrameCounter + 1 + ExtraPresents + 1, out + "/game_over.png"});
    DrawGameOver();
    std::printf("gameshots: pictures in %s\n", out.c_str());
    return 0;
}

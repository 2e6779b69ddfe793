#include "shell/display.h"

#include <iostream>
#include <string>

#include "game/assets.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "services/scores.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

int ModeCount;
int ModeWidth[1000];
int ModeHeight[1000];
int ScreenWidth = 800, ScreenHeight = 600;
int ViewWidth = 1280, ViewHeight = 960;
int DisplayReady;
FontRef Fonts[20];
float FontScaleA = 1, FontScaleB = 1;
ImageRef IconSheet, IconSheetSmooth;
ImageRef LogoImage, SiteLogoImage;
SoundRef BadgeSound;
ImageRef BadgeImages;
SoundRef SoundEffects[201];

namespace {
DisplayModeSource g_modes;
int ModesCount() { return g_modes.count ? g_modes.count() : CountDisplayModes(); }
void ModeAt(int i, int& w, int& h, int& d, int& hz) {
    if (g_modes.get) g_modes.get(i, w, h, d, hz);
    else GetDisplayMode(i, w, h, d, hz);
}
bool ModeExists(int w, int h, int d, int hz) {
    return g_modes.exists ? g_modes.exists(w, h, d, hz) : DisplayModeExists(w, h, d, hz);
}
}  // namespace

void SetDisplayModeSource(const DisplayModeSource& source) { g_modes = source; }

void BuildModeList() {
    ModeCount = 0;
    int count = ModesCount();
    for (int i = 0; i < count; i++) {
        int w = 0, h = 0, d = 0, hz = 0;
        ModeAt(i, w, h, d, hz);
        // A mode that could not be read answers 0 x 0, which would pass
        // the ratio test below.
        if (w <= 0 || h <= 0) continue;
        if (!(h == w * 9 / 16 || h == w * 3 / 4)) continue;
        bool seen = false;
        for (int k = 1; k <= ModeCount; k++)
            if (ModeWidth[k] == w && ModeHeight[k] == h) seen = true;
        if (seen) continue;
        // The table holds 999 entries; further modes are not offered.
        if (ModeCount >= 999) break;
        ModeCount++;
        ModeWidth[ModeCount] = w;
        ModeHeight[ModeCount] = h;
        if (w == Settings[5] && h == Settings[6]) {
            Settings[4] = ModeCount;
            ScreenWidth = w;
            ScreenHeight = h;
        }
    }
}

namespace {
TGraphicsBackend* BackendFor(int engine) {
    TGraphicsBackend* b = nullptr;
    if (engine == 1) b = Direct3D9Backend();
    else if (engine == 2) b = Direct3D7Backend();
    // The Direct3D engines do not exist here; OpenGL serves their requests.
    if (!b) b = OpenGLBackend();
    return b;
}
}  // namespace

bool ApplyGraphicsSettings() {
    BuildModeList();
    Settings[5] = ScreenWidth;
    Settings[6] = ScreenHeight;
    LogLine("");
    LogLine("-=-=-=-=-=-=-=-=-=-=-=-=-=-");
    LogLine("Applying Graphical Settings");
    if (DisplayReady == 1) {
        CloseDisplay();
        LogLine("\tChanged Graphics Mode ingame.");
    }
    switch (Settings[3]) {
    case 0: LogLine("\tUsing OpenGL Driver"); break;
    case 1: LogLine("\tUsing DirectX 9 Driver"); break;
    case 2: LogLine("\tUsing DirectX 7 Driver"); break;
    }
    if (Settings[3] >= 0 && Settings[3] <= 2) SelectGraphicsBackend(BackendFor(Settings[3]), 2);

    int d = Settings[1] == 1 ? 32 : 0;
    if (!ModeExists(ScreenWidth, ScreenHeight, 32, 0)) {
        d = 16;
        if (!ModeExists(ScreenWidth, ScreenHeight, 16, 0)) d = 0;
    }
    LogLine("\tResolution : " + std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "," +
            std::to_string(d));
    if (!OpenDisplay(ScreenWidth, ScreenHeight, d, 60, 0)) {
        // A mode chosen in the settings must not make every later start
        // fail: fall back to an 800 x 600 OpenGL window and store that.
        LogLine("\tCould not open the display: " + DisplayError());
        LogLine("\tFalling back to an 800x600 OpenGL window");
        SelectGraphicsBackend(OpenGLBackend(), 2);
        if (!OpenDisplay(800, 600, 0, 60, 0)) {
            std::string why = DisplayError();
            LogLine("\tCould not open the display: " + why);
            std::cerr << "Wormlob 2: could not open the display: " << why << "\n";
            return false;
        }
        ScreenWidth = Settings[5] = 800;
        ScreenHeight = Settings[6] = 600;
        Settings[1] = 0;
        Settings[3] = 0;
        // Point the mode index at the size actually opened (0 when the list
        // does not hold it), so the settings screen starts from it.
        Settings[4] = 0;
        for (int k = 1; k <= ModeCount; k++)
            if (ModeWidth[k] == 800 && ModeHeight[k] == 600) Settings[4] = k;
    }
    Settings[2] = 0;
    ViewWidth = 1280;
    ViewHeight = 960;
    if (ScreenWidth * 9 / 16 == ScreenHeight) {
        Settings[2] = 1;
        ViewWidth = 1600;
        ViewHeight = 900;
        LogLine("\tWidescreen mode!");
    }
    SetResolution((float)ViewWidth, (float)ViewHeight);
    LoadCommonAssets();
    LoadGameAssets();
    LogLine("-=-=-=-=-=-=-=-=-=-=-=-=-=-");
    return true;
}

namespace {
void ShowSplash() {
    BeginFrame(1);
    ResetDrawState();
    DrawStripes(false);
    ResetDrawState();
    SetDrawScale(1.5f);
    DrawImage(LogoImage, 0.4f * ViewHeight, 0.3f * ViewHeight, 0);
    DrawImage(SiteLogoImage, ViewWidth - 0.4f * ViewHeight, 0.7f * ViewHeight, 0);
    SetDrawScale(1);
    PlayOnSlot(256, BadgeSound);
    for (auto& g : Options.grabs)
        if (g.first == 0) SavePixmapAsPng(GrabPixmap(0, 0, WindowWidth(), WindowHeight()), g.second, 6);
    Flip(-1);
    DisplayReady = 1;
}
}  // namespace

void LoadCommonAssets() {
    SetAutoCentreHandle(true);
    LogLine("");
    LogLine("Loading : Common Objects");
    LogLine("");
    LogLine("Switching to Default Folder");
    LogLine("");
    ChangeDir("../");
    // Only step back out of "Common/" if we actually got into it.
    bool inCommon = ChangeDir("Common/");

    LogLine("\tDefault Fonts");
    FontScaleA = 1;
    FontScaleB = 1;
    if (ScreenWidth < 900) {
        FontScaleA = 1.2f;
        FontScaleB = 1.4f;
    }
    if (ScreenWidth < 600) {
        FontScaleA = 1.5f;
        FontScaleB = 2.0f;
    }
    auto size = [](int base, float scale) { return (int)((double)base * (double)scale); };
    Fonts[1] = LoadImageFont("Plainhand.ttf", size(24, FontScaleA), FONT_SMOOTH);
    Fonts[2] = LoadImageFont("Plainhand.ttf", size(16, FontScaleB), FONT_SMOOTH);
    Fonts[3] = LoadImageFont("Plainhand.ttf", size(16, FontScaleB), FONT_SMOOTH);
    Fonts[4] = LoadImageFont("Plainhand.ttf", size(20, FontScaleA), FONT_SMOOTH);
    Fonts[5] = LoadImageFont("Roadsign.ttf", size(96, FontScaleA), FONT_SMOOTH);
    Fonts[6] = LoadImageFont("Roadsign.ttf", size(72, FontScaleA), FONT_SMOOTH);
    Fonts[7] = LoadImageFont("Roadsign.ttf", size(32, FontScaleA), FONT_SMOOTH);
    Fonts[8] = LoadImageFont("Plainhand.ttf", size(32, FontScaleA), FONT_SMOOTH);
    Fonts[10] = LoadImageFont("Marquee.ttf", 128, FONT_SMOOTH);
    Fonts[11] = LoadImageFont("Marquee.ttf", 96, FONT_SMOOTH);
    Fonts[12] = LoadImageFont("Marquee.ttf", 32, FONT_SMOOTH);
    SetImageFont(Fonts[1]);

    LogLine("\tDefault Icons");
    IconSheetSmooth = LoadImageStrip("icons.png", 16, 16, 0, 64, 3);
    IconSheet = LoadImageStrip("icons.png", 16, 16, 0, 64, 1);
    LogLine("\tLogos");
    LogoImage = LoadImage("logo.png", 3);
    SiteLogoImage = LoadImage("Vantor.png", 3);
    LogLine("\tBadgeGet");
    BadgeSound = LoadSound("badgeget.wav", 0);

    if (DisplayReady == 0) ShowSplash();

    LogLine("");
    LogLine("Switching to Game Folder");
    if (inCommon) ChangeDir("../");
    ChangeDir(std::to_string(WeekNumber) + "/");

    BadgeImages = LoadImageStrip("badges.png", 64, 64, 0, 16, 3);
    LogLine("");
    LogLine("Loading Sound effects");
    for (int n = 1; n <= 200; n++) {
        std::string digits = "000" + std::to_string(n);
        std::string name = digits.substr(digits.size() - 3) + ".wav";
        if (FileType(name) != 0) {
            LogLine("\tSFX(" + std::to_string(n) + ")");
            SoundEffects[n] = LoadSound(name, 0);
        }
    }
    LogLine("Sounds loaded");
    LogLine("");
    ReadScoreFile();
}

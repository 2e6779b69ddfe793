#include "screens/screenshot.h"

#include "media/graphics.h"
#include "media/system.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/startup.h"

std::string FileSafeName(const std::string& text) {
    std::string out = text;
    for (char bad : std::string("#',`.\\/:|*?\"")) std::erase(out, bad);
    return out;
}

void TakeScreenshot() {
    LogLine("");
    LogLine("\tScreenshot");
    // The data folder, next to "Setup.ini", is one level above the game's.
    ChangeDir("..");
    LogLine("\tGrabbing Screenshot");
    // Taken before the notice is drawn over the frame.
    TPixmap pixels = GrabPixmap(0, 0, ScreenWidth, ScreenHeight);

    ResetDrawState();
    SetImageFont(Fonts[5]);
    DrawTextAligned(ViewWidth / 2, ViewHeight / 2 - 30, "Saving Screenshot", 1, 1);
    SetImageFont(Fonts[6]);
    DrawTextAligned(ViewWidth / 2, ViewHeight / 2 + 30, "Sometimes, this takes a while!", 1, 1);
    // Shown over the frozen frame while the file is written.
    PresentFrame(-1, true);

    std::string name =
        FileSafeName(GameTitle + " " + GameTagline + " (Screenshot_" + DateText() + "_" + TimeText() + ")") + ".png";
    LogLine("\tSaving Screenshot : " + name);
    bool ok = SavePixmapAsPng(pixels, name, 9);
    // A page has no folder the player can open: it offers the file instead.
    if (ok) PlatformFileSaved(name);
    LogLine("\tSaved Screenshot " + std::to_string(ok ? 1 : 0));
    LogLine("");
    ChangeDir(std::to_string(WeekNumber) + "/");
    AddMessage("Saved Screenshot", 1);
}

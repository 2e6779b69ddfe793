// Shared set-up for in-process tests: a throw-away folder tree shaped like
// Files/ (with the game folder 418/ inside) and a headless display.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "media/graphics.h"
#include "shell/display.h"

// Opens the null drawing back end at w x h with the drawing area set to the
// same size. Returns false when the display did not open.
inline bool OpenHeadlessDisplay(int w = 1280, int h = 960) {
    ForceNullGraphics(true);
    SetNullDisplayMode(w, h);
    SelectGraphicsBackend(NullGraphicsBackend(), 2);
    if (!OpenDisplay(w, h, 0, 60, 0)) return false;
    SetResolution((float)w, (float)h);
    ViewWidth = w;
    ViewHeight = h;
    return true;
}

// A fresh folder "<tmp>/wl2_<tag>_<pid>" holding "418/", entered on
// construction; the previous working folder is restored and the tree removed
// on destruction.
struct TempFilesFolder {
    std::filesystem::path dir, old;
    explicit TempFilesFolder(const std::string& tag) {
        old = std::filesystem::current_path();
        dir = std::filesystem::temp_directory_path() / ("wl2_" + tag + "_" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "418");
        std::filesystem::current_path(dir);
    }
    ~TempFilesFolder() {
        std::error_code ec;
        std::filesystem::current_path(old, ec);
        std::filesystem::remove_all(dir, ec);
    }
};

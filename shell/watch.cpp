#include "shell/watch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <string>

#include "media/audio.h"
#include "media/gamejournal.h"
#include "media/graphics.h"
#include "media/journal.h"
#include "media/system.h"
#include "shell/display.h"
#include "shell/log.h"
#include "shell/startup.h"

void AdvanceWatch(WatchClock& w, double realMs) {
    if (w.paused || realMs <= 0) return;
    w.at += realMs * (w.fast ? 4.0 : 1.0);
}

double WatchWait(const WatchClock& w, double dueMs) {
    if (w.paused) return -1;
    if (w.at >= dueMs) return 0;
    return (dueMs - w.at) / (w.fast ? 4.0 : 1.0);
}

bool WatchingReplay() { return ReplayPaced(); }

std::string GameJournalName(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::string line;
    if (!std::getline(f, line) || line.rfind("wormlob2 game ", 0) != 0) return "";
    // The header is a few short lines; the name is among them.
    for (int i = 0; i < 16 && std::getline(f, line) && !line.empty(); i++) {
        if (line.rfind("name ", 0) != 0) continue;
        std::string name;
        if (!NameFromHex(line.substr(5), name)) return "";
        // The message font draws plain text; anything else shows as '?'.
        for (char& c : name)
            if ((unsigned char)c < 32 || (unsigned char)c >= 127) c = '?';
        return name;
    }
    return "";
}

namespace {
using Clock = std::chrono::steady_clock;

[[noreturn]] void EndWatching() {
    // The viewer is done: nothing of the replayed game is filed or saved.
    LogLine("");
    LogLine("Watching ended by the viewer");
    CloseDisplay();
    CloseLog();
    ShutdownAudio();
    EndProcess(0);
}

void DrawWatchLine(const std::string& name, bool paused) {
    // The frame's own drawing state is put back afterwards: the next frame
    // of the game must draw exactly as it would unwatched.
    int r, g, b;
    GetColor(r, g, b);
    float alpha = GetAlpha(), sx, sy, rot = GetRotation();
    GetScale(sx, sy);
    int blend = GetBlend();
    FontRef font = GetImageFont();

    SetRotation(0);
    SetScale(1, 1);
    SetBlend(BLEND_ALPHA);
    SetImageFont(Fonts[3]);
    std::string text = (name.empty() ? std::string("Watching a replay") : "Watching " + name) +
                       (paused ? "   PAUSED: Space goes on" : "   Space pause, Right fast, Esc end");
    float w = (float)TextWidth(text) + 16, h = (float)TextHeight() + 6;
    float x = ((float)ViewWidth - w) / 2;
    SetColor(0, 0, 0);
    SetAlpha(0.6f);
    DrawRect(x, 0, w, h);
    SetColor(255, 255, 255);
    SetAlpha(1);
    DrawText(text, x + 8, 3);

    SetColor(r, g, b);
    SetAlpha(alpha);
    SetScale(sx, sy);
    SetRotation(rot);
    SetBlend(blend);
    SetImageFont(font);
}
}  // namespace

void WatchReplayFrame() {
    static bool started = false, pauseShown = false;
    static WatchClock watch;
    static uint32_t firstMs = 0;
    static Clock::time_point last;
    static std::string name;
    uint32_t now = (uint32_t)PeekMillisecs();
    if (!started) {
        // The watch starts with the first picture.
        started = true;
        firstMs = now;
        last = Clock::now();
        name = GameJournalName(Options.replayFile);
    }
    double due = (double)(int32_t)(now - firstMs);
    bool slept = false;
    for (;;) {
        PumpPlatformInput();
        if (ViewerKeyHits(27)) EndWatching();
        if (ViewerKeyHits(32)) watch.paused = !watch.paused;
        watch.fast = ViewerKeyDown(39);
        Clock::time_point t = Clock::now();
        AdvanceWatch(watch, std::chrono::duration<double, std::milli>(t - last).count());
        last = t;
        // A pause shows itself on the picture in hand before it holds.
        if (watch.paused && !pauseShown) break;
        if (!watch.paused) pauseShown = false;
        double wait = WatchWait(watch, due);
        if (wait == 0) break;
        PlatformSleepMs(wait < 0 ? 10 : std::clamp((int)std::ceil(wait), 1, 10));
        slept = true;
    }
    // Behind after a stall (a slow machine): go on from here rather than
    // race through what was missed.
    watch.at = std::min(watch.at, due + 100);
    // A page shows a picture only once the program yields.
    if (!slept) PlatformSleepMs(0);
    pauseShown = watch.paused;
    DrawWatchLine(name, watch.paused);
}

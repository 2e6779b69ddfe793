// What the program does differently in a web page, in one place. The page
// runs the program on the browser's one thread: sleeping yields to the
// browser (the build instruments only the calls that lead here), files the
// program writes are copied into the browser's IndexedDB, a screenshot is
// offered as a download, and the end of the program is shown on the page
// instead of ending a process. On the desktop each of these is the plain
// system call.
#include "media/system.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// web/library.js
extern "C" {
void wormlob_store_file(const char* path);
void wormlob_offer_download(const char* path, const char* name);
void wormlob_program_ended(int status);
void wormlob_presented();
void wormlob_drawn();
void wormlob_sleep(int ms);
}

namespace {
std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}
}  // namespace

// web/library.js: sleeps yielding to the browser, and wakes on time.
void PlatformSleepMs(int ms) { wormlob_sleep(ms); }

int PacingStepMs(double remainingMs) {
    // The page waits out the rest of the frame in one sleep rather than in
    // 1 ms steps (each wake-up is a turn of the browser's event loop); the
    // bound the frame hub tests stays the same. A frame already over its
    // time only yields once, so that the browser can show it and deliver
    // input, and loses no time to a sleep.
    if (VirtualClockActive()) return 1;
    if (remainingMs <= 0) return 0;
    return (int)std::ceil(remainingMs);
}

std::string PlatformFilePath(const std::string& path) { return Absolute(path); }

void PlatformFileWritten(const std::string& absolutePath) { wormlob_store_file(absolutePath.c_str()); }

void PlatformFileSaved(const std::string& path) {
    std::string abs = Absolute(path);
    std::string name = std::filesystem::path(abs).filename().string();
    wormlob_offer_download(abs.c_str(), name.c_str());
}

void PlatformFramePresented() { wormlob_presented(); }

void PlatformFrameDrawn() { wormlob_drawn(); }

void EndProcess(int status) {
    std::fflush(nullptr);
    wormlob_program_ended(status);
    // Leaves the program's code for good; the page keeps running and
    // offers a fresh start.
    emscripten_force_exit(status);
    std::_Exit(status);
}

#else

void PlatformSleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int PacingStepMs(double) { return 1; }

std::string PlatformFilePath(const std::string&) { return std::string(); }

void PlatformFileWritten(const std::string&) {}

void PlatformFileSaved(const std::string&) {}

void PlatformFramePresented() {}

void PlatformFrameDrawn() {}

void EndProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

#endif

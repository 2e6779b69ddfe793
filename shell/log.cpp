#include "shell/log.h"

#include <cstdio>

#include "media/system.h"
#include "shell/startup.h"

namespace {
TStream* g_log = nullptr;
bool g_echo = false;
}

bool OpenLog(const std::string& path) {
    CloseLog();
    g_log = WriteFile(path);
    std::string rule(28, '-');
    LogLine("Brannoc's Tarnwick Engine");
    LogLine(rule);
    LogLine("Week #" + std::to_string(WeekNumber));
    LogLine(rule);
    LogLine(AppTitle());
    LogLine(rule);
    LogLine("");
    return g_log != nullptr;
}

void LogLine(const std::string& text) {
    if (g_echo) std::fprintf(stderr, "%s\n", text.c_str());
    if (!g_log) return;
    WriteLine(g_log, text);
    // Flushed line by line on purpose: after a crash the log shows exactly
    // how far the program got.
    FlushStream(g_log);
}

void CloseLog() {
    if (g_log) CloseStream(g_log);
    g_log = nullptr;
}

void SetLogEcho(bool on) { g_echo = on; }

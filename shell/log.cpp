#include "shell/log.h"

#include <cstdio>
#include <set>

#include "media/system.h"
#include "shell/startup.h"

namespace {
TStream* g_log = nullptr;
bool g_echo = false;
std::set<std::string> g_failedLoads;

// A font, image or sound the program could not load leaves its slot empty
// and the program goes on without it; the log names the file (once, though
// a font is loaded at several sizes), under the step that wanted it.
void LogLoadFailure(const std::string& path) {
    if (!g_failedLoads.insert(path).second) return;
    LogLine((FileType(path) == 0 ? "\tMissing: " : "\tCould not load: ") + path);
}
}  // namespace

bool OpenLog(const std::string& path) {
    CloseLog();
    g_log = WriteFile(path);
    g_failedLoads.clear();
    SetLoadFailureHook(LogLoadFailure);
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
    SetLoadFailureHook(nullptr);
    if (g_log) CloseStream(g_log);
    g_log = nullptr;
}

void SetLogEcho(bool on) { g_echo = on; }

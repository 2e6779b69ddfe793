// Feeds arbitrary bytes to the setup-file reader as "Setup.ini".
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <string>

#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"

namespace {
std::string g_workDir;
// The working folder goes when the fuzzer exits normally.
void RemoveWorkDir() {
    std::error_code ec;
    std::filesystem::remove_all(g_workDir, ec);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool init = false;
    // The file is rewritten on every run: in memory (tmpfs) when there is
    // one, since on a disk file system truncating and rewriting it costs a
    // flush each time.
    static char shm[] = "/dev/shm/wl2_setup_fuzz_XXXXXX";
    static char tmp[] = "/tmp/wl2_setup_fuzz_XXXXXX";
    if (!init) {
        const char* dir = mkdtemp(shm);
        if (!dir) dir = mkdtemp(tmp);
        if (!dir || chdir(dir) != 0) return 0;
        g_workDir = dir;
        std::atexit(RemoveWorkDir);
        AudioInstaller a;
        a.exists = [](const std::string&) { return true; };
        a.set = [](const std::string&) { return true; };
        a.enableOpenAL = [] { return true; };
        SetAudioInstaller(a);
        AudioDriverNames = {"OpenAL", "FreeAudio", "FreeAudio Multimedia", "Null"};
        init = true;
    }
    FILE* f = std::fopen("Setup.ini", "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::memset(Settings, 0, sizeof Settings);
    std::memset(Keys, 0, sizeof Keys);
    SetDefaultSettings();
    LoadSetup();
    // What was read must write back without trouble.
    std::vector<std::string> lines = SetupFileLines();
    if (lines.empty() || lines[0] != "[Graphics]") __builtin_trap();
    // The channel upkeep multiplies the volumes read: never a wrapped
    // (negative) result from two non-negative ones.
    if (Settings[11] >= 0 && Settings[13] >= 0 && SlotVolume(1) < 0) __builtin_trap();
    if (Settings[11] >= 0 && Settings[12] >= 0 && SlotVolume(20) < 0) __builtin_trap();
    for (int k = 0; k < 101; k++)
        if (k == 100 && Keys[k] != 0) __builtin_trap();  // slot 100 is never bound
    return 0;
}

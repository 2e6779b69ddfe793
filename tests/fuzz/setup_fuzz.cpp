// Feeds arbitrary bytes to the setup-file reader as "Setup.ini", then
// writes what was read and reads that back.
#include <unistd.h>

#include <cerrno>
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

// Without its folder or its file the target would pass every input
// untested: stop with the reason instead.
[[noreturn]] void SetUpFailed(const char* what) {
    std::fprintf(stderr, "setup_fuzz: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

// The tables as start-up has them before the file is read.
void Defaults() {
    std::memset(Settings, 0, sizeof Settings);
    std::memset(Keys, 0, sizeof Keys);
    SetDefaultSettings();
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
        if (!dir) SetUpFailed("no working folder");
        if (chdir(dir) != 0) SetUpFailed("cannot enter the working folder");
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
    if (!f) SetUpFailed("cannot create Setup.ini");
    if (std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) SetUpFailed("cannot write Setup.ini");
    Defaults();
    int defaultKeys[101];
    std::memcpy(defaultKeys, Keys, sizeof Keys);
    LoadSetup();
    int settings[100], keys[101];
    std::memcpy(settings, Settings, sizeof Settings);
    std::memcpy(keys, Keys, sizeof Keys);
    // The channel upkeep multiplies the volumes read: never a wrapped
    // (negative) result from two non-negative ones.
    if (Settings[11] >= 0 && Settings[13] >= 0 && SlotVolume(1) < 0) __builtin_trap();
    if (Settings[11] >= 0 && Settings[12] >= 0 && SlotVolume(20) < 0) __builtin_trap();
    if (Keys[100] != 0) __builtin_trap();  // slot 100 is never bound

    // What was read writes back: the file written from the tables, read
    // over the defaults as at start-up, gives the same tables. Only bound
    // slots (codes above 0) are written, so a slot read as unbound comes
    // back as its default.
    if (!WriteSetupHere()) SetUpFailed("cannot write Setup.ini back");
    Defaults();
    LoadSetup();
    for (int k = 0; k < 100; k++)
        if (Settings[k] != settings[k]) __builtin_trap();
    for (int k = 0; k < 101; k++)
        if (Keys[k] != (keys[k] > 0 ? keys[k] : defaultKeys[k])) __builtin_trap();
    return 0;
}

// Feeds arbitrary bytes to the score-file reader as "scores.dat", then draws
// one frame of the score table from what was read (headless). The first four
// bytes pick the table's mode, the pointer position and the pinned pick, so
// the pick and scroll paths are reached too.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <string>

#include "media/graphics.h"
#include "services/scores.h"
#include "services/scoretable.h"
#include "shell/display.h"
#include "shell/framehub.h"

namespace {
bool Same(const Scores& a, const Scores& b) {
    if (a.Score != b.Score || a.Timestamp != b.Timestamp || a.Badges != b.Badges ||
        a.Name != b.Name || a.Level != b.Level || a.GameMode != b.GameMode ||
        a.GameFlags != b.GameFlags || a.Quit != b.Quit)
        return false;
    for (int i = 1; i <= 30; i++)
        if (a.Best[i] != b.Best[i]) return false;
    return true;
}

std::string g_workDir;
// The working folder goes when the fuzzer exits normally.
void RemoveWorkDir() {
    std::error_code ec;
    std::filesystem::remove_all(g_workDir, ec);
}

// Without its folder, its file or its display the target would pass every
// input untested: stop with the reason instead.
[[noreturn]] void SetUpFailed(const std::string& what) {
    std::fprintf(stderr, "scores_fuzz: %s (%s)\n", what.c_str(), std::strerror(errno));
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool init = false;
    // The file is rewritten on every run: in memory (tmpfs) when there is
    // one, since on a disk file system truncating and rewriting it costs a
    // flush each time.
    static char shm[] = "/dev/shm/wl2_scores_fuzz_XXXXXX";
    static char tmp[] = "/tmp/wl2_scores_fuzz_XXXXXX";
    if (!init) {
        const char* dir = mkdtemp(shm);
        if (!dir) dir = mkdtemp(tmp);
        if (!dir) SetUpFailed("no working folder");
        if (chdir(dir) != 0) SetUpFailed("cannot enter the working folder");
        g_workDir = dir;
        std::atexit(RemoveWorkDir);
        ForceNullGraphics(true);
        SetNullDisplayMode(1280, 960);
        SelectGraphicsBackend(NullGraphicsBackend(), 2);
        if (!OpenDisplay(1280, 960, 0, 60, 0)) SetUpFailed("no display: " + DisplayError());
        ViewWidth = 1280;
        ViewHeight = 960;
        IconSheetSmooth = CreateBlankImage(16, 16, 64, 0);
        init = true;
    }
    if (size < 4) return 0;
    int mode = data[0] % 3;
    FrameMouseX = data[1] * 6;
    FrameMouseY = data[2] * 4;
    ScorePick = data[3] < 128 ? data[3] : 1000 + (data[3] - 128) % 20;
    ScoreScroll = (data[0] >> 2) * 16 % 1008;

    FILE* f = std::fopen("scores.dat", "wb");
    if (!f) SetUpFailed("cannot create scores.dat");
    if (std::fwrite(data + 4, 1, size - 4, f) != size - 4 || std::fclose(f) != 0) SetUpFailed("cannot write scores.dat");
    ScoreList.clear();
    ReadScoreFile();

    // Newest first after reading.
    const Scores* prev = nullptr;
    for (auto& r : ScoreList) {
        if (prev && prev->Timestamp < r->Timestamp) __builtin_trap();
        prev = r.get();
    }

    DrawScoreTable(320, mode, 0, 0);
    size_t after = ScoreList.size();
    // Pruning leaves nothing for a second pass to prune.
    DrawScoreTable(320, mode, 0, 0);
    if (ScoreList.size() != after) __builtin_trap();
    if (BestScoreShown == 0) __builtin_trap();

    // What was read writes back to lines that read back the same.
    std::vector<std::string> lines = ScoreFileLines();
    if (lines.size() != ScoreList.size() * 2) __builtin_trap();
    size_t i = 0;
    for (auto& r : ScoreList) {
        ScoreRef back = ParseScoreRecord(lines[i], lines[i + 1]);
        if (!Same(*back, *r)) __builtin_trap();
        i += 2;
    }
    PickedRecord.reset();
    return 0;
}

#include "shell/replay.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "game/state.h"
#include "media/graphics.h"
#include "media/journal.h"
#include "screens/helpers.h"
#include "shell/display.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"
#include "shell/startup.h"

namespace {
JournalData g_replay;
std::FILE* g_checksums = nullptr;
bool g_framesGiven = false;  // --frames cuts a replay short on purpose

void CloseChecksums() {
    if (g_checksums) std::fclose(g_checksums);
    g_checksums = nullptr;
}

// A replay that cannot go on ends here: said in the log and on standard
// error, and no file of the game is written.
[[noreturn]] void StopReplay(const std::string& why) {
    LogLine("");
    LogLine("Replay stopped: " + why);
    std::cerr << "wormlob2: replay stopped: " << why << "\n";
    CloseChecksums();
    CloseDisplay();
    CloseLog();
    ShutdownAudio();
    std::fflush(nullptr);
    std::_Exit(3);
}
}  // namespace

bool CheckJournalOptions() {
    if (!Options.recordFile.empty() && !Options.replayFile.empty()) {
        std::cerr << "wormlob2: --record and --replay cannot be used together\n";
        return false;
    }
    if (Options.replayFile.empty()) return true;
    if (!Options.inputScript.empty() || Options.virtualClock) {
        std::cerr << "wormlob2: --replay takes its input and its clock from the journal; "
                     "--input and --virtual-clock cannot be used with it\n";
        return false;
    }
    std::string error;
    if (!ReadJournal(Options.replayFile, g_replay, error)) {
        std::cerr << "wormlob2: journal " << Options.replayFile << ": " << error << "\n";
        return false;
    }
    return true;
}

bool StartRunJournal() {
    std::string error;
    if (!Options.checksumFile.empty()) {
        g_checksums = std::fopen(Options.checksumFile.c_str(), "wb");
        if (!g_checksums) {
            std::cerr << "wormlob2: checksum file " << Options.checksumFile << ": cannot be created\n";
            return false;
        }
    }
    if (!Options.recordFile.empty() && !StartRecording(Options.recordFile, error)) {
        std::cerr << "wormlob2: journal " << Options.recordFile << ": " << error << "\n";
        CloseChecksums();
        return false;
    }
    if (!Options.replayFile.empty()) {
        g_framesGiven = Options.frames > 0;
        // The recording ended (by Escape or by --frames) after its last
        // frame; the replay ends there too.
        if (!g_framesGiven && g_replay.endFrames > 0) Options.frames = g_replay.endFrames;
        SetJournalStopHandler(StopReplay);
        // On a display the replay runs at the recorded speed, to be watched;
        // headless it runs as fast as it can.
        SetReplayPacing(!Options.headless);
        StartReplay(g_replay);
        g_replay = JournalData();
    }
    return true;
}

void JournalFrameEnd() {
    uint64_t game = GameChecksum();
    if (g_checksums) std::fprintf(g_checksums, "%lld %016" PRIx64 "\n", FrameCounter, game);
    if (!Recording() && !Replaying()) return;
    // The journal's check covers the shell's state that steers the run too:
    // the screen, the mode picked, the pointer, the measured frame rate and
    // what the performance test decided.
    uint64_t h = game;
    int shell[] = {PlayState, CurrentMode, FrameMouseX, FrameMouseY, FrameRate,
                   Settings[7], SpriteBudget[1], SpriteBudget[2], SpriteBudget[3]};
    for (int v : shell) h = (h ^ (uint32_t)v) * 1099511628211ull;
    JournalFrame(h);
}

int EndRunJournal() {
    bool replay = Replaying();
    bool record = Recording();
    std::string trouble = FinishJournal(FrameCounter);
    CloseChecksums();
    if (record && !trouble.empty()) std::cerr << "wormlob2: " << trouble << "\n";
    if (!replay) return 0;
    if (g_framesGiven) {
        LogLine("Replay stopped by --frames after " + std::to_string(FrameCounter) + " frames");
        return 0;
    }
    if (trouble.empty()) {
        LogLine("Replay finished as recorded after " + std::to_string(FrameCounter) + " frames");
        return 0;
    }
    LogLine("Replay stopped: " + trouble);
    std::cerr << "wormlob2: replay: " << trouble << "\n";
    return 3;
}

#include "services/sequencer.h"

#include <filesystem>
#include <system_error>

#include "media/system.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"

SoundRef DrumSounds[7];
std::string DrumPatterns[5];
int TrackOn[5];
int TrackStep[5];
int SequencerRunning = 0;
int StepFrames = 6;
int BarBeats = 8;
int SequencerClock = 0;
int NextStepFrame = 1;
std::function<void(int, int)> DrumHitHook;

void LoadDrumSounds() {
    LogLine("");
    LogLine("Loading Instruments");
    std::error_code ec;
    std::filesystem::path home = std::filesystem::current_path(ec);
    ChangeDir("..");
    bool inside = ChangeDir("Instruments");
    LogLine("\tDrums..");
    for (int i = 1; i <= 6 && inside; i++) {
        std::string name = "d" + std::to_string(i) + ".wav";
        if (FileType(name) == 1) DrumSounds[i] = LoadSound(name, 0);
    }
    // Back to where we came from, whichever of the two changes worked.
    if (!ec) ChangeDir(home.string());
    LogLine("");
    LogLine("");
}

void StartSequencer() {
    DrumPatterns[1] = "1   2   1   2   1   2   1   2   ";
    DrumPatterns[2] = "  4       4       4       4     ";
    DrumPatterns[3] = "      3       3       3       3 ";
    DrumPatterns[4] = "5               5               ";
    TrackOn[1] = 1;
    SequencerRunning = 1;
    for (int t = 1; t <= 4; t++) TrackStep[t] = -1;
}

void PlayDrumOnSlot(int slot, const SoundRef& sound) {
    if (sound) PlayOnSlot(slot, sound);
}

namespace {
void PlayStep() {
    int steps = BarBeats * 4;
    for (int t = 1; t <= 4; t++) {
        TrackStep[t]++;
        if (TrackStep[t] >= steps) {
            TrackStep[t] = 0;
            for (int k = 2; k <= 4; k++) TrackOn[k] = RandomInt(0, 1);
        }
        if (TrackOn[t] != 1) continue;
        const std::string& pattern = DrumPatterns[t];
        if (TrackStep[t] < 0 || (size_t)TrackStep[t] >= pattern.size()) continue;
        // A digit 1..6 names a drum; anything else is a rest.
        int n = TextToInt(pattern.substr((size_t)TrackStep[t], 1));
        if (n < 1 || n > 6 || !DrumSounds[n]) continue;
        if (DrumHitHook)
            DrumHitHook(2, n);
        else
            PlayDrumOnSlot(2, DrumSounds[n]);
    }
}
}  // namespace

void SequencerTick() {
    if (SequencerRunning == 1) {
        // Wrapping adds: a run of a year of frames must not overflow.
        SequencerClock = (int)((unsigned)SequencerClock + 1u);
        if (SequencerClock == NextStepFrame) {
            NextStepFrame = (int)((unsigned)NextStepFrame + (unsigned)StepFrames);
            PlayStep();
        }
    } else if (SequencerRunning == 0) {
        NextStepFrame = 1;
        SequencerClock = 0;
    }
}

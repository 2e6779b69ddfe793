// fuzzseed JOURNAL OUT: turns a recorded run (--record) into an input of the
// whole-game fuzz target (tests/fuzz/game_fuzz_input.h). The run is
// replayed headless in this process; once a frame, where the target posts
// its input, the journal's events of that frame's input polls are written as
// the frame's record, from the first title frame on (the target starts at
// the title). The mode and
// seed are the run's --mode and --seed. The file is written frame by frame,
// so it is whole however the replay ends.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "media/graphics.h"
#include "media/journal.h"
#include "shell/framehub.h"
#include "shell/startup.h"
#include "tests/fuzz/game_fuzz_input.h"

namespace {
JournalData g_journal;
size_t g_next = 0;  // the journal's next event
std::FILE* g_out = nullptr;
GameFuzzWriter g_writer;
bool g_started = false;

void Write() {
    if (g_writer.out.empty()) return;
    std::fwrite(g_writer.out.data(), 1, g_writer.out.size(), g_out);
    std::fflush(g_out);
    g_writer.out.clear();
}

void FrameInput() {
    // Start-up's frames (the performance test) come before the title.
    if (!g_started && ShowFrameRate == 0) return;
    // The frame's events: those of its polls so far, and those of the next
    // poll, where the frame samples the pointer (the demo player's events,
    // posted just before it, arrive there).
    uint64_t polls = JournalPollCount() + 1;
    std::vector<InputEvent> events;
    while (g_next < g_journal.events.size() && g_journal.events[g_next].poll <= polls)
        events.push_back(g_journal.events[g_next++].e);
    if (!g_started) {
        g_started = true;
        g_writer.Header(CurrentMode, (uint32_t)(Options.seed < 0 ? 0 : Options.seed));
        // Of start-up's events (the demo player acts during the performance
        // test too) only where the pointer was left matters to the title.
        std::vector<InputEvent> last;
        for (const InputEvent& e : events)
            if (e.type == INPUT_MOUSE_MOVE) last.assign(1, e);
        events = last;
    }
    g_writer.Frame(events);
    // Empty frames are written once the next events (or the end) come.
    Write();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: fuzzseed JOURNAL OUT\n";
        return 2;
    }
    std::string error;
    if (!ReadJournal(argv[1], g_journal, error)) {
        std::cerr << "fuzzseed: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    g_out = std::fopen(argv[2], "wb");
    if (!g_out) {
        std::cerr << "fuzzseed: cannot write " << argv[2] << "\n";
        return 1;
    }
    FrameInputHook = FrameInput;
    std::string journal = argv[1];
    char a0[] = "fuzzseed", a1[] = "--headless", a2[] = "--replay";
    char* args[] = {a0, a1, a2, journal.data(), nullptr};
    int status = RunProgram(4, args);
    return status;
}

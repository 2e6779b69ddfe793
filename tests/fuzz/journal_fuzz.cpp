// Feeds arbitrary bytes to the run-journal reader that --replay uses.
#include <cstdint>
#include <string>

#include "media/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JournalData d;
    std::string error;
    bool ok = ParseJournal(std::string((const char*)data, size), d, error);
    // Refused: a reason and nothing half-read. Accepted: what replay relies
    // on holds (runs of at least one reading, events in poll order, an end
    // line that counts the frames).
    if (!ok && (error.empty() || !d.clock.empty() || !d.events.empty() || !d.frames.empty()))
        __builtin_trap();
    if (ok) {
        for (const JournalClockRun& r : d.clock)
            if (r.count < 1) __builtin_trap();
        for (size_t i = 1; i < d.events.size(); i++)
            if (d.events[i].poll < d.events[i - 1].poll || d.events[0].poll < 1) __builtin_trap();
        if (d.endFrames >= 0 && (size_t)d.endFrames != d.frames.size()) __builtin_trap();
    }
    return 0;
}

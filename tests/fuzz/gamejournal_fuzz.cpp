// Feeds arbitrary bytes to the game-journal reader that --replay (and so a
// score server's verification) uses. The first byte chooses what the rest
// is: a whole file, or an inflated body (so the fuzzer works on the body's
// own fields rather than on zlib's).
#include <cstdint>
#include <string>

#include "media/gamejournal.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string rest((const char*)data + 1, size - 1);
    GameJournal j;
    std::string error;
    bool ok = data[0] & 1 ? DecodeGameJournal(rest, j, error) : DecodeGameJournalBody(rest, j, error);
    // Refused: a reason and nothing half-read.
    if (!ok && (error.empty() || !j.numbers.empty() || !j.streams.events.empty() || !j.streams.clock.empty()))
        __builtin_trap();
    if (!ok) return 0;
    // Accepted: what the replay relies on holds, and writing it again reads
    // back the same.
    const JournalData& s = j.streams;
    for (const JournalClockRun& r : s.clock)
        if (r.count < 1) __builtin_trap();
    for (size_t i = 0; i < s.events.size(); i++)
        if (s.events[i].poll < 1 || (i && s.events[i].poll < s.events[i - 1].poll)) __builtin_trap();
    for (size_t i = 0; i < s.checks.size(); i++)
        if (s.checks[i].first > (uint64_t)s.endFrames || (i && s.checks[i].first <= s.checks[i - 1].first))
            __builtin_trap();
    j.header.rules = j.header.assets = "0123456789abcdef";
    j.header.frames = s.endFrames;
    GameJournal again;
    if (!DecodeGameJournal(EncodeGameJournal(j), again, error)) __builtin_trap();
    if (again.numbers != j.numbers || again.texts != j.texts || again.streams.values != s.values ||
        again.streams.events.size() != s.events.size() || again.streams.checks != s.checks ||
        again.header.score != j.header.score || again.header.name != j.header.name)
        __builtin_trap();
    return 0;
}

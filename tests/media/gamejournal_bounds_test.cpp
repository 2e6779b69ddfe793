// A game journal's body claims its tables' sizes itself: the reader must
// refuse a size its bytes or its frames cannot hold before it allocates for
// it, and a replay must stop once it outruns the length its journal claims.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "media/gamejournal.h"
#include "media/journal.h"

namespace {
void PutVar(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back((char)(0x80 | (v & 0x7F)));
        v >>= 7;
    }
    out.push_back((char)v);
}

// A body with no state, then the frames and the four tables' counts; each
// table's items are `fill` bytes of 1 (a one-byte item of any kind), so a
// count can be honest or claim more than follows.
struct Tables {
    uint64_t frames = 100;
    uint64_t runs = 0, events = 0, answers = 0;
    uint64_t runLength = 1;  // readings in each clock run
};
std::string Body(const Tables& t, size_t extra = 0) {
    std::string b;
    PutVar(b, 0);  // numbers
    PutVar(b, 0);  // texts
    PutVar(b, 0);  // clock base
    PutVar(b, t.frames);
    PutVar(b, t.runs);
    for (uint64_t i = 0; i < t.runs; i++) PutVar(b, 2);  // +1 ms
    for (uint64_t i = 0; i < t.runs; i++) PutVar(b, t.runLength);
    PutVar(b, t.events);
    for (uint64_t i = 0; i < t.events; i++) PutVar(b, 1);  // poll steps
    for (int field = 0; field < 4; field++)
        for (uint64_t i = 0; i < t.events; i++) PutVar(b, 0);
    PutVar(b, t.answers);
    for (uint64_t i = 0; i < t.answers; i++) PutVar(b, 0);
    PutVar(b, 0);  // checkpoints
    return b + std::string(extra, '\0');
}

// A body whose count `which` (0 runs, 1 events, 2 answers) claims `count`
// items with nothing after it but `bytes` zeros.
std::string Claiming(int which, uint64_t count, size_t bytes, uint64_t frames = 100) {
    std::string b;
    PutVar(b, 0);
    PutVar(b, 0);
    PutVar(b, 0);
    PutVar(b, frames);
    if (which > 0) PutVar(b, 0);
    if (which > 1) PutVar(b, 0);
    PutVar(b, count);
    return b + std::string(bytes, '\0');
}

struct Stopped : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void Throw(const std::string& why) { throw Stopped(why); }
}  // namespace

TEST(GameJournalBounds, TablesLargerThanTheirBytesOrFramesAreRefused) {
    struct Case {
        const char* label;
        std::string body;
        bool ok;
    } cases[] = {
        {"honest small tables", Body({100, 3, 4, 5, 1}), true},
        {"every byte left an event (5 bytes each)", Claiming(1, 1000, 1000), false},
        {"room enough, but events in poll 0", Claiming(1, 200, 1000), false},
        {"every byte left a clock run (2 bytes each)", Claiming(0, 1000, 1001), false},
        {"more device answers than bytes", Claiming(2, 1001, 1000), false},
        {"more events than 100 frames can use",
         Claiming(1, (100 + GameReplaySpareFrames) * GameReplayMaxEventsPerFrame + 1,
                  (size_t)((100 + GameReplaySpareFrames) * GameReplayMaxEventsPerFrame + 1) * 5),
         false},
        {"more answers than 100 frames can use",
         Claiming(2, (100 + GameReplaySpareFrames) * GameReplayMaxAnswersPerFrame + 1,
                  (size_t)((100 + GameReplaySpareFrames) * GameReplayMaxAnswersPerFrame + 1)),
         false},
        {"more clock readings than 100 frames can use",
         Body({100, 1, 0, 0, (100 + GameReplaySpareFrames) * GameReplayMaxReadingsPerFrame + 1}), false},
        {"the most clock readings 100 frames can use",
         Body({100, 1, 0, 0, (100 + GameReplaySpareFrames) * GameReplayMaxReadingsPerFrame}), true},
    };
    for (const Case& c : cases) {
        GameJournal j;
        std::string error;
        EXPECT_EQ(DecodeGameJournalBody(c.body, j, error), c.ok) << c.label << ": " << error;
    }
}

// A replay that reads the clock without end in one frame, or runs past its
// claimed frames, is stopped; one within them goes on.
TEST(GameJournalBounds, AReplayHoldsToItsClaimedLength) {
    SetJournalStopHandler(Throw);
    JournalData d;
    d.endFrames = 10;
    d.checks = {{10, 0}};
    d.clock = {{0, (uint32_t)GameReplayMaxReadingsPerFrame + 1}};
    StartReplay(d);
    for (uint64_t i = 0; i < GameReplayMaxReadingsPerFrame; i++) JournalClock(0);
    try {
        JournalClock(0);
        ADD_FAILURE() << "a frame read the clock past the bound";
    } catch (const Stopped& e) {
        EXPECT_NE(std::string(e.what()).find("more often within one frame"), std::string::npos) << e.what();
    }

    d.clock = {{1, 1000}};
    d.checks.clear();
    StartReplay(d);
    int frames = 0;
    try {
        for (; frames < 1000; frames++) {
            JournalClock(0);
            JournalFrame(0);
        }
    } catch (const Stopped& e) {
        EXPECT_NE(std::string(e.what()).find("ran past the 10 frames"), std::string::npos) << e.what();
    }
    EXPECT_EQ(frames, 10 + (int)GameReplaySpareFrames);
    FinishJournal(frames);
    SetJournalStopHandler(nullptr);
}

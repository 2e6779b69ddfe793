// Watching a replay on a display (--replay on a window, the page's ?replay=):
// the recorded game at its recorded speed, with the player's name on top.
// Space pauses and goes on, Right held plays four times as fast, Escape ends
// the watching. The replayed game never sees these keys: they are the
// viewer's (ViewerKeyHits), not the journal's.
#pragma once
#include <string>

// How far into the recording the viewer has got, in the recording's
// milliseconds.
struct WatchClock {
    double at = 0;
    bool paused = false;
    bool fast = false;  // Right held
};
// realMs of real time pass: the watch moves on by that, four times that
// while fast, not at all while paused.
void AdvanceWatch(WatchClock& w, double realMs);
// The real time until the watch reaches dueMs: 0 when it has, -1 while
// paused (it never does then).
double WatchWait(const WatchClock& w, double dueMs);

// A replay on a display, which WatchReplayFrame paces.
bool WatchingReplay();
// At each picture of a watched replay, before it is presented (and grabbed):
// holds it until the watch reaches the recording's time of this picture,
// following the viewer's keys meanwhile (Escape ends the program at once,
// writing nothing), then draws the player's name and the keys over it. A
// paused watch presents one picture that says so and then holds the next.
void WatchReplayFrame();
// The name typed at name entry, from a game journal's header ("" for a run
// journal or a file that cannot be read).
std::string GameJournalName(const std::string& path);

// The run journal behind --record and --replay: everything outside the
// program that its logic depends on, in the order the program met it, so a
// recorded run can be played again exactly.
//
// What goes in: every reading of the program's clock (Millisecs), every
// input event that reaches the input tables together with the input poll
// (PumpInput call) it arrived in, the answers of the joystick queries, and a
// checksum of the game state at the end of each frame. On replay the clock
// answers with the journaled readings, the journaled events arrive in the
// same polls, the joystick queries answer from the journal, and each frame's
// checksum is compared with the journaled one, so a replay that goes its own
// way stops at the first frame that differs instead of running on.
//
// The file is text, one item a line:
//   wormlob2 journal 1                   the header; 1 is the format version
//   c <delta> [<count>]                  count (default 1) clock readings,
//                                        each delta ms after the one before
//                                        (the first reading counts from 0)
//   e <poll> <type> <code> <x> <y> <rep> an input event delivered in input
//                                        poll number <poll> (from 1); type
//                                        is the InputEventType number
//   v <value>                            the answer of a joystick query
//                                        (a float as its 32-bit pattern)
//   f <checksum>                         a frame ended; the state checksum
//                                        in 16 hex digits
//   o <name> <value>                     a run option the replay must use
//                                        too (the shell's own names)
//   end <frames>                         the program ended after that many
//                                        frames (absent when it was killed)
// The streams are independent: only the order within each kind matters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/system.h"

struct JournalClockRun {
    int32_t delta;   // ms after the previous reading (wrapping)
    uint32_t count;  // readings in the run, at least 1
};
struct JournalEvent {
    uint64_t poll;  // the PumpInput call it arrived in, from 1
    InputEvent e;
};
struct JournalData {
    std::vector<JournalClockRun> clock;
    std::vector<JournalEvent> events;
    std::vector<int32_t> values;
    std::vector<uint64_t> frames;  // the checksum of each frame, in order
    std::vector<std::pair<std::string, std::string>> options;  // name, value
    long long endFrames = -1;      // -1: no end line
    // A game journal holds no checksum a frame, only one every so many
    // frames: (frame number from 1, checksum) pairs, checked when frames is
    // empty.
    std::vector<std::pair<uint64_t, uint64_t>> checks;
    // The reading the first clock step counts from (a run starts at 0; a
    // game journal at the program's clock when the game began).
    uint32_t clockBase = 0;
};

// Parses a whole journal. On the first thing wrong gives false and error =
// "line N: what is wrong" (or what is missing), with data cleared.
bool ParseJournal(const std::string& text, JournalData& data, std::string& error);
// The same from a file; an unreadable file gives error "cannot be read".
bool ReadJournal(const std::string& path, JournalData& data, std::string& error);

// Starts writing a journal to path (created or truncated); false with error
// when it cannot be created.
bool StartRecording(const std::string& path, std::string& error);
// Journals a run option (name and value are single words).
void JournalOption(const std::string& name, const std::string& value);
// Starts playing back a parsed journal.
void StartReplay(const JournalData& data);
bool Recording();
bool Replaying();
// Recording: writes the end line and closes the file. Replaying: checks that
// the journal was used up; returns "" when all is well, else what is left.
std::string FinishJournal(long long frames);

// Called when a replay cannot go on (the journal ran out, or the run went
// its own way); it gets a one-line reason and must not return. Without one
// the reason goes to standard error and the process ends with status 3.
void SetJournalStopHandler(void (*stop)(const std::string& why));

// ---- the hooks the media layer and the frame hub call ----

// A clock reading: recording journals the platform's reading and returns
// it; replaying returns the next journaled reading.
int JournalClock(int platformMs);
// The last reading handed out by a replay (what the media layer's own
// timekeeping uses there); only meaningful while replaying.
int JournalNow();
// A paced replay is one being watched: it runs at the recorded speed. The
// clock readings themselves never wait; each presented picture is held
// until the watcher's clock reaches the recording's time of that picture
// (shell/watch.cpp), which is where the watcher pauses or speeds it up, and
// where a page yields to the browser.
void SetReplayPacing(bool paced);
bool ReplayPaced();
// Input polls: JournalPoll is called at the start of each PumpInput; while
// recording, JournalPosted journals each event that reaches the tables
// (inPoll: it came during a poll rather than between two);
// while replaying, JournalDeliver posts the events of the current poll, and
// JournalAccepts tells PostInputEvent whether an event may reach the tables
// (only the journal's own while replaying).
void JournalPoll();
// The input polls counted so far while recording or replaying (what an
// event's poll number refers to).
uint64_t JournalPollCount();
void JournalPosted(const InputEvent& e, bool inPoll);
void JournalDeliver();
bool JournalAccepts();
// A device answer: recording journals it and returns it; replaying returns
// the journaled one (the platform's answer is then not asked for: pass a
// function that asks it).
int32_t JournalValue(int32_t (*ask)(int a, int b), int a, int b);
// The end of a frame with its state checksum: journaled, or compared.
void JournalFrame(uint64_t checksum);

// A game journal's replay (one whose streams hold checkpoints, not a
// checksum a frame) holds to the length its journal claims: it is stopped
// once it runs more than GameReplaySpareFrames past the claimed frames, or
// reads the clock more than GameReplayMaxReadingsPerFrame times within one
// frame (a frame's wait reads it about 15 times; the longest wait in a game
// is a few seconds of 1 ms steps), so that no journal can keep a replay
// running longer than its claimed game. The journal reader refuses tables
// larger than the same bounds allow.
constexpr uint64_t GameReplaySpareFrames = 60;
constexpr uint64_t GameReplayMaxReadingsPerFrame = 100000;
constexpr uint64_t GameReplayMaxEventsPerFrame = 256;
constexpr uint64_t GameReplayMaxAnswersPerFrame = 1024;

// ---- the game capture: one game's share of the same streams ----
//
// While a game runs, every clock reading, input poll, input event that
// reaches the tables and device answer is also kept in memory, whether or
// not a run journal is recorded or replayed, so that the game can be filed
// with a journal of its own (shell/gamejournal.cpp writes it).

// Starts capturing; the first clock step counts from clockBase.
void StartGameCapture(uint32_t clockBase);
bool GameCapturing();
// A checkpoint: the state checksum at the end of a game frame; kept for every
// checkEvery-th frame and for the last.
void GameCaptureFrame(uint64_t checksum, int checkEvery);
// Ends the capture and hands over what it kept (frames holds nothing; checks
// the checkpoints; endFrames the game's frames).
JournalData TakeGameCapture();
// The last clock reading the capture saw.
uint32_t GameCaptureLastMs();
// The frames a replay has ended so far (for a game journal's own count).
long long JournalFramesSoFar();

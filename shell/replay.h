// --record, --replay and --checksums: the shell's side of the run journal
// (media/journal.h) and the per-frame state checksums.
#pragma once
#include <string>

// Checks the journal options together and reads the journal to replay,
// printing what is wrong; false means bad usage (exit status 2). Runs with
// the other options, before anything is opened.
bool CheckJournalOptions();
// Creates the journal being recorded and the checksum file, and starts the
// recording or the replay; false (with a message printed) when a file
// cannot be created. Runs before the program's first clock reading.
bool StartRunJournal();
// After the setup file is read: a recording journals the Settings and Keys
// tables, a replay puts the recorded ones in their place.
void JournalSetup();
// After the score file is read: the same for the name the name prompt
// starts with.
void JournalPlayerName();
// The end of every frame: the game state's checksum goes to the checksum
// file and to the journal (or is compared with it).
void JournalFrameEnd();
// At shutdown: closes the journal and the checksum file and logs how a
// replay went. Returns the exit status: 0, or 3 when a replay did not end
// as the recording did.
int EndRunJournal();

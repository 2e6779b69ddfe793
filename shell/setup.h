// The player's configuration: the Settings and Keys tables and "Setup.ini".
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "shell/text.h"

extern int Settings[100];
extern int Keys[101];
// Snapshot of ListAudioDrivers taken at start-up; Settings[14] indexes it.
extern std::vector<std::string> AudioDriverNames;

// Default bindings and settings, filled at start-up before Setup.ini is read.
void SetDefaultSettings();


// How LoadSetup installs the audio back end. The real calls by default;
// tests replace them.
struct AudioInstaller {
    std::function<bool(const std::string&)> exists;
    std::function<bool(const std::string&)> set;
    std::function<bool()> enableOpenAL;
};
void SetAudioInstaller(const AudioInstaller& installer);
void ResetAudioInstaller();

// Index into names of the back end chosen when the file names none; -1 when
// no name qualifies (Settings[14] then stays as it was).
int DefaultAudioDriverIndex(const std::vector<std::string>& names);

// Reads "Setup.ini" from the working folder.
void LoadSetup();
// The exact lines SaveSetup writes (without line ends).
std::vector<std::string> SetupFileLines();
// Called with the game folder as working folder; writes "../Setup.ini"
// through a temporary file and comes back. Returns false (and logs) when the
// file could not be written; the old file then stays as it was.
bool SaveSetup();
// Runs write in the data folder (one up from the week's folder the program
// works in) and comes back; logs unreachable when that folder cannot be
// entered. write's answer, or false.
bool InDataFolder(const char* unreachable, bool (*write)());
// Writes "Setup.ini" in the working folder itself (used by SaveSetup).
bool WriteSetupHere();

// The data folder the program changes into at start-up: ./Files in a
// checkout, or a per-user folder when the program runs from an install.
#pragma once
#include <string>

// The installed read-only "Files" folder (<prefix>/share/wormlob2/Files,
// found next to the running executable), or "" when the program does not
// run from an install.
std::string InstalledDataFolder();

// The per-user data folder: $XDG_DATA_HOME/wormlob2, else
// $HOME/.local/share/wormlob2 (the password entry's home when HOME is
// unset); "" when no home folder is known.
std::string UserDataFolder();

// Makes user a data folder the program can run from: creates it and one
// folder for each folder of installed, and links each installed asset file
// the user's folder lacks. A link left dangling by a moved install is
// pointed at the new one; real files are never replaced, so "Setup.ini",
// "scores.dat", screenshots and assets the player swapped in survive.
// Returns false, with the reason in error, when a folder cannot be made.
bool PrepareUserFolder(const std::string& installed, const std::string& user, std::string& error);

// The folder to change into: the --files value when given, else the
// prepared per-user folder when installed, else "Files/". Returns false,
// with the reason in error, when the per-user folder cannot be made.
bool ChooseDataFolder(const std::string& filesOption, std::string& folder, std::string& error);

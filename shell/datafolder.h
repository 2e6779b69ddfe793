// The data folder the program changes into at start-up: ./Files in a
// checkout, or a per-user folder when the program runs from an install.
#pragma once
#include <string>
#include <vector>

// The installed read-only "Files" folder (<prefix>/share/wormlob2/Files, or
// wherever the build's install layout puts it, found relative to the running
// executable), or "" when the program does not run from an install.
std::string InstalledDataFolder();

// The per-user data folder: $XDG_DATA_HOME/wormlob2, else
// $HOME/.local/share/wormlob2 (the password entry's home when HOME is
// unset); "" when no home folder is known.
std::string UserDataFolder();

// Makes user a data folder the program can run from: creates it and one
// folder for each folder of installed, and links each installed asset file
// the user's folder lacks. A link left dangling by a moved install, or one
// made for another install (an earlier `cmake --install` to another prefix
// that used the same per-user folder), is pointed at this one; real files
// and the player's own links are never replaced, so "Setup.ini",
// "scores.dat", screenshots and assets the player swapped in survive.
// Returns false, with the reason in error, when a folder cannot be made or
// the program could not write its files there. Installed assets that are
// links to a missing file (a font whose package was removed) are named in
// notes; the program runs on without them.
bool PrepareUserFolder(const std::string& installed, const std::string& user, std::string& error,
                       std::vector<std::string>& notes);

// The folder to change into: the --files value when given, else the
// prepared per-user folder when installed, else "Files/". Returns false,
// with the reason in error, when the per-user folder cannot be used.
bool ChooseDataFolder(const std::string& filesOption, std::string& folder, std::string& error,
                      std::vector<std::string>& notes);

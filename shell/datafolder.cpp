#include "shell/datafolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

// Where the installed assets sit seen from the installed executable's
// folder; the build sets it from the install layout.
#ifndef WORMLOB_BIN_TO_DATA
#define WORMLOB_BIN_TO_DATA "../share/wormlob2/Files"
#endif

namespace {
// Files the program itself writes in its data folders. Should an install
// carry one by mistake it is not linked: the player's own copy is made by
// the program and must not start out as a link into the install.
bool IsPlayersFile(const std::string& name) {
    return name.rfind("scores.dat", 0) == 0 || name.rfind("Setup.ini", 0) == 0 || name == "Debug.txt";
}

// A link this program made for some install: its target is an install's
// "wormlob2/Files" tree, at the same place there as the link is in the
// user's folder (rel). A link anywhere else was made by the player.
bool IsInstallLink(const fs::path& target, const std::string& rel) {
    std::string t = target.generic_string(), tail = "/wormlob2/Files/" + rel;
    return t.size() > tail.size() && t.compare(t.size() - tail.size(), tail.size(), tail) == 0;
}

void LinkAsset(const fs::path& target, const fs::path& link, const std::string& rel) {
    std::error_code ec;
    fs::file_status st = fs::symlink_status(link, ec);
    if (fs::exists(st)) {
        // A real file is the player's. A link is made again when its target
        // went away (the install moved or was replaced) or when it leads
        // into another install: the folder may have been made by an earlier
        // install elsewhere, whose assets need not match this program.
        if (!fs::is_symlink(st)) return;
        fs::path old = fs::read_symlink(link, ec);
        if (ec || old == target) return;
        if (fs::exists(link, ec) && !IsInstallLink(old, rel)) return;
        fs::remove(link, ec);
    }
    // A link that cannot be made leaves the asset missing, which the
    // loaders already treat as an empty slot.
    fs::create_symlink(target, link, ec);
}

// Folders become real folders in the user's tree, so that ".." from the
// game folder leads back to the user's folder and never into the install;
// files inside them become links. Depth is bounded against link loops.
bool MirrorFolder(const fs::path& from, const fs::path& to, const std::string& rel, int depth,
                  std::string& error, std::vector<std::string>& notes) {
    std::error_code ec, statEc;
    fs::create_directories(to, ec);
    if (!fs::is_directory(to, statEc)) {
        error = "cannot create the data folder \"" + to.string() + "\"" + (ec ? ": " + ec.message() : "");
        return false;
    }
    // Setup.ini and Debug.txt go in the top folder, scores.dat in the game
    // folder. A folder the program cannot write would lose every setting
    // and score of the run, so it does not start at all.
    if (depth < 2 && access(to.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write in the data folder \"" + to.string() + "\": " + std::strerror(errno) +
                " (settings and scores could not be saved; make it writable, or name another folder with --files)";
        return false;
    }
    fs::directory_iterator it(from, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        fs::path src = it->path();
        std::string name = src.filename().string();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (depth < 4 && !MirrorFolder(src, to / name, rel + name + "/", depth + 1, error, notes)) return false;
        } else if (depth > 0 && it->is_regular_file(typeEc) && !IsPlayersFile(name)) {
            LinkAsset(src, to / name, rel + name);
        } else if (depth > 0 && it->is_symlink(typeEc) && !fs::exists(src, typeEc)) {
            // An install may link an asset to another package's file (the
            // fonts of a distribution package); that package is missing.
            fs::path target = fs::read_symlink(src, typeEc);
            if (target.is_relative()) target = (src.parent_path() / target).lexically_normal();
            notes.push_back("\"" + rel + name + "\" is missing: the install links it to \"" + target.string() +
                            "\", which is not there (is the package that provides it installed?); "
                            "the game runs without it");
        }
    }
    return true;
}
}  // namespace

std::string InstalledDataFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return "";
    fs::path data = (exe.parent_path() / WORMLOB_BIN_TO_DATA).lexically_normal();
    if (!fs::is_directory(data, ec)) return "";
    return data.string();
}

std::string UserDataFolder() {
    // A relative XDG_DATA_HOME is to be ignored, as if it were unset.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return (fs::path(xdg) / "wormlob2").string();
    std::string home;
    const char* h = std::getenv("HOME");
    if (h && h[0]) {
        home = h;
    } else {
        const passwd* pw = getpwuid(getuid());
        if (pw && pw->pw_dir && pw->pw_dir[0]) home = pw->pw_dir;
    }
    if (home.empty()) return "";
    return (fs::path(home) / ".local" / "share" / "wormlob2").string();
}

bool PrepareUserFolder(const std::string& installed, const std::string& user, std::string& error,
                       std::vector<std::string>& notes) {
    return MirrorFolder(installed, user, "", 0, error, notes);
}

bool ChooseDataFolder(const std::string& filesOption, std::string& folder, std::string& error,
                      std::vector<std::string>& notes) {
    if (!filesOption.empty()) {
        folder = filesOption;
        return true;
    }
    std::string installed = InstalledDataFolder();
    if (installed.empty()) {
        folder = "Files/";
        return true;
    }
    std::string user = UserDataFolder();
    if (user.empty()) {
        error = "no home folder to keep the player's files in (set HOME or XDG_DATA_HOME)";
        return false;
    }
    if (!PrepareUserFolder(installed, user, error, notes)) return false;
    folder = user + "/";
    return true;
}

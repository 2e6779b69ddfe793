#include "shell/datafolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
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

void LinkAsset(const fs::path& target, const fs::path& link) {
    std::error_code ec;
    fs::file_status st = fs::symlink_status(link, ec);
    if (fs::exists(st)) {
        // Anything that works is left alone; only a link whose target went
        // away (the install moved or was replaced) is made again.
        if (!fs::is_symlink(st) || fs::exists(link, ec)) return;
        fs::remove(link, ec);
    }
    // A link that cannot be made leaves the asset missing, which the
    // loaders already treat as an empty slot.
    fs::create_symlink(target, link, ec);
}

// Folders become real folders in the user's tree, so that ".." from the
// game folder leads back to the user's folder and never into the install;
// files inside them become links. Depth is bounded against link loops.
bool MirrorFolder(const fs::path& from, const fs::path& to, int depth, std::string& error) {
    std::error_code ec, statEc;
    fs::create_directories(to, ec);
    if (!fs::is_directory(to, statEc)) {
        error = "cannot create the data folder \"" + to.string() + "\"" + (ec ? ": " + ec.message() : "");
        return false;
    }
    fs::directory_iterator it(from, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        fs::path src = it->path();
        std::string name = src.filename().string();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (depth < 4 && !MirrorFolder(src, to / name, depth + 1, error)) return false;
        } else if (depth > 0 && it->is_regular_file(typeEc) && !IsPlayersFile(name)) {
            LinkAsset(src, to / name);
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

bool PrepareUserFolder(const std::string& installed, const std::string& user, std::string& error) {
    return MirrorFolder(installed, user, 0, error);
}

bool ChooseDataFolder(const std::string& filesOption, std::string& folder, std::string& error) {
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
    if (!PrepareUserFolder(installed, user, error)) return false;
    folder = user + "/";
    return true;
}

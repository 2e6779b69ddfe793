// End-to-end runs of the real program: a temporary copy of Files/ per test,
// the program run in it, and readers for what it leaves behind.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The lines of a text the program wrote (CR LF line ends).
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

// Replays a game journal headless in a fresh copy of the data folder at dir
// (the way a score server verifies it), its output in out; the exit status.
inline int VerifyGameJournal(const fs::path& journal, const fs::path& dir, const fs::path& out) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path src = fs::path(WORMLOB_SOURCE_DIR) / "Files";
    fs::copy(src / "Common", dir / "Common", fs::copy_options::recursive);
    fs::copy(src / "418", dir / "418", fs::copy_options::recursive);
    fs::remove(dir / "418" / "scores.dat");
    std::string cmd = "timeout 120 '" + std::string(WORMLOB_BINARY_DIR) + "/wormlob2' --headless --files '" +
                      dir.string() + "' --replay '" + journal.string() + "' >'" + out.string() + "' 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// root/ holds Files/ (the game's assets, no score file); Run starts the
// program there with its output in root/out.txt.
class Program : public ::testing::Test {
protected:
    fs::path root, files;
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("wl2_e2e_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        files = root / "Files";
        fs::create_directories(files);
        fs::path src = fs::path(WORMLOB_SOURCE_DIR) / "Files";
        fs::copy(src / "Common", files / "Common", fs::copy_options::recursive);
        fs::copy(src / "418", files / "418", fs::copy_options::recursive);
        for (const char* junk : {"418/scores.dat", "418/scores.dat.bak"}) fs::remove(files / junk);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
    int Run(const std::string& args, int timeoutSecs = 120) {
        std::string cmd = "cd '" + root.string() + "' && timeout " + std::to_string(timeoutSecs) + " '" +
                          std::string(WORMLOB_BINARY_DIR) + "/wormlob2' " + args + " >out.txt 2>&1";
        int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
};

// The installed program: cmake --install into a temporary prefix, then the
// installed binary run for different players (homes) from a folder with no Files/.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/program.h"

namespace fs = std::filesystem;

namespace {
class Installed : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("wl2_install_" + std::to_string(getpid()));
    fs::path prefix = root / "prefix", assets = prefix / "share/wormlob2/Files";
    void SetUp() override {
        fs::remove_all(root);
        fs::create_directories(root);
        ASSERT_EQ(Shell(std::string("'") + WORMLOB_CMAKE_COMMAND + "' --install '" + WORMLOB_BINARY_DIR +
                        "' --prefix '" + prefix.string() + "'"), 0) << Slurp(root / "out.txt");
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
    int Shell(const std::string& cmd) {
        int rc = std::system(("cd '" + root.string() + "' && " + cmd + " >out.txt 2>&1").c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    // Every path under the prefix with its type, size and time.
    std::string Snapshot() {
        std::system(("find '" + prefix.string() + "' -printf '%p %y %s %T@\\n' | sort >'" + root.string() + "/snap'").c_str());
        return Slurp(root / "snap");
    }
    // env goes before the program, e.g. "HOME=/x"; XDG_DATA_HOME is unset unless env sets it.
    int Run(const std::string& env, const std::string& args = "--headless --virtual-clock --frames 340") {
        return Shell("env -u XDG_DATA_HOME " + env + " timeout 120 '" + (prefix / "bin/wormlob2").string() + "' " + args);
    }
};
}  // namespace

TEST_F(Installed, EachHomeGetsItsOwnFilesAndThePrefixIsNotWritten) {
    std::string entry = Slurp(prefix / "share/applications/wormlob2.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (prefix / "bin/wormlob2").string() + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Categories=Game;"), std::string::npos);
    for (const char* size : {"16x16", "32x32", "48x48", "64x64", "128x128", "256x256"})
        EXPECT_EQ(Slurp(prefix / "share/icons/hicolor" / size / "apps/wormlob2.png").substr(1, 3), "PNG") << size;
    EXPECT_NE(Slurp(prefix / "share/metainfo/org.example.wormlob2.metainfo.xml").find("wormlob2.desktop"),
              std::string::npos);
    EXPECT_NE(Slurp(prefix / "share/man/man6/wormlob2.6").find(".TH WORMLOB2 6"), std::string::npos);
    EXPECT_FALSE(fs::exists(assets / "418/scores.dat"));

    std::string before = Snapshot();
    for (const char* who : {"ann", "bob"}) {
        fs::path data = root / who / ".local/share/wormlob2";
        fs::create_directories(root / who);
        ASSERT_EQ(Run("HOME='" + (root / who).string() + "'"), 0) << Slurp(root / "out.txt");
        std::string log = Slurp(data / "Debug.txt");
        EXPECT_NE(log.find("\tSFX(1)\r\n"), std::string::npos) << log;  // assets reached through the links
        EXPECT_NE(log.find("Play again, soon!!"), std::string::npos);
        EXPECT_NE(Slurp(data / "Setup.ini").find("[Graphics]"), std::string::npos);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data / "418/scores.dat")));
        EXPECT_EQ(fs::read_symlink(data / "418/pod1.png"), assets / "418/pod1.png");
    }
    EXPECT_GT(before.size(), 1000u);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(fs::exists(root / "Debug.txt"));
}

TEST_F(Installed, LaterStartsKeepThePlayersFilesAndMendLinksAndABadHomeFailsCleanly) {
    fs::path data = root / "xdg/wormlob2";
    std::string env = "HOME='" + (root / "unused").string() + "' XDG_DATA_HOME='" + (root / "xdg").string() + "'";
    ASSERT_EQ(Run(env), 0) << Slurp(root / "out.txt");
    EXPECT_FALSE(fs::exists(root / "unused/.local"));

    // The player's own settings, scores and sound, a link left dangling by
    // a moved install, and a deleted link.
    std::ofstream(data / "Setup.ini", std::ios::binary) << "Width=1600\r\nHeight=900\r\n";
    std::ofstream(data / "418/scores.dat", std::ios::binary) << "4321|ANN|0|1700000000|3|1|0|0\r\n0\r\n";
    fs::remove(data / "418/001.wav");
    std::ofstream(data / "418/001.wav", std::ios::binary) << "mine";
    fs::remove(data / "418/002.wav");
    fs::create_symlink(root / "gone/002.wav", data / "418/002.wav");
    fs::remove(data / "418/003.wav");
    ASSERT_EQ(Run(env, "--headless --headless-size 1600x900 --virtual-clock --frames 340"), 0);
    EXPECT_NE(Slurp(data / "Debug.txt").find("\tResolution : 1600x900,0"), std::string::npos);
    EXPECT_NE(Slurp(data / "418/scores.dat").find("4321|ANN|"), std::string::npos);
    EXPECT_EQ(Slurp(data / "418/001.wav"), "mine");
    EXPECT_EQ(fs::read_symlink(data / "418/002.wav"), assets / "418/002.wav");
    EXPECT_EQ(fs::read_symlink(data / "418/003.wav"), assets / "418/003.wav");

    std::ofstream(root / "plain") << "a file where the home folder should be";
    EXPECT_EQ(Run("HOME='" + (root / "plain").string() + "'"), 1);
    EXPECT_NE(Slurp(root / "out.txt").find("cannot create the data folder"), std::string::npos);
    EXPECT_EQ(Run(env, "--headless --files nowhere"), 1);  // --files still wins
    EXPECT_NE(Slurp(root / "out.txt").find("\"nowhere\""), std::string::npos);
}

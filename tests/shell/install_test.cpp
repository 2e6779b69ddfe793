// The installed program: cmake --install into a temporary prefix, then runs
// of the installed binary for different players (home folders), started
// from a folder that holds no Files/.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int Shell(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Every path under the prefix with its size and time: what a write would change.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir)) {
        auto st = fs::symlink_status(e.path());
        std::string what = std::to_string((int)st.type());
        if (fs::is_regular_file(st))
            what += " " + std::to_string(fs::file_size(e.path())) + " " +
                    std::to_string(fs::last_write_time(e.path()).time_since_epoch().count());
        out[e.path().string()] = what;
    }
    return out;
}

class Installed : public ::testing::Test {
protected:
    fs::path root, prefix, work;
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("wl2_install_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        prefix = root / "prefix";
        work = root / "work";
        fs::create_directories(work);
        std::string cmd = std::string("'") + WORMLOB_CMAKE_COMMAND + "' --install '" + WORMLOB_BINARY_DIR +
                          "' --prefix '" + prefix.string() + "' >'" + (root / "install.txt").string() + "' 2>&1";
        ASSERT_EQ(Shell(cmd), 0) << Slurp(root / "install.txt");
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
    // env is put before the program, e.g. "HOME=/x".
    int Run(const std::string& env, const std::string& args) {
        std::string cmd = "cd '" + work.string() + "' && env -u XDG_DATA_HOME " + env + " timeout 120 '" +
                          (prefix / "bin" / "wormlob2").string() + "' " + args + " >out.txt 2>&1";
        return Shell(cmd);
    }
    std::string Out() { return Slurp(work / "out.txt"); }
};

const char* kQuickRun = "--headless --virtual-clock --frames 340";
}  // namespace

TEST_F(Installed, PutsProgramAssetsDesktopEntryAndIconUnderThePrefix) {
    EXPECT_TRUE(fs::is_regular_file(prefix / "bin/wormlob2"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/wormlob2/Files/418/pod1.png"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/wormlob2/Files/Common/Plainhand.ttf"));
    EXPECT_FALSE(fs::exists(prefix / "share/wormlob2/Files/418/scores.dat"));
    EXPECT_FALSE(fs::exists(prefix / "share/wormlob2/Files/Setup.ini"));
    // A PNG whose header says 128 x 128, as its folder claims.
    std::string icon = Slurp(prefix / "share/icons/hicolor/128x128/apps/wormlob2.png");
    ASSERT_GT(icon.size(), 24u);
    EXPECT_EQ(icon.substr(1, 3), "PNG");
    EXPECT_EQ(icon.substr(16, 8), std::string("\0\0\0\x80\0\0\0\x80", 8));
    std::string entry = Slurp(prefix / "share/applications/wormlob2.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (prefix / "bin/wormlob2").string() + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Icon=wormlob2\n"), std::string::npos);
    EXPECT_NE(entry.find("Categories=Game;"), std::string::npos);
}

TEST_F(Installed, EachHomeGetsItsOwnFilesAndThePrefixIsNotWritten) {
    auto before = Snapshot(prefix);
    for (const char* who : {"ann", "bob"}) {
        fs::path home = root / who;
        fs::create_directories(home);
        ASSERT_EQ(Run("HOME='" + home.string() + "'", kQuickRun), 0) << Out();
        fs::path data = home / ".local/share/wormlob2";
        std::string log = Slurp(data / "Debug.txt");
        // The assets were reached from the install: the sound effects loaded.
        EXPECT_NE(log.find("\tSFX(1)\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Play again, soon!!"), std::string::npos);
        EXPECT_NE(Slurp(data / "Setup.ini").find("[Graphics]"), std::string::npos);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data / "418/scores.dat")));
        EXPECT_EQ(fs::read_symlink(data / "418/pod1.png"), prefix / "share/wormlob2/Files/418/pod1.png");
    }
    EXPECT_EQ(Snapshot(prefix), before);
    EXPECT_FALSE(fs::exists(work / "Debug.txt"));
    EXPECT_FALSE(fs::exists(work / "Files"));
}

TEST_F(Installed, LaterStartsKeepThePlayersFilesAndMendLinks) {
    fs::path data = root / "xdg/wormlob2";
    std::string env = "HOME='" + (root / "unused").string() + "' XDG_DATA_HOME='" + (root / "xdg").string() + "'";
    ASSERT_EQ(Run(env, kQuickRun), 0) << Out();
    EXPECT_FALSE(fs::exists(root / "unused/.local"));

    // The player's own settings and scores, a sound swapped for their own,
    // a link left dangling by a moved install and a deleted link.
    std::ofstream(data / "Setup.ini", std::ios::binary) << "Width=1600\r\nHeight=900\r\n";
    std::string best = "0";
    for (int i = 2; i <= 30; i++) best += "|0";
    std::ofstream(data / "418/scores.dat", std::ios::binary) << "4321|ANN|0|1700000000|3|1|0|0\r\n" << best << "\r\n";
    fs::remove(data / "418/001.wav");
    std::ofstream(data / "418/001.wav", std::ios::binary) << "mine";
    fs::remove(data / "418/002.wav");
    fs::create_symlink(root / "gone/002.wav", data / "418/002.wav");
    fs::remove(data / "418/003.wav");

    ASSERT_EQ(Run(env, "--headless --headless-size 1600x900 --virtual-clock --frames 340"), 0) << Out();
    EXPECT_NE(Slurp(data / "Debug.txt").find("\tResolution : 1600x900,0"), std::string::npos);
    EXPECT_NE(Slurp(data / "Setup.ini").find("Width=1600\r\nHeight=900\r\n"), std::string::npos);
    EXPECT_NE(Slurp(data / "418/scores.dat").find("4321|ANN|"), std::string::npos);
    EXPECT_EQ(Slurp(data / "418/001.wav"), "mine");
    EXPECT_EQ(fs::read_symlink(data / "418/002.wav"), prefix / "share/wormlob2/Files/418/002.wav");
    EXPECT_EQ(fs::read_symlink(data / "418/003.wav"), prefix / "share/wormlob2/Files/418/003.wav");
}

TEST_F(Installed, AnUnusableHomeOrFilesOptionFailsCleanly) {
    auto before = Snapshot(prefix);
    std::ofstream(root / "plain.txt") << "a file, not a folder";
    EXPECT_EQ(Run("HOME='" + (root / "plain.txt").string() + "'", kQuickRun), 1);
    EXPECT_NE(Out().find("cannot create the data folder"), std::string::npos) << Out();
    // --files still names the data folder outright, and no player folder is made.
    fs::path home = root / "cat";
    fs::create_directories(home);
    EXPECT_EQ(Run("HOME='" + home.string() + "'", "--headless --files nowhere"), 1);
    EXPECT_NE(Out().find("\"nowhere\""), std::string::npos) << Out();
    EXPECT_FALSE(fs::exists(home / ".local"));
    EXPECT_EQ(Snapshot(prefix), before);
}

// The per-user folder of an installed program, prepared over trees made in a
// temporary folder: what happens to each kind of entry a player's folder can
// hold, installed links to a missing file, and a folder the player cannot write.
#include "shell/datafolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/program.h"

namespace {
class DataFolder : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() /
                    ("wl2_datafolder_" + std::to_string(getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    // This install, and one made earlier by `cmake --install` elsewhere.
    fs::path installed = root / "usr/share/games/wormlob2/Files", other = root / "opt/share/wormlob2/Files";
    fs::path user = root / "home/.local/share/wormlob2";
    void SetUp() override {
        fs::remove_all(root);
        for (const fs::path& tree : {installed, other})
            for (const char* f : {"Common/icons.png", "418/001.wav", "418/002.wav", "418/003.wav", "418/004.wav",
                                  "418/005.wav", "418/006.wav"}) {
                fs::create_directories((tree / f).parent_path());
                std::ofstream(tree / f) << f;
            }
        fs::create_directories(user / "418");
        fs::create_directories(user / "Common");
        fs::create_directories(root / "mine");
        std::ofstream(root / "mine/sound.wav") << "the player's";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(user / "418", fs::perms::owner_all, fs::perm_options::add, ec);
        if (!HasFailure()) fs::remove_all(root);
    }
};
}  // namespace

TEST_F(DataFolder, EachKindOfEntryInAPlayersFolder) {
    // A folder left by the other install (links into it, working or not),
    // with the player's own link, own file, settings and scores.
    fs::create_symlink(other / "Common/icons.png", user / "Common/icons.png");
    fs::create_symlink(other / "418/001.wav", user / "418/001.wav");
    fs::create_symlink(root / "gone/share/wormlob2/Files/418/002.wav", user / "418/002.wav");
    fs::create_symlink(root / "mine/sound.wav", user / "418/003.wav");
    fs::create_symlink(root / "mine/gone.wav", user / "418/004.wav");
    std::ofstream(user / "418/005.wav") << "real";
    std::ofstream(user / "Setup.ini") << "Master = 66\r\n";
    std::ofstream(user / "418/scores.dat") << "5555|CAT|0|1700000000|3|1|0|0\r\n0\r\n";

    std::string error;
    std::vector<std::string> notes;
    ASSERT_TRUE(PrepareUserFolder(installed.string(), user.string(), error, notes)) << error;
    EXPECT_TRUE(notes.empty());

    struct Want {
        const char* file;
        fs::path link;       // where the link leads, or empty for a real file
        const char* content;
    } wants[] = {
        {"Common/icons.png", installed / "Common/icons.png", "Common/icons.png"},  // into the other install
        {"418/001.wav", installed / "418/001.wav", "418/001.wav"},                // the same, one folder down
        {"418/002.wav", installed / "418/002.wav", "418/002.wav"},                // an install that is gone
        {"418/003.wav", root / "mine/sound.wav", "the player's"},                  // the player's own link
        {"418/004.wav", installed / "418/004.wav", "418/004.wav"},                // the player's, dangling
        {"418/005.wav", {}, "real"},                                               // a real file
        {"418/006.wav", installed / "418/006.wav", "418/006.wav"},                // missing
        {"Setup.ini", {}, "Master = 66\r\n"},
        {"418/scores.dat", {}, "5555|CAT|0|1700000000|3|1|0|0\r\n0\r\n"},
    };
    for (const Want& w : wants) {
        SCOPED_TRACE(w.file);
        fs::path p = user / w.file;
        if (w.link.empty()) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(p)));
        } else {
            ASSERT_TRUE(fs::is_symlink(fs::symlink_status(p)));
            EXPECT_EQ(fs::read_symlink(p), w.link);
        }
        EXPECT_EQ(Slurp(p), w.content);
    }
    EXPECT_EQ(Slurp(other / "418/001.wav"), "418/001.wav");  // the other install is not touched
}

TEST_F(DataFolder, AnInstalledLinkToAMissingFileIsNamedAndTheRestStillLinked) {
    // As the package links its fonts: relative links to another package's
    // files, one of which was removed.
    fs::create_directories(root / "usr/share/fonts");
    std::ofstream(root / "usr/share/fonts/Present.ttf") << "font";
    fs::create_symlink("../../../../fonts/Present.ttf", installed / "Common/Plainhand.ttf");
    fs::create_symlink("../../../../fonts/Removed.ttf", installed / "Common/Marquee.ttf");

    std::string error;
    std::vector<std::string> notes;
    ASSERT_TRUE(PrepareUserFolder(installed.string(), user.string(), error, notes)) << error;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind("\"Common/Marquee.ttf\" is missing: the install links it to \"" +
                                 (root / "usr/share/fonts/Removed.ttf").string() + "\"",
                             0),
              0u)
        << notes[0];
    EXPECT_EQ(Slurp(user / "Common/Plainhand.ttf"), "font");
    EXPECT_EQ(Slurp(user / "418/001.wav"), "418/001.wav");
}

// A folder the player cannot write: the program would lose the run's
// settings and scores, so preparing it fails with the reason, changing
// nothing. Root may write anywhere, so as root the check runs in a child
// process that has become an unprivileged user.
TEST_F(DataFolder, AFolderThePlayerCannotWriteIsRefused) {
    std::ofstream(user / "418/scores.dat") << "5555|CAT|0|1700000000|3|1|0|0\r\n0\r\n";
    // The top folder anyone may write (so the child gets past it), the game
    // folder no one.
    fs::permissions(user, fs::perms::all);
    fs::permissions(user / "418", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        std::string error;
        std::vector<std::string> notes;
        bool ok = PrepareUserFolder(installed.string(), user.string(), error, notes);
        if (write(fds[1], error.data(), error.size()) < 0) _exit(3);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    std::string error;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) error.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << error;
    EXPECT_EQ(error.rfind("cannot write in the data folder \"" + (user / "418").string() + "\": Permission denied", 0),
              0u)
        << error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(user / "418/001.wav")));
    EXPECT_EQ(Slurp(user / "418/scores.dat"), "5555|CAT|0|1700000000|3|1|0|0\r\n0\r\n");
}

// A process that is killed outright while it files games must leave a
// well-formed "scores.dat" holding every game it had finished filing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "services/scores.h"

namespace fs = std::filesystem;

namespace {
// The child: reads the table, then files games with scores start, start+1,
// ... for ever, reporting each one on the pipe once FileScoreRecord returned.
[[noreturn]] void FileForever(int fd, int start) {
    ScoreList.clear();
    ReadScoreFile();
    for (int i = start;; i++) {
        PlayerName = "Kill" + std::to_string(i);
        FileScoreRecord(i, 1, 0);
        if (write(fd, &i, sizeof i) != (ssize_t)sizeof i) _exit(3);
    }
}

int CountFields(const std::string& line) {
    int n = 1;
    for (char c : line) n += c == '|';
    return n;
}
}  // namespace

TEST(ScoreKill, KilledWhileFilingLeavesAWellFormedFileWithEveryFiledGame) {
    fs::path old = fs::current_path();
    fs::path dir = fs::temp_directory_path() / ("wl2_scorekill_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);

    std::set<int> filed;
    int next = 1;
    // Kill after a different number of acknowledged games each round; the
    // child is then usually in the middle of its next write.
    for (int wantAcks : {1, 3, 7, 2, 12, 5}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            FileForever(fds[1], next);
        }
        close(fds[1]);
        int acks = 0, last = next - 1;
        while (acks < wantAcks) {
            int v;
            ASSERT_EQ(read(fds[0], &v, sizeof v), (ssize_t)sizeof v);
            filed.insert(v);
            last = v;
            acks++;
        }
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
        // Anything still in the pipe was filed before the kill too.
        int v;
        while (read(fds[0], &v, sizeof v) == (ssize_t)sizeof v) {
            filed.insert(v);
            last = v;
        }
        close(fds[0]);
        next = last + 2;  // the game in flight may or may not be on disk

        // Well formed: CR LF lines, pairs of an 8-field and a 30-field line.
        std::ifstream f("scores.dat", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        std::string text = ss.str();
        ASSERT_FALSE(text.empty());
        ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t e = text.find("\r\n", pos);
            ASSERT_NE(e, std::string::npos);
            lines.push_back(text.substr(pos, e - pos));
            pos = e + 2;
        }
        ASSERT_EQ(lines.size() % 2, 0u);
        for (size_t i = 0; i < lines.size(); i += 2) {
            ASSERT_EQ(CountFields(lines[i]), 8) << lines[i];
            ASSERT_EQ(CountFields(lines[i + 1]), 30) << lines[i + 1];
        }

        // Every acknowledged game is there, with its name.
        ScoreList.clear();
        ASSERT_EQ(ReadScoreFile(), (int)lines.size() / 2);
        std::set<int64_t> onDisk;
        for (auto& r : ScoreList) {
            onDisk.insert(r->Score);
            EXPECT_EQ(r->Name, "Kill" + std::to_string(r->Score));
        }
        for (int s : filed) EXPECT_TRUE(onDisk.count(s)) << "game " << s << " lost";
    }
    EXPECT_FALSE(fs::exists("scores.dat.bak"));
    fs::current_path(old);
    fs::remove_all(dir);
}

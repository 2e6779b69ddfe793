#include "services/scores.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/system.h"
#include "services/datetext.h"
#include "shell/log.h"

namespace fs = std::filesystem;

namespace {
ScoreRef Make(int64_t score, int64_t ts, const std::string& name, int mode = 1) {
    auto r = std::make_shared<Scores>();
    r->Score = score;
    r->Timestamp = ts;
    r->Name = name;
    r->GameMode = mode;
    return r;
}

std::string ZeroBest() {
    std::string s = "0";
    for (int i = 2; i <= 30; i++) s += "|0";
    return s;
}
}  // namespace

class ScoreFile : public ::testing::Test {
protected:
    fs::path dir, old;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() /
              ("wl2_scores_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
        ScoreList.clear();
        PlayerName = "Player";
        OpenLog("Debug.txt");
    }
    void TearDown() override {
        CloseLog();
        fs::current_path(old);
        fs::remove_all(dir);
    }
    static void Put(const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string Get(const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST_F(ScoreFile, WritesTheExactFormatNewestFirst) {
    int64_t t = MakeTimestampAt("05 Mar 2010", "07:04:09");
    ScoreList.push_back(Make(12345, t, "ANN"));
    ScoreList.push_back(Make(-7, t + 1, "BOB", 2));
    ScoreList.back()->Quit = 1;
    ScoreList.back()->Best[1] = 4;
    ScoreList.back()->Best[30] = 9;
    ASSERT_TRUE(WriteScoreFile());
    std::string best = "4";
    for (int i = 2; i <= 29; i++) best += "|0";
    best += "|9";
    std::string ts = std::to_string(t);
    EXPECT_EQ(Get("scores.dat"), "-7|BOB|0|" + std::to_string(t + 1) + "|0|2|0|1\r\n" + best +
                                     "\r\n12345|ANN|0|" + ts + "|0|1|0|0\r\n" + ZeroBest() + "\r\n");
    EXPECT_FALSE(fs::exists("scores.dat.tmp"));

    ScoreList.clear();
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_TRUE(fs::exists("scores.dat"));
    EXPECT_EQ(fs::file_size("scores.dat"), 0u);
}

TEST_F(ScoreFile, RoundTripKeepsRecordsAndOrderAndTrimsNames) {
    auto a = Make(INT64_MAX, 5000000000LL, "  spaced name  ", 0);
    a->Badges = 3;
    a->Level = 4;
    a->GameFlags = 6;
    a->Quit = 1;
    for (int i = 1; i <= 30; i++) a->Best[i] = i * 1000;
    auto b = Make(INT64_MIN, 5000000000LL, "Z\xe9l\xf4", 2);  // 8-bit name, same time
    auto c = Make(0, 7, "", 1);
    auto d = Make(42, 9000000000LL, "newest", 1);
    ScoreList = {a, b, c, d};
    ASSERT_TRUE(WriteScoreFile());
    ScoreList.clear();
    ASSERT_EQ(ReadScoreFile(), 4);
    std::vector<ScoreRef> got(ScoreList.begin(), ScoreList.end());
    ASSERT_EQ(got.size(), 4u);
    // Newest first; a and b share a timestamp and keep their order.
    EXPECT_EQ(got[0]->Name, "newest");
    EXPECT_EQ(got[1]->Name, "spaced name");
    EXPECT_EQ(got[2]->Name, "Z\xe9l\xf4");
    EXPECT_EQ(got[3]->Name, "");
    EXPECT_EQ(got[1]->Score, INT64_MAX);
    EXPECT_EQ(got[1]->Timestamp, 5000000000LL);
    EXPECT_EQ(got[1]->Badges, 3);
    EXPECT_EQ(got[1]->Level, 4);
    EXPECT_EQ(got[1]->GameMode, 0);
    EXPECT_EQ(got[1]->GameFlags, 6);
    EXPECT_EQ(got[1]->Quit, 1);
    for (int i = 1; i <= 30; i++) EXPECT_EQ(got[1]->Best[i], i * 1000);
    EXPECT_EQ(got[2]->Score, INT64_MIN);
    EXPECT_EQ(got[2]->GameMode, 2);
    EXPECT_EQ(got[3]->Timestamp, 7);
    // The first record of the file (the newest) gives the default name.
    EXPECT_EQ(PlayerName, "newest");
}

TEST_F(ScoreFile, OrderIsNewestFirstStableAndConsistentForFarApartStamps) {
    ScoreList = {Make(1, 100, "T"), Make(2, 101, "T+1")};
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_EQ(Get("scores.dat").rfind("2|T+1|", 0), 0u);

    // Stamps whose differences do not fit in 32 bits: a comparison of the low
    // 32 bits of the difference would call 0 and 2^32 equal and order
    // 0 / 2^31 / 2^32 in a circle.
    ScoreList = {Make(1, 0, "a"),         Make(2, 1LL << 32, "b"), Make(3, 1LL << 31, "c"),
                 Make(4, INT64_MIN, "d"), Make(5, INT64_MAX, "e"), Make(6, -5, "f"),
                 Make(7, 0, "g")};
    SortScoreList();
    std::string order;
    for (auto& r : ScoreList) order += r->Name;
    EXPECT_EQ(order, "ebcagfd");

    Scores x, y;
    x.Timestamp = INT64_MIN;
    y.Timestamp = INT64_MAX;
    EXPECT_GT(x.Compare(&y), 0);
    EXPECT_LT(y.Compare(&x), 0);
    EXPECT_EQ(x.Compare(&x), 0);
    EXPECT_EQ(x.Compare(nullptr), 1);
}

TEST_F(ScoreFile, ReaderToleratesShortOddAndMissingFields) {
    Put("scores.dat",
        "junk line without separator\r\n"
        "500|  BOB  |-5\r\n"           // three fields: stamp and keys 0
        "1|2|3\n"                      // its best line, LF only
        "-42|EVE|0|77|-3|-2|-1|-9\r\n"  // negatives made positive except score
        "7|-7|x|-1\r\n"
        "\r\n"
        "900|LAST|0|99|0|1|0|0\r\n");  // no best line at the end
    ASSERT_EQ(ReadScoreFile(), 3);
    std::vector<ScoreRef> got(ScoreList.begin(), ScoreList.end());
    // Sorted by stamp: LAST (99), EVE (77), BOB (0).
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0]->Name, "LAST");
    for (int i = 1; i <= 30; i++) EXPECT_EQ(got[0]->Best[i], 0);
    EXPECT_EQ(got[1]->Name, "EVE");
    EXPECT_EQ(got[1]->Score, -42);
    EXPECT_EQ(got[1]->Level, 3);
    EXPECT_EQ(got[1]->GameMode, 2);
    EXPECT_EQ(got[1]->GameFlags, 1);
    EXPECT_EQ(got[1]->Quit, 9);
    EXPECT_EQ(got[1]->Best[1], 7);
    EXPECT_EQ(got[1]->Best[2], 7);
    EXPECT_EQ(got[1]->Best[3], 0);
    EXPECT_EQ(got[1]->Best[4], 1);
    EXPECT_EQ(got[2]->Name, "BOB");
    EXPECT_EQ(got[2]->Score, 500);
    EXPECT_EQ(got[2]->Badges, 5);
    EXPECT_EQ(got[2]->Timestamp, 0);
    EXPECT_EQ(got[2]->Level + got[2]->GameMode + got[2]->GameFlags + got[2]->Quit, 0);
    EXPECT_EQ(got[2]->Best[1], 1);
    EXPECT_EQ(got[2]->Best[3], 3);
    EXPECT_EQ(got[2]->Best[4], 0);
    // The default name is the first record of the file, not the newest.
    EXPECT_EQ(PlayerName, "BOB");

    // A name field that is missing reads as the marker.
    Put("scores.dat", "12|\r\n");
    ASSERT_EQ(ReadScoreFile(), 1);
    EXPECT_EQ(ScoreList.front()->Name, "");
    Put("scores.dat", "12\r\n13|\r\n");
    ASSERT_EQ(ReadScoreFile(), 1);
    EXPECT_EQ(ScoreList.front()->Score, 13);
}

TEST_F(ScoreFile, HugeNumbersReadAsDefinedValues) {
    Put("scores.dat", "99999999999999999999999|A|99999999999|-9223372036854775808|2147483648\r\n"
                      "-2147483648|4294967297\r\n");
    ASSERT_EQ(ReadScoreFile(), 1);
    const Scores& r = *ScoreList.front();
    EXPECT_EQ(r.Score, TextToLong("99999999999999999999999"));
    EXPECT_EQ(r.Timestamp, INT64_MIN);
    EXPECT_EQ(r.Badges, AbsInt(TextToInt("99999999999")));
    EXPECT_EQ(r.Level, AbsInt(TextToInt("2147483648")));
    EXPECT_EQ(r.Best[1], INT32_MIN);  // the one value without a positive twin
    EXPECT_EQ(r.Best[2], 1);
}

TEST_F(ScoreFile, MissingFileKeepsListAndName) {
    ScoreList = {Make(1, 1, "kept")};
    PlayerName = "Somebody";
    EXPECT_EQ(ReadScoreFile(), 0);
    EXPECT_EQ(ScoreList.size(), 1u);
    EXPECT_EQ(PlayerName, "Somebody");
    // An empty file is a table with no games: nothing to back up.
    Put("scores.dat", "");
    EXPECT_EQ(ReadScoreFile(), 0);
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_FALSE(fs::exists("scores.dat.bak"));
}

TEST_F(ScoreFile, UnreadableContentIsCopiedAsideBeforeItIsReplaced) {
    const std::string foreign = "this is not a score table\r\nnor is this\n\x01\x02";
    Put("scores.dat", foreign);
    ScoreList = {Make(10, 10, "earlier")};
    PlayerName = "Keep";
    EXPECT_EQ(ReadScoreFile(), 0);
    EXPECT_EQ(ScoreList.size(), 1u);  // nothing replaced by an unusable file
    EXPECT_EQ(PlayerName, "Keep");
    EXPECT_EQ(Get("scores.dat"), foreign);

    ASSERT_TRUE(WriteScoreFile());
    EXPECT_EQ(Get("scores.dat.bak"), foreign);
    EXPECT_EQ(Get("scores.dat").rfind("10|earlier|", 0), 0u);
    // Only the first replacement owes a copy: the next write leaves the
    // backup alone.
    Put("scores.dat.bak", "older backup");
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_EQ(Get("scores.dat.bak"), "older backup");
    EXPECT_NE(Get("Debug.txt").find("scores.dat.bak"), std::string::npos);
}

TEST_F(ScoreFile, AFileThatCannotBeReadIsNeverReplaced) {
    // A folder in the file's place: it cannot be opened, nor copied aside,
    // so it is left alone and the write reports failure.
    fs::create_directory("scores.dat");
    ScoreList = {Make(10, 10, "x")};
    EXPECT_EQ(ReadScoreFile(), 0);
    EXPECT_EQ(ScoreList.size(), 1u);
    EXPECT_FALSE(WriteScoreFile());
    EXPECT_TRUE(fs::is_directory("scores.dat"));
    EXPECT_NE(Get("Debug.txt").find("scores.dat"), std::string::npos);
}

TEST_F(ScoreFile, FailedWriteKeepsTheOldFile) {
    ScoreList = {Make(1, 1, "old")};
    ASSERT_TRUE(WriteScoreFile());
    std::string before = Get("scores.dat");
    // The temporary file cannot be created: a folder is in its way.
    fs::create_directory("scores.dat.tmp");
    ScoreList = {Make(2, 2, "new")};
    EXPECT_FALSE(WriteScoreFile());
    EXPECT_EQ(Get("scores.dat"), before);
    EXPECT_NE(Get("Debug.txt").find("Could not write scores.dat"), std::string::npos);
}

TEST_F(ScoreFile, NamesThatWouldSplitARecordAreWrittenSafely) {
    // Name entry never lets these through; a record made elsewhere still
    // must not damage the file.
    ScoreList = {Make(5, 5, "a|b\r\nc")};
    ASSERT_TRUE(WriteScoreFile());
    ScoreList.clear();
    ASSERT_EQ(ReadScoreFile(), 1);
    EXPECT_EQ(ScoreList.front()->Name, "a b  c");
    EXPECT_EQ(ScoreList.front()->Score, 5);
    EXPECT_EQ(ScoreList.front()->Timestamp, 5);
}

TEST_F(ScoreFile, FilingAGameWritesTheFileAtOnce) {
    PlayerName = "ANN";
    ScoreList = {Make(1, MakeTimestampAt("01 Jan 2000", "00:00:00"), "old")};
    int64_t before = MakeTimestamp("");
    ScoreRef r = FileScoreRecord(777, 2, 1);
    int64_t after = MakeTimestamp("");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Score, 777);
    EXPECT_EQ(r->Name, "ANN");
    EXPECT_EQ(r->GameMode, 2);
    EXPECT_EQ(r->Quit, 1);
    EXPECT_EQ(r->Level, 0);
    EXPECT_EQ(r->GameFlags, 0);
    EXPECT_EQ(r->Badges, 0);
    EXPECT_GE(r->Timestamp, before);
    EXPECT_LE(r->Timestamp, after);
    EXPECT_EQ(ScoreList.front(), r);  // newest first
    // Already on disk.
    ScoreList.clear();
    ASSERT_EQ(ReadScoreFile(), 2);
    EXPECT_EQ(ScoreList.front()->Name, "ANN");
    EXPECT_EQ(ScoreList.front()->Score, 777);
    EXPECT_EQ(ScoreList.front()->Timestamp, r->Timestamp);
    EXPECT_EQ(ScoreList.back()->Name, "old");

    ScoreScroll = 400;
    ScorePick = 1003;
    ResetScoreView();
    EXPECT_EQ(ScoreScroll, 0);
    EXPECT_EQ(ScorePick, 0);
}

TEST_F(ScoreFile, AGameThatCouldNotBeWrittenSurvivesTheReReadOfADisplayChange) {
    PlayerName = "OLD";
    ScoreList = {Make(1, MakeTimestampAt("01 Jan 2000", "00:00:00"), "OLD")};
    ASSERT_TRUE(WriteScoreFile());
    const std::string onDisk = Get("scores.dat");

    // The write after the game fails (a folder stands where the temporary
    // file goes, as a full disk or a read-only folder would refuse it).
    fs::create_directory("scores.dat.tmp");
    PlayerName = "NEW";
    ScoreRef r = FileScoreRecord(900, 1, 0);
    EXPECT_EQ(Get("scores.dat"), onDisk);

    // Reopening the display reads the file again: the game stays listed and
    // the name entered for it stays the default.
    EXPECT_EQ(ReadScoreFile(), 0);
    ASSERT_EQ(ScoreList.size(), 2u);
    EXPECT_EQ(ScoreList.front(), r);
    EXPECT_EQ(PlayerName, "NEW");
    EXPECT_NE(Get("Debug.txt").find("scores.dat is not read again"), std::string::npos);

    // Once a write goes through, the file is current and is read as usual.
    fs::remove("scores.dat.tmp");
    ASSERT_TRUE(WriteScoreFile());
    ScoreList.clear();
    ASSERT_EQ(ReadScoreFile(), 2);
    EXPECT_EQ(ScoreList.front()->Score, 900);
    EXPECT_EQ(ScoreList.front()->Name, "NEW");

    // A record the list no longer holds (the list was replaced) blocks nothing.
    fs::create_directory("scores.dat.tmp");
    FileScoreRecord(5, 1, 0);
    fs::remove("scores.dat.tmp");
    ScoreList.clear();
    EXPECT_EQ(ReadScoreFile(), 2);
}

TEST_F(ScoreFile, AnEarlierBackupIsNeverOverwritten) {
    // A file damaged once was kept as scores.dat.bak; now it is damaged again.
    Put("scores.dat.bak", "first damage");
    Put("scores.dat", "second damage");
    ScoreList = {Make(10, 10, "x")};
    EXPECT_EQ(ReadScoreFile(), 0);
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_EQ(Get("scores.dat.bak"), "first damage");
    EXPECT_EQ(Get("scores.dat.bak.1"), "second damage");
    EXPECT_NE(Get("Debug.txt").find("copied to scores.dat.bak.1"), std::string::npos);

    // The same damaged bytes seen again (the replacement could not be
    // written last time) are not copied a second time.
    Put("scores.dat", "second damage");
    EXPECT_EQ(ReadScoreFile(), 0);
    ASSERT_TRUE(WriteScoreFile());
    EXPECT_FALSE(fs::exists("scores.dat.bak.2"));
    EXPECT_EQ(Get("scores.dat").rfind("10|x|", 0), 0u);
    EXPECT_FALSE(fs::exists("scores.dat.bak.1.tmp"));
}

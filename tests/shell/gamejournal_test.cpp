// Game journals: the file's reader against damaged and hostile files, and
// through the real program a scripted game filed, kept in 418/games/ and
// verified by replaying it on its own, with each kind of forgery refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/gamejournal.h"
#include "shell/gamejournal.h"
#include "tests/support/program.h"

namespace fs = std::filesystem;

namespace {
GameJournal SampleJournal() {
    GameJournal j;
    j.header.rules = "0123456789abcdef";
    j.header.assets = "fedcba9876543210";
    j.header.mode = 2;
    j.header.name = "A\xc3\xa9 <b>";
    j.header.score = 12345;
    j.header.wave = 4;
    j.header.frames = 900;
    j.header.ms = 15000;
    j.header.token = "tok_123-x";
    j.header.practice = true;
    j.numbers = {{"random", 4660}, {"settings.7", -3}, {"big", (int64_t)1 << 40}};
    j.texts = {{"player", "Player"}};
    JournalData& s = j.streams;
    s.clockBase = 4000000000u;
    s.endFrames = 900;
    s.clock = {{15, 3}, {-2, 1}, {1, 600}};
    s.events = {{1, InputEvent{INPUT_MOUSE_MOVE, 0, 400, 300, false}},
                {1, InputEvent{INPUT_KEY_DOWN, 90, 0, 0, true}},
                {77, InputEvent{INPUT_MOUSE_MOVE, 0, -20, 100000, false}}};
    s.values = {0, -1, 2147483647};
    s.checks = {{300, 0x1122334455667788ull}, {900, 42}};
    return j;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}
}  // namespace

TEST(GameJournalFile, WhatIsWrittenReadsBackTheSame) {
    GameJournal j = SampleJournal();
    std::string bytes = EncodeGameJournal(j);
    GameJournal back;
    std::string error;
    ASSERT_TRUE(DecodeGameJournal(bytes, back, error)) << error;
    EXPECT_EQ(back.header.name, j.header.name);
    EXPECT_EQ(back.header.token, j.header.token);
    EXPECT_EQ(back.header.mode, 2);
    EXPECT_TRUE(back.header.practice);
    EXPECT_FALSE(back.header.autoplay);
    EXPECT_EQ(back.numbers, j.numbers);
    EXPECT_EQ(back.texts, j.texts);
    EXPECT_EQ(back.streams.clockBase, j.streams.clockBase);
    ASSERT_EQ(back.streams.clock.size(), 3u);
    EXPECT_EQ(back.streams.clock[1].delta, -2);
    EXPECT_EQ(back.streams.clock[2].count, 600u);
    ASSERT_EQ(back.streams.events.size(), 3u);
    EXPECT_EQ(back.streams.events[2].poll, 77u);
    EXPECT_EQ(back.streams.events[2].e.x, -20);
    EXPECT_EQ(back.streams.events[2].e.y, 100000);
    EXPECT_TRUE(back.streams.events[1].e.repeat);
    EXPECT_EQ(back.streams.values, j.streams.values);
    EXPECT_EQ(back.streams.checks, j.streams.checks);
    // The header is plain text a server reads without the program.
    EXPECT_EQ(bytes.rfind("wormlob2 game 1\nrules 0123456789abcdef\n", 0), 0u);
    EXPECT_NE(bytes.find("\nname 41c3a9203c623e\nscore 12345\n"), std::string::npos);
}

// Every damaged or hostile file is refused with a reason, never read as a
// game and never a crash.
TEST(GameJournalFile, DamagedOrHostileFilesAreRefused) {
    const std::string good = EncodeGameJournal(SampleJournal());
    size_t bodyAt = good.find("\n\n") + 2;
    std::string bomb = "wormlob2 game 1\nrules 0123456789abcdef\nassets fedcba9876543210\nmode easy\nname -\n"
                       "score 1\nwave 1\nframes 0\nms 0\ntoken -\npractice 0\nautoplay 0\n\n";
    {
        // Far more zeros when inflated than any game holds.
        std::string zeros(GameJournalMaxBody + 1024, '\0');
        uLongf size = compressBound((uLong)zeros.size());
        std::string packed(size, '\0');
        compress2((Bytef*)packed.data(), &size, (const Bytef*)zeros.data(), (uLong)zeros.size(), 9);
        packed.resize(size);
        bomb += packed;
    }
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"empty", "", "not a wormlob2 game journal"},
        {"a run journal", "wormlob2 journal 1\nc 0\n", "not a wormlob2 game journal"},
        {"a later format", Replace(good, "wormlob2 game 1", "wormlob2 game 2"), "reads format 1"},
        {"no end of header", good.substr(0, 60), "cut short"},
        {"body cut short", good.substr(0, good.size() - 7), "damaged or cut short"},
        {"no body", good.substr(0, bodyAt), "damaged or cut short"},
        {"body with junk after it", good + "x", "damaged or cut short"},
        {"a byte of the body changed", [&] {
             std::string b = good;
             b[bodyAt + 5] ^= 0x40;
             return b;
         }(), "damaged"},
        {"mode unknown", Replace(good, "mode hard", "mode nightmare"), "mode"},
        {"name not hex", Replace(good, "name 41c3a9203c623e", "name <script>"), "name"},
        {"score negative", Replace(good, "score 12345", "score -5"), "score"},
        {"score not a number", Replace(good, "score 12345", "score 1e9"), "score"},
        {"wave 0", Replace(good, "wave 4", "wave 0"), "wave"},
        {"token with a space", Replace(good, "token tok_123-x", "token a b"), "token"},
        {"frames unlike the body's", Replace(good, "frames 900", "frames 901"), "frame count"},
        {"a line missing", Replace(good, "wave 4\n", ""), "header line"},
        {"lines swapped", Replace(Replace(good, "score 12345\n", "SWAP"), "wave 4\n", "score 12345\n"), "header line"},
        {"a zip bomb", bomb, "damaged or cut short"},
        {"too large", std::string(GameJournalMaxFile + 1, 'w'), "larger than any game's"},
    };
    for (const Case& c : cases) {
        GameJournal j;
        std::string error;
        EXPECT_FALSE(DecodeGameJournal(c.bytes, j, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        EXPECT_TRUE(j.streams.events.empty() && j.numbers.empty()) << c.what;
    }
}

TEST(GameJournalFolder, KeepsTheNewestAndEachModesBest) {
    fs::path dir = fs::temp_directory_path() / ("wl2_games_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto write = [&](int n, int mode, long long score) {
        GameJournal j = SampleJournal();
        j.header.mode = mode;
        j.header.score = score;
        char name[64];
        std::snprintf(name, sizeof name, "20260101-%06d-x.w2g", n);
        std::ofstream(dir / name, std::ios::binary) << EncodeGameJournal(j);
        return std::string(name);
    };
    // 40 medium games with rising then falling scores, one easy game (old,
    // but its mode's best), and an unreadable file (old).
    std::string easy = write(0, 0, 5);
    std::ofstream(dir / "20260101-000001-junk.w2g") << "not a journal";
    std::vector<std::string> medium;
    for (int i = 0; i < 40; i++) medium.push_back(write(100 + i, 1, i < 20 ? 1000 + i : 10 - i));
    EXPECT_EQ(PruneGameJournals(dir.string()), 41 - 20 - 1 - 10 + 1);
    EXPECT_TRUE(fs::exists(dir / easy));
    EXPECT_FALSE(fs::exists(dir / "20260101-000001-junk.w2g"));
    for (int i = 0; i < 40; i++) {
        bool newest = i >= 20, best = i >= 10 && i < 20;  // scores 1010..1019
        EXPECT_EQ(fs::exists(dir / medium[i]), newest || best) << i;
    }
    fs::remove_all(dir);
}

namespace {
class GameJournalRun : public Program {
protected:
    // A Medium game played by a script: start, steer a little, press F3 only
    // when asked, let the game end, type nothing at the prompt but Enter.
    void WriteScript(bool practice) {
        std::ofstream script(root / "in.txt");
        script << "100 move 400 300\n9000 mouse down 1\n9050 mouse up 1\n";
        for (int t = 9300; t < 40000; t += 700) script << t << " move " << 200 + (t / 7) % 400 << " 500\n";
        script << "9600 mouse down 1\n9650 mouse up 1\n";
        if (practice) script << "12000 key down 114\n12050 key up 114\n";
        for (int t = 20000; t < 150000; t += 3000) script << t << " key down 13\n" << t + 50 << " key up 13\n";
    }
    fs::path PlayOne(bool practice) {
        WriteScript(practice);
        EXPECT_EQ(Run("--headless --virtual-clock --input in.txt --seed 11 --games 1"), 0) << Slurp(root / "out.txt");
        std::vector<fs::path> games;
        for (const auto& e : fs::directory_iterator(files / "418" / "games")) games.push_back(e.path());
        EXPECT_EQ(games.size(), 1u);
        return games.empty() ? fs::path() : games[0];
    }
    // Replays a journal in a fresh copy of the data folder; output in verify.txt.
    int Verify(const fs::path& journal) { return VerifyGameJournal(journal, root / "verify", root / "verify.txt"); }
    std::string Output() { return Slurp(root / "verify.txt"); }
    GameJournal Read(const fs::path& p) {
        GameJournal j;
        std::string error;
        EXPECT_TRUE(DecodeGameJournal(Slurp(p), j, error)) << error;
        return j;
    }
    fs::path Write(const GameJournal& j, const std::string& name) {
        fs::path p = root / name;
        std::ofstream(p, std::ios::binary) << EncodeGameJournal(j);
        return p;
    }
};
}  // namespace

// A player's game is filed with its journal, which replays on its own to the
// same record; every edit a forger could make is refused with its reason.
TEST_F(GameJournalRun, FiledGameVerifiesAndForgeriesAreRefused) {
    fs::path journal = PlayOne(false);
    ASSERT_FALSE(journal.empty());
    GameJournal j = Read(journal);
    std::vector<std::string> record = Lines(Slurp(files / "418" / "scores.dat"));
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record[0].substr(0, record[0].find('|')), std::to_string(j.header.score));
    EXPECT_GT(j.header.score, 0);
    EXPECT_EQ(j.header.mode, 1);
    EXPECT_FALSE(j.header.practice || j.header.autoplay);
    EXPECT_GT(j.header.frames, 500);
    // The virtual clock's frames take 15 ms each; the name prompt's waits add.
    EXPECT_GE(j.header.ms, j.header.frames * 15);

    ASSERT_EQ(Verify(journal), 0) << Output();
    EXPECT_NE(Output().find("verified mode=medium score=" + std::to_string(j.header.score) + " wave=" +
                            std::to_string(j.header.wave) + " frames=" + std::to_string(j.header.frames) +
                            " ms=" + std::to_string(j.header.ms) + " practice=0 autoplay=0 name=506c61796572"),
              std::string::npos)
        << Output();

    struct Forgery {
        const char* what;
        int status;
        const char* reason;
        void (*edit)(GameJournal&);
    } forgeries[] = {
        {"a higher score", 3, "another record", [](GameJournal& g) { g.header.score += 1000; }},
        {"another name", 3, "another record", [](GameJournal& g) { g.header.name = "Cheater"; }},
        {"a shorter game", 3, "another record", [](GameJournal& g) { g.header.ms -= 1000; }},
        {"a later wave", 3, "another record", [](GameJournal& g) { g.header.wave += 1; }},
        {"the pointer moved elsewhere", 3, "went differently",
         [](GameJournal& g) {
             for (auto& e : g.streams.events)
                 if (e.e.type == INPUT_MOUSE_MOVE && e.poll > 2000) e.e.x = 700 - e.e.x;
         }},
        {"input cut short", 3, "ran out",
         [](GameJournal& g) { g.streams.clock.resize(g.streams.clock.size() / 2); }},
        {"another version", 2, "another version", [](GameJournal& g) { g.header.rules = "0000000000000000"; }},
        {"other assets", 2, "other game assets", [](GameJournal& g) { g.header.assets = "0000000000000000"; }},
        {"a state table missing", 2, "lacks a valid \"random\"",
         [](GameJournal& g) { g.numbers.erase(g.numbers.begin()); }},
        {"a display switch out of range", 2, "lacks a valid \"settings.3\"",
         [](GameJournal& g) {
             for (auto& [name, v] : g.numbers)
                 if (name == "settings.3") v = 7;
         }},
        // The sound back end's index is this machine's own: a wild one is not
        // taken (it would index past the driver list).
        {"a sound driver index past the list", 0, "verified",
         [](GameJournal& g) {
             for (auto& [name, v] : g.numbers)
                 if (name == "settings.14") v = 99999;
         }},
    };
    for (const Forgery& f : forgeries) {
        GameJournal forged = j;
        f.edit(forged);
        EXPECT_EQ(Verify(Write(forged, "forged.w2g")), f.status) << f.what << ": " << Output();
        EXPECT_NE(Output().find(f.reason), std::string::npos) << f.what << ": " << Output();
        if (f.status != 0) {
            EXPECT_EQ(Output().find("verified"), std::string::npos) << f.what;
        }
    }
    std::string bytes = Slurp(journal);
    std::ofstream(root / "cut.w2g", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    EXPECT_EQ(Verify(root / "cut.w2g"), 2) << Output();
    EXPECT_NE(Output().find("wormlob2: the journal's body is damaged or cut short"), std::string::npos) << Output();
}

// F3 is a practice key: the game verifies, but says it was practice.
TEST_F(GameJournalRun, PracticeGameVerifiesAsPractice) {
    fs::path journal = PlayOne(true);
    ASSERT_FALSE(journal.empty());
    EXPECT_TRUE(Read(journal).header.practice);
    ASSERT_EQ(Verify(journal), 0) << Output();
    EXPECT_NE(Output().find(" practice=1 "), std::string::npos) << Output();
}

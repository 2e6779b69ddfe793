// Name entry in the real program, driven by an input script: a name typed
// past the score server's limit is filed, journalled and verified cut at 40
// characters, so the game can still be ranked.
#include <cstdio>
#include <fstream>

#include "tests/support/program.h"

namespace {
class NameEntryRun : public Program {};
}  // namespace

TEST_F(NameEntryRun, ANameTypedPastFortyCharactersIsFiledAtForty) {
    const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    const std::string typed = forty + "opqrstuvwxyz0123456789";
    {
        // A Medium game: the start button clicked until the title answers,
        // Escape, "Quit" on the pause screen, "Player" rubbed out, the long
        // name typed, Enter; Escape on the title.
        std::ofstream s(root / "in.txt");
        s << "100 move 400 300\n";
        for (int t = 9000; t <= 15000; t += 2000) s << t << " mouse down 1\n" << t + 300 << " mouse up 1\n";
        int keys[][2] = {{18000, 27}, {19000, 40}, {20000, 32}};
        for (auto& k : keys) s << k[0] << " key down " << k[1] << "\n" << k[0] + 400 << " key up " << k[1] << "\n";
        for (int i = 0; i < 8; i++) s << 23000 + 400 * i << " key down 8\n" << 23200 + 400 * i << " key up 8\n";
        s << "26500 text " << typed << "\n29000 key down 13\n29400 key up 13\n";
        s << "33000 key down 27\n33400 key up 27\n";
    }
    ASSERT_EQ(Run("--headless --virtual-clock --input in.txt", 180), 0) << Slurp(root / "out.txt");

    // The score file's record: the name, cut.
    std::string scores = Slurp(files / "418" / "scores.dat");
    EXPECT_NE(scores.find("|" + forty + "|"), std::string::npos) << scores;
    EXPECT_EQ(scores.find(forty + "o"), std::string::npos) << scores;

    // The game's journal claims the same name, and replays to it.
    fs::path journal;
    for (const auto& e : fs::directory_iterator(files / "418" / "games"))
        if (e.path().extension() == ".w2g") journal = e.path();
    ASSERT_FALSE(journal.empty());
    std::string hex;
    for (unsigned char c : forty) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    std::string bytes = Slurp(journal);
    EXPECT_NE(bytes.find("\nname " + hex + "\n"), std::string::npos) << bytes.substr(0, 300);
    ASSERT_EQ(VerifyGameJournal(journal, root / "verify", root / "verify.txt"), 0) << Slurp(root / "verify.txt");
    std::string verdict = Slurp(root / "verify.txt");
    EXPECT_NE(verdict.find("verified mode=medium"), std::string::npos) << verdict;
    // The name's field ends where the next field (or the line) begins.
    EXPECT_TRUE(verdict.find(" name=" + hex + " ") != std::string::npos ||
                verdict.find(" name=" + hex + "\n") != std::string::npos)
        << verdict;
}

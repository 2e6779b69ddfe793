#include "server/header.h"

#include <gtest/gtest.h>

namespace {
const char* kGood =
    "wormlob2 game 1\nrules 0123456789abcdef\nassets fedcba9876543210\nmode hard\nname 416e6e\nscore 1234\n"
    "wave 3\nframes 600\nms 10000\ntoken abc_DEF-12\npractice 0\nautoplay 1\n\nBODY";

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
}
}  // namespace

TEST(JournalHeader, ReadsEveryClaim) {
    JournalHeader h;
    ASSERT_EQ(ParseJournalHeader(kGood, HeaderLimits{}, h), "");
    EXPECT_EQ(h.rules, "0123456789abcdef");
    EXPECT_EQ(h.assets, "fedcba9876543210");
    EXPECT_EQ(h.mode, "hard");
    EXPECT_EQ(h.name, "Ann");
    EXPECT_EQ(h.nameHex, "416e6e");
    EXPECT_EQ(h.score, 1234);
    EXPECT_EQ(h.wave, 3);
    EXPECT_EQ(h.frames, 600);
    EXPECT_EQ(h.ms, 10000);
    EXPECT_EQ(h.token, "abc_DEF-12");
    EXPECT_FALSE(h.practice);
    EXPECT_TRUE(h.autoplay);
    EXPECT_EQ(std::string(kGood).substr(h.bodyOffset), "BODY");
}

TEST(JournalHeader, EmptyNameAndNoToken) {
    JournalHeader h;
    std::string s = Replace(Replace(kGood, "name 416e6e", "name -"), "token abc_DEF-12", "token -");
    ASSERT_EQ(ParseJournalHeader(s, HeaderLimits{}, h), "");
    EXPECT_EQ(h.name, "");
    EXPECT_EQ(h.token, "");
}

// Each slip a hand-edited or damaged header can have, with the words of
// the reason the server gives.
TEST(JournalHeader, RefusesEachMalformedLine) {
    struct Case {
        const char* from;
        const char* to;
        const char* reason;
    } cases[] = {
        {"wormlob2 game 1", "wormlob2 game 2", "another format version"},
        {"wormlob2 game 1", "wormlob3 game 1", "not a game journal"},
        {"rules 0123456789abcdef", "rules 0123456789ABCDEF", "\"rules\" value"},
        {"rules 0123456789abcdef", "rules 0123456789abcde", "\"rules\" value"},
        {"assets fedcba9876543210", "assets fedcba987654321g", "\"assets\" value"},
        {"mode hard", "mode Hard", "\"mode\" value"},
        {"name 416e6e", "name 416e6", "\"name\" value"},
        {"name 416e6e", "name 41 6e", "\"name\" value"},
        {"name 416e6e", "name ", "\"name\" value"},
        {"name 416e6e", "name 410a", "not allowed"},
        {"name 416e6e", "name 417c", "not allowed"},
        {"name 416e6e", "name 4185", "not allowed"},
        {"name 416e6e", "name 41414141414141414141414141414141414141414141414141414141414141414141414141414141"
                        "41", "longer than 40"},
        {"score 1234", "score -1", "\"score\" value"},
        {"score 1234", "score 01234", "\"score\" value"},
        {"score 1234", "score 1234567890123456", "\"score\" value"},
        {"score 1234", "score 12a", "\"score\" value"},
        {"wave 3", "wave 0", "wave is not at least 1"},
        {"frames 600", "frames 0", "no frames"},
        {"frames 600", "frames 216001", "longer than the 216000 frames"},
        {"ms 10000", "ms ", "\"ms\" value"},
        {"token abc_DEF-12", "token a.b", "\"token\" value"},
        {"token abc_DEF-12", "token 12345678901234567890123456789012345678901234567890123456789012345", "\"token\" value"},
        {"practice 0", "practice yes", "\"practice\" value"},
        {"autoplay 1", "autoplay 2", "\"autoplay\" value"},
        {"mode hard\n", "", "\"mode\" line is missing or out of order"},
        {"mode hard\nname 416e6e", "name 416e6e\nmode hard", "\"mode\" line is missing"},
        {"autoplay 1\n", "autoplay 1\nextra 1\n", "lines this server does not know"},
        {"\n\nBODY", "\n\n", "no body"},
        {"\n\nBODY", "\nBODY", "no header"},
    };
    for (const Case& c : cases) {
        JournalHeader h;
        std::string why = ParseJournalHeader(Replace(kGood, c.from, c.to), HeaderLimits{}, h);
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.from << " -> " << c.to << ": " << why;
    }
}

TEST(JournalHeader, NamesBecomeUtf8) {
    EXPECT_EQ(Latin1ToUtf8("Z\xe9\xff"), "Z\xc3\xa9\xc3\xbf");
    std::string bytes;
    ASSERT_TRUE(DecodeHex(EncodeHex("a\x01\xfe"), bytes));
    EXPECT_EQ(bytes, "a\x01\xfe");
}

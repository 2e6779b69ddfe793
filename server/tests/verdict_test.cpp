#include "server/verdict.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {
JournalHeader Claims() {
    JournalHeader h;
    h.mode = "easy";
    h.nameHex = "416e6e";
    h.score = 500;
    h.wave = 2;
    h.frames = 6000;
    h.ms = 100000;
    h.token = "t";
    return h;
}

ReplayOutcome Verified(const std::string& line) {
    ReplayOutcome o;
    o.kind = ReplayOutcome::EXITED;
    o.lastOut = line;
    return o;
}

const char* kHonest =
    "verified mode=easy score=500 wave=2 frames=6000 ms=100000 practice=0 autoplay=0 name=416e6e seed=77 "
    "fingerprint=0123456789abcdef";
const TokenInfo kToken{true, true, 1000, 77};
const int64_t kOnTime = 1000 + 100000;
}  // namespace

TEST(Verdict, RanksAnHonestGame) {
    Verdict v = Decide(Claims(), Verified(kHonest), kToken, kOnTime);
    EXPECT_EQ(v.status, Verdict::RANKED) << v.reason;
    EXPECT_EQ(v.fingerprint, "0123456789abcdef");
}

// The line of a game older than seeds given by the server still parses;
// the seed and fingerprint, when there, are exact.
TEST(Verdict, ReadsTheVerifiedLineOldAndNew) {
    VerifiedLine v;
    ASSERT_TRUE(ParseVerifiedLine(kHonest, v));
    EXPECT_EQ(v.seed, 77);
    EXPECT_EQ(v.fingerprint, "0123456789abcdef");
    const std::string old = "verified mode=easy score=500 wave=2 frames=6000 ms=100000 practice=0 autoplay=0 name=-";
    ASSERT_TRUE(ParseVerifiedLine(old, v));
    EXPECT_EQ(v.seed, -1);
    EXPECT_EQ(v.fingerprint, "");
    ASSERT_TRUE(ParseVerifiedLine(old + " seed=- fingerprint=ffffffffffffffff", v));
    EXPECT_EQ(v.seed, -1);
    EXPECT_EQ(v.fingerprint, "ffffffffffffffff");
    ASSERT_TRUE(ParseVerifiedLine(old + " seed=2147483647 fingerprint=ffffffffffffffff", v));
    EXPECT_EQ(v.seed, 2147483647);
    for (const char* tail : {" seed=5", " seed=5 fingerprint=", " seed=5 fingerprint=FFFFFFFFFFFFFFFF",
                             " seed=5 fingerprint=fffffffffffffff", " seed=5 fingerprint=fffffffffffffffff",
                             " seed=2147483648 fingerprint=ffffffffffffffff", " seed=-1 fingerprint=ffffffffffffffff",
                             " seed=x fingerprint=ffffffffffffffff", " fingerprint=ffffffffffffffff seed=5",
                             " seed=5 fingerprint=ffffffffffffffff more"})
        EXPECT_FALSE(ParseVerifiedLine(old + tail, v)) << tail;
}

// The seed its token gave, and a daily challenge's mode: the rules that
// keep a downloaded journal from ranking again under another token.
TEST(Verdict, AGameMustStartFromItsTokensSeed) {
    const std::string seedFault = "it did not start from the seed its session token gave";
    auto line = [](const std::string& from, const std::string& to) {
        std::string s = kHonest;
        return s.replace(s.find(from), from.size(), to);
    };
    const std::string oldLine = "verified mode=easy score=500 wave=2 frames=6000 ms=100000 practice=0 autoplay=0 name=416e6e";
    TokenInfo daily = kToken, dailyHard = kToken, oldToken{true, true, 1000};
    daily.challengeDate = dailyHard.challengeDate = "2026-12-08";
    daily.challengeMode = "easy";
    dailyHard.challengeMode = "hard";
    struct Case {
        const char* label;
        std::string line;
        TokenInfo token;
        const char* reason;  // "" when ranked
    } cases[] = {
        {"its own seed", kHonest, kToken, ""},
        {"another token's seed", line("seed=77", "seed=78"), kToken, seedFault.c_str()},
        {"a seed it chose", line("seed=77", "seed=-"), kToken, seedFault.c_str()},
        {"a journal from before seeds", oldLine, kToken, seedFault.c_str()},
        {"a token from before seeds", kHonest, oldToken, seedFault.c_str()},
        {"the daily challenge", kHonest, daily, ""},
        {"the daily challenge in another mode", kHonest, dailyHard, "it was not played in the mode of its daily challenge"},
    };
    for (const Case& c : cases) {
        Verdict v = Decide(Claims(), Verified(c.line), c.token, kOnTime);
        if (!*c.reason) {
            EXPECT_EQ(v.status, Verdict::RANKED) << c.label << ": " << v.reason;
        } else {
            EXPECT_EQ(v.status, Verdict::REJECTED) << c.label;
            EXPECT_EQ(v.reason, c.reason) << c.label;
        }
    }
}

// Every way a replay can refuse a game, each with its own reason.
TEST(Verdict, RejectsEachFault) {
    auto line = [](const std::string& from, const std::string& to) {
        std::string s = kHonest;
        return s.replace(s.find(from), from.size(), to);
    };
    auto exited = [](int code, const char* err) {
        ReplayOutcome o;
        o.kind = ReplayOutcome::EXITED;
        o.code = code;
        o.lastErr = err;
        return o;
    };
    ReplayOutcome timedOut, killed;
    timedOut.kind = ReplayOutcome::TIMED_OUT;
    killed.kind = ReplayOutcome::SIGNALED;
    killed.code = SIGXCPU;
    struct Case {
        const char* label;
        ReplayOutcome outcome;
        TokenInfo token;
        int64_t received;
        const char* reason;
    } cases[] = {
        {"malformed", exited(2, "wormlob2: the journal is cut short"), kToken, kOnTime,
         "cannot be replayed: \"the journal is cut short\""},
        {"diverged", exited(3, "wormlob2: the replay filed another record"), kToken, kOnTime,
         "does not match the journal: \"the replay filed another record\""},
        {"crashed", exited(134, ""), kToken, kOnTime, "failed with status 134"},
        {"time-out", timedOut, kToken, kOnTime, "did not finish"},
        {"over its CPU", killed, kToken, kOnTime, "signal XCPU (over its limits)"},
        {"no line", Verified("replayed"), kToken, kOnTime, "without confirming"},
        {"bad line", Verified(line("score=500", "score=5x0")), kToken, kOnTime, "without confirming"},
        {"score", Verified(line("score=500", "score=499")), kToken, kOnTime, "claims score 500 but its replay filed 499"},
        {"mode", Verified(line("mode=easy", "mode=hard")), kToken, kOnTime, "claims mode easy"},
        {"wave", Verified(line("wave=2", "wave=1")), kToken, kOnTime, "claims wave 2"},
        {"frames", Verified(line("frames=6000", "frames=6001")), kToken, kOnTime, "6000 frames"},
        {"ms", Verified(line("ms=100000", "ms=100001")), kToken, kOnTime, "100000 ms"},
        {"name", Verified(line("name=416e6e", "name=426f")), kToken, kOnTime, "another name"},
        {"flags", Verified(line("practice=0", "practice=1")), kToken, kOnTime, "practice or demo flags differ"},
        {"no token", Verified(kHonest), TokenInfo{false, false, 0}, kOnTime, "played offline"},
        {"unknown token", Verified(kHonest), TokenInfo{true, false, 0}, kOnTime, "not issued by this server"},
        {"too soon", Verified(kHonest), kToken, kOnTime - 1, "sooner after its start than its own length"},
    };
    for (const Case& c : cases) {
        Verdict v = Decide(Claims(), c.outcome, c.token, c.received);
        EXPECT_EQ(v.status, Verdict::REJECTED) << c.label;
        EXPECT_NE(v.reason.find(c.reason), std::string::npos) << c.label << ": " << v.reason;
    }
}

TEST(Verdict, PracticeDemoAndFastClockAreRefusedWhenClaimed) {
    JournalHeader practice = Claims(), demo = Claims(), fast = Claims();
    practice.practice = true;
    demo.autoplay = true;
    std::string s = kHonest;
    EXPECT_NE(Decide(practice, Verified(s.replace(s.find("practice=0"), 10, "practice=1")), kToken, kOnTime)
                  .reason.find("practice keys"),
              std::string::npos);
    s = kHonest;
    EXPECT_NE(Decide(demo, Verified(s.replace(s.find("autoplay=0"), 10, "autoplay=1")), kToken, kOnTime)
                  .reason.find("demo player"),
              std::string::npos);
    // 6000 frames of the game's shortest pacing, 14.67 ms, are 88000 ms; a
    // little less passes, a 60 Hz pace with room to spare.
    EXPECT_EQ(FastestAllowedMs(6000), 88000 - 440 - 50);
    fast.ms = FastestAllowedMs(6000);
    s = "verified mode=easy score=500 wave=2 frames=6000 ms=" + std::to_string(fast.ms) +
        " practice=0 autoplay=0 name=416e6e seed=77 fingerprint=0123456789abcdef";
    EXPECT_EQ(Decide(fast, Verified(s), kToken, kOnTime).status, Verdict::RANKED);
    fast.ms -= 1;
    s = "verified mode=easy score=500 wave=2 frames=6000 ms=" + std::to_string(fast.ms) +
        " practice=0 autoplay=0 name=416e6e seed=77 fingerprint=0123456789abcdef";
    EXPECT_NE(Decide(fast, Verified(s), kToken, kOnTime).reason.find("faster than the frame pacing"), std::string::npos);
}

TEST(Verdict, AReplayThatDidNotStartOrWasStoppedIsTriedAgain) {
    ReplayOutcome o;
    o.lastErr = "cannot run the game";
    EXPECT_EQ(Decide(Claims(), o, kToken, kOnTime).status, Verdict::RETRY);
    o.kind = ReplayOutcome::SIGNALED;
    o.code = SIGTERM;
    EXPECT_EQ(Decide(Claims(), o, kToken, kOnTime).status, Verdict::RETRY);
}

// The server's own troubles never count against a game; only what the
// journal's replay did does.
TEST(Verdict, OnlyTheServersOwnTroublesAreNotTheGames) {
    auto outcome = [](ReplayOutcome::Kind kind, int code, const char* err) {
        ReplayOutcome o;
        o.kind = kind;
        o.code = code;
        o.lastErr = err;
        return o;
    };
    struct Case {
        const char* label;
        ReplayOutcome outcome;
        bool serverTrouble;
        Verdict::Status status;
    } cases[] = {
        {"no descriptors", outcome(ReplayOutcome::NOT_STARTED, 0, "pipe: Too many open files"), true, Verdict::RETRY},
        {"full work folder", outcome(ReplayOutcome::NOT_STARTED, 0, "cannot make a folder in \"/w\": No space left"),
         true, Verdict::RETRY},
        {"no assets", outcome(ReplayOutcome::EXITED, 1, "wormlob2: cannot find the data folder"), true, Verdict::RETRY},
        {"stopped from outside", outcome(ReplayOutcome::SIGNALED, SIGTERM, ""), false, Verdict::RETRY},
        {"unreadable journal", outcome(ReplayOutcome::EXITED, 2, "wormlob2: damaged"), false, Verdict::REJECTED},
        {"diverged", outcome(ReplayOutcome::EXITED, 3, "wormlob2: replay stopped"), false, Verdict::REJECTED},
        {"crashed", outcome(ReplayOutcome::SIGNALED, SIGSEGV, ""), false, Verdict::REJECTED},
        {"over its CPU", outcome(ReplayOutcome::SIGNALED, SIGXCPU, ""), false, Verdict::REJECTED},
        {"timed out", outcome(ReplayOutcome::TIMED_OUT, 0, ""), false, Verdict::REJECTED},
        {"odd status", outcome(ReplayOutcome::EXITED, 42, ""), false, Verdict::REJECTED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ServerTrouble(c.outcome), c.serverTrouble) << c.label;
        EXPECT_EQ(Decide(Claims(), c.outcome, kToken, kOnTime).status, c.status) << c.label;
    }
}

namespace {
bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        size_t len = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
        if (len == 0 || i + len > s.size() || (len == 2 && c < 0xc2)) return false;
        for (size_t k = 1; k < len; k++)
            if (((unsigned char)s[i + k] & 0xc0) != 0x80) return false;
        i += len;
    }
    return true;
}
}  // namespace

// Whatever a replay prints, the reason is the server's sentence with the
// replay's words quoted after it: valid UTF-8, no control characters, short.
TEST(Verdict, AReplaysWordsAreQuotedNeverTakenAsTheServers) {
    struct Case {
        const char* label;
        int code;
        std::string err;
        const char* starts;
        const char* quoted;
    } cases[] = {
        {"raw bytes of a journal's name", 2, "wormlob2: the journal's input.0\xff\xfe is out of range",
         "the journal cannot be replayed: \"", "\"the journal's input.0 is out of range\""},
        {"a forged announcement", 3, "wormlob2: Your game is ranked #1 - collect your prize at http://x\r\nranked",
         "the replay does not match the journal: \"",
         "\"Your game is ranked #1 - collect your prize at http://x ranked\""},
        {"silence", 2, "", "the journal cannot be replayed: no reason given", nullptr},
        {"only broken bytes", 2, "\xff\xfe\x80\xc3", "the journal cannot be replayed: no reason given", nullptr},
        {"a long line", 3, "wormlob2: " + std::string(5000, 'x'), "the replay does not match the journal: \"", nullptr},
        {"a terminal escape", 2, "\x1b]0;owned\x07\x1b[2J", "the journal cannot be replayed: \"", "\"]0;owned [2J\""},
    };
    for (const Case& c : cases) {
        ReplayOutcome o;
        o.kind = ReplayOutcome::EXITED;
        o.code = c.code;
        o.lastErr = c.err;
        Verdict v = Decide(Claims(), o, kToken, kOnTime);
        EXPECT_EQ(v.status, Verdict::REJECTED) << c.label;
        EXPECT_EQ(v.reason.rfind(c.starts, 0), 0u) << c.label << ": " << v.reason;
        if (c.quoted) {
            EXPECT_NE(v.reason.find(c.quoted), std::string::npos) << c.label << ": " << v.reason;
        }
        EXPECT_TRUE(ValidUtf8(v.reason)) << c.label;
        EXPECT_LE(v.reason.size(), 300u) << c.label;
        for (unsigned char ch : v.reason) EXPECT_GE(ch, 32) << c.label;
    }
}

#include "server/logtext.h"

TEST(LogText, NoClientCanStartALineOrWriteRawBytes) {
    EXPECT_EQ(LogEscape("/api/v1/games/1%0a\nverify game=999 result=ranked"),
              "/api/v1/games/1%0a\\x0averify game=999 result=ranked");
    EXPECT_EQ(LogEscape(std::string("a\xff\xfe\\b\r", 6)), "a\\xff\\xfe\\\\b\\x0d");
    EXPECT_EQ(LogEscape(std::string(400, 'x'), 10), "xxxxxxxxxx...");
}

TEST(LogText, DetailsAreValidPrintableUtf8InQuotes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"input.0\xff\xfe is out of range", "\"input.0 is out of range\""},   // broken bytes dropped
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},                                    // valid UTF-8 kept
        {"\xc0\xaf overlong", "\"overlong\""},                                   // overlong refused
        {"\xed\xa0\x80 surrogate", "\"surrogate\""},                             // surrogate refused
        {"line\nbreak\t\ttab", "\"line break tab\""},                            // controls fold to one space
        {"\xe2\x80\xa8sep", "\"sep\""},                                          // U+2028 is a line break too
        {"", "\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(QuotedDetail(c.in), c.out) << c.in;
    std::string longText(500, 'a');
    std::string q = QuotedDetail(longText);
    EXPECT_EQ(q.size(), 200u + 5u);  // quotes and "..."
    // A multi-byte character is never cut in half.
    std::string accents;
    for (int i = 0; i < 300; i++) accents += "\xc3\xa9";
    q = QuotedDetail(accents, 7);
    EXPECT_EQ(q, "\"" + std::string("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9") + "...\"");
}

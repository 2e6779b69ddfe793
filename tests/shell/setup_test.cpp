#include "shell/setup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/system.h"
#include "shell/log.h"
#include "shell/startup.h"
#include "shell/text.h"

namespace fs = std::filesystem;

namespace {
std::vector<std::string> g_setCalls;
bool g_openalOk = true;
}  // namespace

class Setup : public ::testing::Test {
protected:
    fs::path dir, old;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() / ("wl2_setup_" + std::to_string(getpid()));
        fs::create_directories(dir / "418");
        fs::current_path(dir);
        std::memset(Settings, 0, sizeof Settings);
        std::memset(Keys, 0, sizeof Keys);
        SetDefaultSettings();
        AudioDriverNames = {"OpenAL", "FreeAudio", "FreeAudio Multimedia", "Null"};
        g_setCalls.clear();
        g_openalOk = true;
        AudioInstaller a;
        a.exists = [](const std::string& n) {
            for (auto& d : AudioDriverNames)
                if (UpperText(d) == UpperText(n)) return true;
            return false;
        };
        a.set = [](const std::string& n) {
            g_setCalls.push_back(n);
            return true;
        };
        a.enableOpenAL = [] { return g_openalOk; };
        SetAudioInstaller(a);
        OpenLog("Debug.txt");
    }
    void TearDown() override {
        CloseLog();
        ResetAudioInstaller();
        fs::current_path(old);
        fs::remove_all(dir);
    }
    static void Put(const std::string& text) { std::ofstream("Setup.ini", std::ios::binary) << text; }
    static std::string Get(const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST(FieldOf, Fields) {
    EXPECT_EQ(FieldOf("Width = 800", "=", 1), "Width ");
    EXPECT_EQ(FieldOf("Width = 800", "=", 2), " 800");
    EXPECT_EQ(FieldOf("  ESS  ", "=", 1), "ESS");
    EXPECT_EQ(FieldOf("ESS", "=", 2), "ESS");  // no separator: whole line again
    EXPECT_EQ(FieldOf("a=b=c", "=", 2), "b");
    EXPECT_EQ(FieldOf("a|b|c", "|", 3), "c");
    EXPECT_EQ(FieldOf("a|b", "|", 3), "-+-");
    EXPECT_EQ(FieldOf("a|b", "|", 8), "-+-");
    EXPECT_EQ(FieldOf("a|", "|", 2), "");
    EXPECT_EQ(FieldOf("", "=", 1), "");
    EXPECT_EQ(FieldOf("", "=", 2), "");
    EXPECT_EQ(FieldOf("12|ANN|0|99|0|1|0|0", "|", 8), "0");
    EXPECT_EQ(FieldOf("12|ANN|0|99|0|1|0|0", "|", 2), "ANN");
}

namespace {
// Field n found the long way: step over n - 1 separators from the start,
// then cut up to the next one. The one-pass splitter must agree with it.
std::string FieldTheLongWay(const std::string& raw, const std::string& sep, int n) {
    std::string text = TrimText(raw);
    auto instr = [&](long start) -> long {
        if ((size_t)(start - 1) > text.size()) return 0;
        size_t p = text.find(sep, (size_t)(start - 1));
        return p == std::string::npos ? 0 : (long)p + 1;
    };
    long start = 1, previous = 0;
    for (int i = 1; i < n; i++) {
        long p = instr(start);
        if (p + 1 <= previous) return "-+-";
        start = previous = std::max(previous, p + 1);
    }
    long length = instr(start) - start;
    if ((size_t)(start - 1) >= text.size()) return "";
    if (length < 0) return text.substr((size_t)(start - 1));
    return text.substr((size_t)(start - 1), (size_t)length);
}
}  // namespace

TEST(FieldOf, OnePassAgreesWithFieldByField) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    const char alphabet[] = "a|=  \t\x01";
    for (int line = 0; line < 4000; line++) {
        std::string text;
        for (int k = (int)(next() % 24); k > 0; k--) text += alphabet[next() % (sizeof alphabet - 1)];
        for (std::string sep : {"|", "=", "||"}) {
            std::vector<std::string> all = FieldsOf(text, sep, 32);
            ASSERT_EQ(all.size(), 32u);
            for (int n = 1; n <= 32; n++)
                ASSERT_EQ(all[(size_t)n - 1], FieldTheLongWay(text, sep, n)) << "'" << text << "' " << sep << " " << n;
            int n = 1 + (int)(next() % 32);
            ASSERT_EQ(FieldOf(text, sep, n), FieldTheLongWay(text, sep, n));
        }
    }
    EXPECT_TRUE(FieldsOf("a|b", "|", 0).empty());
}

TEST(AudioDefault, PrefersDirectSoundThenOpenALThenTheMixer) {
    std::vector<std::string> full = {"OpenAL", "FreeAudio", "FreeAudio Multimedia",
                                     "FreeAudio DirectSound", "DirectSound", "Null"};
    EXPECT_EQ(full[DefaultAudioDriverIndex(full)], "DirectSound");
    std::vector<std::string> noDs = {"OpenAL", "FreeAudio", "FreeAudio Multimedia", "Null"};
    EXPECT_EQ(noDs[DefaultAudioDriverIndex(noDs)], "OpenAL");
    std::vector<std::string> noAl = {"FreeAudio", "FreeAudio Multimedia", "Null"};
    EXPECT_EQ(noAl[DefaultAudioDriverIndex(noAl)], "FreeAudio");
    EXPECT_EQ(DefaultAudioDriverIndex({"Null"}), -1);
    EXPECT_EQ(DefaultAudioDriverIndex({}), -1);
}

TEST_F(Setup, SaveWritesTheExactBytes) {
    Settings[7] = 1;
    Settings[14] = 1;
    Keys[99] = 255;
    ASSERT_TRUE(fs::exists("418"));
    ASSERT_TRUE(ChangeDir("418/"));
    ASSERT_TRUE(SaveSetup());
    // SaveSetup comes back into the game folder.
    EXPECT_EQ(fs::current_path().filename(), "418");
    ChangeDir("..");
    const std::string expect =
        "[Graphics]\r\n"
        "Fullscreen = False\r\n"
        "GFX Engine = OpenGL\r\n"
        "Width=800\r\n"
        "Height=600\r\n"
        "ESS=1 ; This is a slow system, and things must run a wee bit slower for it.  Awww..\r\n"
        "\r\n"
        "[Audio]\r\n"
        "Master = 50\r\n"
        "Sound = 50\r\n"
        "Music = 50\r\n"
        "AudioDriver = FreeAudio\r\n"
        "; AudioDriver = OpenAL\r\n"
        "; AudioDriver = FreeAudio\r\n"
        "; AudioDriver = FreeAudio Multimedia\r\n"
        "; AudioDriver = Null\r\n"
        "\r\n"
        "[Controls]\r\n"
        "Key=0,38\r\n"
        "Key=3,37\r\n"
        "Key=5,39\r\n"
        "Key=8,40\r\n"
        "Key=10,90\r\n"
        "Key=11,88\r\n"
        "Key=12,67\r\n"
        "Key=13,86\r\n"
        "Key=99,255\r\n";
    EXPECT_EQ(Get("Setup.ini"), expect);
    EXPECT_FALSE(fs::exists("Setup.ini.tmp"));
}

TEST_F(Setup, RoundTripReproducesEverySlot) {
    Settings[1] = 1;
    Settings[3] = 2;
    Settings[5] = 1600;
    Settings[6] = 900;
    Settings[7] = 1;
    Settings[11] = 77;
    Settings[12] = 0;
    Settings[13] = 100;
    Settings[14] = 2;
    for (int s = 0; s < 100; s += 7) Keys[s] = 300 + s;  // above 255 too
    Keys[0] = 0;                                           // unbound default
    int savedS[100], savedK[101];
    std::memcpy(savedS, Settings, sizeof Settings);
    std::memcpy(savedK, Keys, sizeof Keys);
    ASSERT_TRUE(WriteSetupHere());

    std::memset(Settings, 0, sizeof Settings);
    std::memset(Keys, 0, sizeof Keys);
    SetDefaultSettings();
    Keys[0] = 0;  // the file cannot say "unbind"; it only rebinds
    LoadSetup();
    for (int s : {1, 3, 5, 6, 7, 11, 12, 13, 14}) EXPECT_EQ(Settings[s], savedS[s]) << "slot " << s;
    for (int k = 0; k < 100; k++)
        if (savedK[k] > 0) { EXPECT_EQ(Keys[k], savedK[k]) << "key " << k; }
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls[0], "FreeAudio Multimedia");
}

TEST_F(Setup, TrickyLines) {
    Put("fullscreen = on\r\n"
        "Fullscreen = False\r\n"
        "GFX Engine = DX9\r\n"
        "GFX Engine = OpenGL\r\n"
        "Width=-1024\r\n"
        "height = 768abc\r\n"
        "ESS=0\r\n"
        "Key=0,77\r\n"
        "Key=12\r\n"
        "Key=100,38\r\n"
        "Key=-3,65\r\n"
        "master = $20\r\n"
        "SOUND = %101\r\n"
        "Music = 5\r\n"
        "Music = 6\r\n"
        "; Width = 4\r\n"
        "[Audio]\r\n");
    LoadSetup();
    EXPECT_EQ(Settings[1], 1);
    EXPECT_EQ(Settings[3], 1);
    EXPECT_EQ(Settings[5], 1024);
    EXPECT_EQ(Settings[6], 768);
    EXPECT_EQ(Settings[7], 1);
    EXPECT_EQ(Keys[0], 77);
    EXPECT_EQ(Keys[12], 12);
    EXPECT_EQ(Keys[3], 65);
    EXPECT_EQ(Keys[100], 0);
    EXPECT_EQ(Settings[11], 32);
    EXPECT_EQ(Settings[12], 5);
    EXPECT_EQ(Settings[13], 6);
    std::string log = Get("Debug.txt");
    EXPECT_NE(log.find("\tReading Setup File\r\n\tSetting to Fullscreen\r\n\tDirectX 9 Mode\r\n"
                       "\tAssuming Emergency Slow System values.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\tRequested Resolution : 1024x768\r\n\tSetup Loaded\r\n"), std::string::npos);
}

TEST_F(Setup, BareEssAndEmptyFile) {
    Put("ESS");
    LoadSetup();
    EXPECT_EQ(Settings[7], 1);

    Settings[7] = 0;
    Put("");
    LoadSetup();
    EXPECT_EQ(Settings[7], 0);
    EXPECT_EQ(Settings[5], 800);
    // The empty file was still read (and the default driver rule applied).
    EXPECT_NE(Get("Debug.txt").find("\tReading Setup File"), std::string::npos);
    EXPECT_EQ(Settings[14], 0);
}

TEST_F(Setup, AudioDriverLineRules) {
    // Names differing only in case do not match, and the default rule is off.
    AudioDriverNames = {"FreeAudio", "OpenAL", "Null"};
    Put("AudioDriver = openal\r\n");
    LoadSetup();
    EXPECT_EQ(Settings[14], 0);
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls.back(), "FreeAudio");

    // Unknown name: slot 14 stays, default rule suppressed.
    Settings[14] = 2;
    Put("AudioDriver = Nothing\r\n");
    LoadSetup();
    EXPECT_EQ(Settings[14], 2);

    // No line at all: the first "FREE" or "OPENAL" name wins; here FreeAudio.
    g_setCalls.clear();
    fs::remove("Setup.ini");
    Settings[14] = 2;
    LoadSetup();
    EXPECT_EQ(Settings[14], 0);
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls[0], "FreeAudio");

    // OpenAL first: chosen, but installed only when OpenAL devices can be
    // enabled; otherwise the media layer's default stays.
    AudioDriverNames = {"Null", "OpenAL", "FreeAudio"};
    g_setCalls.clear();
    g_openalOk = false;
    LoadSetup();
    EXPECT_EQ(Settings[14], 1);
    EXPECT_TRUE(g_setCalls.empty());
    g_openalOk = true;
    LoadSetup();
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls[0], "OpenAL");
    std::string log = Get("Debug.txt");
    EXPECT_NE(log.find("Setting Audio Driver\r\nSet Audio Driver\r\n\r\n"), std::string::npos);
}

TEST_F(Setup, MissingFileKeepsDefaultsAndLogs800x600) {
    LoadSetup();
    EXPECT_EQ(Settings[5], 800);
    EXPECT_EQ(Settings[6], 600);
    EXPECT_EQ(Settings[14], 0);
    std::string log = Get("Debug.txt");
    EXPECT_EQ(log.find("Reading Setup File"), std::string::npos);
    EXPECT_NE(log.find("\tRequested Resolution : 800x600"), std::string::npos);
}

TEST_F(Setup, FailedSaveKeepsTheOldFile) {
    Put("Width=1024\r\n");
    fs::create_directory("Setup.ini.tmp");  // blocks the temporary file
    ChangeDir("418/");
    EXPECT_FALSE(SaveSetup());
    EXPECT_EQ(fs::current_path().filename(), "418");
    ChangeDir("..");
    EXPECT_EQ(Get("Setup.ini"), "Width=1024\r\n");
    EXPECT_NE(Get("Debug.txt").find("Could not write Setup.ini"), std::string::npos);
}

TEST_F(Setup, LogBannerIsExact) {
    CloseLog();
    std::string log = Get("Debug.txt");
    std::string rule(28, '-');
    std::string banner = "Brannoc's Tarnwick Engine\r\n" + rule + "\r\nWeek #418\r\n" + rule + "\r\n" +
                         AppTitle() + "\r\n" + rule + "\r\n\r\n";
    EXPECT_EQ(log.substr(0, banner.size()), banner);
    EXPECT_EQ(AppTitle().rfind("#418 : Wormlob 2 ", 0), 0u);
    OpenLog("Debug.txt");
}

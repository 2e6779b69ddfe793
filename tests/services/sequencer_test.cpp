#include "services/sequencer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/system.h"
#include "shell/framehub.h"
#include "shell/log.h"
#include "shell/setup.h"

namespace fs = std::filesystem;

namespace {
struct Hit {
    int frame, slot, drum;
};
std::vector<Hit> g_hits;
int g_frame = 0;

// A short 16-bit mono PCM wave file.
void WriteWav(const std::string& path, int samples) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write((const char*)&v, 4); };
    auto u16 = [&](uint16_t v) { f.write((const char*)&v, 2); };
    f.write("RIFF", 4);
    u32(36 + samples * 2);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    f.write("data", 4);
    u32(samples * 2);
    for (int i = 0; i < samples; i++) u16((uint16_t)((i % 50) * 300));
}
}  // namespace

class Sequencer : public ::testing::Test {
protected:
    void SetUp() override {
        SequencerRunning = 0;
        SequencerClock = 0;
        NextStepFrame = 1;
        StepFrames = 6;
        BarBeats = 8;
        for (int t = 0; t < 5; t++) TrackOn[t] = TrackStep[t] = 0;
        for (auto& s : DrumSounds) s.reset();
        g_hits.clear();
        g_frame = 0;
        DrumHitHook = [](int slot, int drum) { g_hits.push_back({g_frame, slot, drum}); };
    }
    void TearDown() override {
        DrumHitHook = nullptr;
        SequencerRunning = 0;
        for (auto& s : DrumSounds) s.reset();
    }
    static void LoadAll() {
        for (int i = 1; i <= 6; i++) DrumSounds[i] = std::make_shared<TSound>();
    }
    static void Ticks(int n) {
        for (int i = 0; i < n; i++) {
            g_frame++;
            SequencerTick();
        }
    }
};

TEST_F(Sequencer, AtRestTicksOnlyRewindTheClock) {
    LoadAll();
    SequencerClock = 77;
    NextStepFrame = 13;
    Ticks(1000);
    EXPECT_EQ(SequencerClock, 0);
    EXPECT_EQ(NextStepFrame, 1);
    EXPECT_TRUE(g_hits.empty());
}

TEST_F(Sequencer, FirstBarPlaysTrackOneOnlyEverySixFrames) {
    LoadAll();
    StartSequencer();
    EXPECT_EQ(DrumPatterns[1], "1   2   1   2   1   2   1   2   ");
    EXPECT_EQ(DrumPatterns[4].size(), 32u);
    Ticks(1);
    ASSERT_EQ(g_hits.size(), 1u);  // the first step plays on the first tick
    EXPECT_EQ(g_hits[0].drum, 1);
    EXPECT_EQ(g_hits[0].slot, 2);
    Ticks(32 * 6 - 1);  // rest of the first bar
    ASSERT_EQ(g_hits.size(), 8u);
    for (size_t i = 0; i < g_hits.size(); i++) {
        EXPECT_EQ(g_hits[i].frame, 1 + (int)i * 24);  // every fourth step
        EXPECT_EQ(g_hits[i].drum, i % 2 ? 2 : 1);
    }
    EXPECT_EQ(TrackStep[1], 31);
    EXPECT_EQ(TrackOn[4], 0);
}

TEST_F(Sequencer, LaterBarsFollowTheTracksSwitchedOnAtEachWrap) {
    LoadAll();
    SeedRandom(1234);
    StartSequencer();
    Ticks(32 * 6);
    int combos = 0;
    for (int bar = 2; bar <= 12; bar++) {
        g_hits.clear();
        Ticks(32 * 6);
        int on2 = TrackOn[2], on3 = TrackOn[3], on4 = TrackOn[4];
        combos |= 1 << (on2 + 2 * on3 + 4 * on4);
        int want[7] = {};
        want[1] = 4;
        want[2] = 4;
        want[4] = on2 ? 4 : 0;
        want[3] = on3 ? 4 : 0;
        want[5] = on4 ? 2 : 0;
        int got[7] = {};
        for (auto& h : g_hits) got[h.drum]++;
        for (int d = 1; d <= 6; d++) EXPECT_EQ(got[d], want[d]) << "bar " << bar << " drum " << d;
        // All tracks wrap together on the bar's first tick.
        EXPECT_EQ(TrackStep[1], 31);
        EXPECT_EQ(TrackStep[4], 31);
    }
    EXPECT_GT(__builtin_popcount(combos), 2);  // the choice really varies
}

TEST_F(Sequencer, MissingSamplesPlayNothingAndStoppingRewinds) {
    DrumSounds[1] = std::make_shared<TSound>();  // drum 2 missing
    StartSequencer();
    Ticks(32 * 6);
    ASSERT_EQ(g_hits.size(), 4u);
    for (auto& h : g_hits) EXPECT_EQ(h.drum, 1);
    SequencerRunning = 0;
    Ticks(1);
    EXPECT_EQ(SequencerClock, 0);
    EXPECT_EQ(NextStepFrame, 1);
}

class DrumFiles : public ::testing::Test {
protected:
    fs::path dir, old;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() / ("wl2_drums_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "418");
        fs::current_path(dir);
        OpenLog("Debug.txt");
        ChangeDir("418/");
        UseVirtualClock(1000);
        SetAudioDriver("Null");
        std::memset(Settings, 0, sizeof Settings);
        SetDefaultSettings();
        for (auto& s : DrumSounds) s.reset();
    }
    void TearDown() override {
        for (auto& c : Channels) c.reset();
        for (auto& s : DrumSounds) s.reset();
        ShutdownAudio();
        CloseLog();
        UseRealClock();
        fs::current_path(old);
        fs::remove_all(dir);
    }
    std::string Log() {
        std::ifstream f(dir / "Debug.txt", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST_F(DrumFiles, LoadsThePresentSamplesAndReturnsToTheGameFolder) {
    fs::create_directories(dir / "Instruments");
    WriteWav((dir / "Instruments" / "d1.wav").string(), 2205);
    WriteWav((dir / "Instruments" / "d3.wav").string(), 2205);
    fs::path here = fs::current_path();
    LoadDrumSounds();
    EXPECT_EQ(fs::current_path(), here);
    EXPECT_TRUE(DrumSounds[1]);
    EXPECT_FALSE(DrumSounds[2]);
    EXPECT_TRUE(DrumSounds[3]);
    EXPECT_FALSE(DrumSounds[6]);
    EXPECT_NE(Log().find("\r\nLoading Instruments\r\n\tDrums..\r\n\r\n\r\n"), std::string::npos);
}

TEST_F(DrumFiles, NoInstrumentsFolderLeavesEverySlotEmpty) {
    fs::path here = fs::current_path();
    LoadDrumSounds();
    EXPECT_EQ(fs::current_path(), here);
    for (int i = 1; i <= 6; i++) EXPECT_FALSE(DrumSounds[i]);
}

TEST_F(DrumFiles, EachHitCutsOffThePreviousOne) {
    WriteWav("d.wav", 22050);  // one second
    SoundRef s = LoadSound("d.wav", 0);
    ASSERT_TRUE(s);
    PlayDrumOnSlot(2, s);
    ChannelRef first = Channels[2];
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->Playing());
    AdvanceVirtualClock(100);
    PlayDrumOnSlot(2, s);
    ASSERT_TRUE(Channels[2]);
    EXPECT_NE(Channels[2], first);
    EXPECT_FALSE(first->Playing());
    EXPECT_TRUE(Channels[2]->Playing());
}

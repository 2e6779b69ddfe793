// The "FreeAudio" back end end to end on a real SDL device: SDL's "disk"
// audio driver writes whatever the mixer thread delivers to a file, in real
// time, which the test then measures.

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/system.h"
#include "tests/support/audio_sounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

SoundRef Tone(double freq, double seconds) { return LoadTone(22050, 1, freq, seconds); }

struct Stretch {
    int from, to;  // frames
};

// Stretches of sound separated by at least gap frames of exact silence.
std::vector<Stretch> SoundingRuns(const std::vector<float>& s, int gap) {
    std::vector<Stretch> runs;
    const int frames = int(s.size() / 2);
    int last = -gap - 1;
    for (int i = 0; i < frames; ++i) {
        if (s[2 * i] == 0.0f && s[2 * i + 1] == 0.0f) continue;
        if (i - last > gap) runs.push_back({i, i + 1});
        runs.back().to = i + 1;
        last = i;
    }
    return runs;
}

double Rms(const std::vector<float>& s, int ch, const Stretch& r) {
    double sum = 0;
    for (int i = r.from; i < r.to; ++i) sum += double(s[2 * i + ch]) * s[2 * i + ch];
    return std::sqrt(sum / std::max(1, r.to - r.from));
}

int Crossings(const std::vector<float>& s, int ch, const Stretch& r) {
    int n = 0;
    for (int i = r.from + 1; i < r.to; ++i) {
        if ((s[2 * (i - 1) + ch] < 0) != (s[2 * i + ch] < 0)) ++n;
    }
    return n;
}

}  // namespace

TEST(MixerOnSdlDiskDevice, WritesTheTonesAsPlayed) {
    const std::string path = std::string(WORMLOB_BINARY_DIR) + "/audio_disk_output.raw";
    std::remove(path.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    UseRealClock();

    ASSERT_TRUE(SetAudioDriver("FreeAudio"));
    ASSERT_TRUE(AudioDeviceOpen());
    const int rate = AudioMixRate();
    ASSERT_GT(rate, 8000);

    SleepMs(50);  // some silence first
    ChannelRef ch = CueSound(Tone(441, 0.3), AllocChannel());
    ASSERT_TRUE(ch);
    ch->SetVolume(0.5f);
    ch->SetPan(0.0f);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    ASSERT_TRUE(WaitUntilDone(ch, 5000)) << "a 0.3 s sound must end";

    SleepMs(100);
    ChannelRef left = CueSound(Tone(441, 0.2), AllocChannel());
    left->SetPan(-1.0f);
    left->SetRate(2.0f);  // 0.1 s at twice the pitch
    left->SetPaused(false);
    ASSERT_TRUE(WaitUntilDone(left, 5000));
    SleepMs(100);
    ShutdownAudio();  // closes the device: the file is complete

    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f) << "the disk driver wrote nothing";
    std::vector<float> s;
    float buf[1024];
    size_t n;
    while ((n = std::fread(buf, sizeof(float), 1024, f)) > 0) s.insert(s.end(), buf, buf + n);
    std::fclose(f);
    std::remove(path.c_str());
    ASSERT_GT(s.size(), size_t(rate));  // at least half a second of stereo

    for (float v : s) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
    const std::vector<Stretch> runs = SoundingRuns(s, rate / 50);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_GT(runs[0].from, 0) << "silence before the first tone";

    // First tone: 0.3 s, centred, volume 0.5 of a 0.5 peak sine.
    const Stretch& a = runs[0];
    EXPECT_NEAR(a.to - a.from, int(0.3 * rate), 4);
    EXPECT_NEAR(Rms(s, 0, a), 0.125, 0.003);
    EXPECT_NEAR(Rms(s, 1, a), 0.125, 0.003);
    EXPECT_NEAR(Crossings(s, 0, a), 265, 3);

    // Second: full left, twice the pitch, half the length.
    const Stretch& b = runs[1];
    EXPECT_NEAR(b.to - b.from, int(0.1 * rate), 4);
    EXPECT_NEAR(Rms(s, 0, b), 0.5 / std::sqrt(2.0), 0.005);
    EXPECT_EQ(Rms(s, 1, b), 0.0);
    EXPECT_NEAR(Crossings(s, 0, b), 176, 3);
}

// The program's calls while the device's thread mixes: effects rotated
// through many channel slots the way the game plays them, each slot's old
// channel stopped when still playing, every volume re-applied per frame.
TEST(MixerOnSdlDiskDevice, ProgramCallsInterleaveSafelyWithTheMixerThread) {
    const std::string path = std::string(WORMLOB_BINARY_DIR) + "/audio_disk_stress.raw";
    std::remove(path.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    UseRealClock();
    ASSERT_TRUE(SetAudioDriver("FreeAudio Multimedia"));
    std::vector<SoundRef> sounds = {Tone(300, 0.05), Tone(500, 0.2), Tone(700, 0.01)};
    std::vector<ChannelRef> slots(60);
    int next = 0;
    for (int frame = 0; frame < 40; ++frame) {
        for (int k = 0; k < 6; ++k) {
            ChannelRef& slot = slots[size_t(next)];
            next = (next + 1) % int(slots.size());
            if (slot && slot->Playing()) slot->Stop();
            slot = CueSound(sounds[size_t(k) % sounds.size()], AllocChannel());
            ASSERT_TRUE(slot);
            slot->SetVolume(0.1f);
            slot->SetPan(float(k - 3) / 3.0f);
            slot->SetRate(0.5f + 0.25f * float(k));
            slot->SetPaused(false);
        }
        for (auto& c : slots) {
            if (c && !c->Playing()) c.reset();
            if (c) c->SetVolume(0.1f);
        }
        SleepMs(5);
    }
    // Drop everything while voices still play, then the sounds themselves.
    slots.clear();
    sounds.clear();
    SleepMs(50);
    ShutdownAudio();

    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    std::vector<float> s;
    float buf[1024];
    size_t n;
    while ((n = std::fread(buf, sizeof(float), 1024, f)) > 0) s.insert(s.end(), buf, buf + n);
    std::fclose(f);
    std::remove(path.c_str());
    ASSERT_FALSE(s.empty());
    float peak = 0;
    for (float v : s) {
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_GT(peak, 0.05f) << "the effects were heard";
}

// The software mixer heard through its capture hook: the "FreeAudio" back end
// is started on SDL's audio device, then detached from it so the test pulls
// every block of output itself and measures it.

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/audio_mixer.h"
#include "tests/support/audio_sounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

struct Stereo {
    std::vector<float> s;  // interleaved
    int frames() const { return int(s.size() / 2); }
    float at(int frame, int ch) const { return s[size_t(2 * frame + ch)]; }
};

double Rms(const Stereo& o, int ch, int from = 0, int to = -1) {
    if (to < 0) to = o.frames();
    double sum = 0;
    for (int i = from; i < to; ++i) sum += double(o.at(i, ch)) * o.at(i, ch);
    return std::sqrt(sum / std::max(1, to - from));
}

float Peak(const Stereo& o, int ch, int from = 0, int to = -1) {
    if (to < 0) to = o.frames();
    float p = 0;
    for (int i = from; i < to; ++i) p = std::max(p, std::fabs(o.at(i, ch)));
    return p;
}

int Crossings(const Stereo& o, int ch, int from = 0, int to = -1) {
    if (to < 0) to = o.frames();
    int n = 0;
    for (int i = from + 1; i < to; ++i) {
        if ((o.at(i - 1, ch) < 0) != (o.at(i, ch) < 0)) ++n;
    }
    return n;
}

class MixerOutput : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        ASSERT_TRUE(SetAudioDriver("FreeAudio"));
        ASSERT_EQ(CurrentAudioDriver(), "FreeAudio");
        ASSERT_TRUE(AudioCaptureBegin(&rate_));
        ASSERT_GT(rate_, 8000);
    }
    void TearDown() override { ShutdownAudio(); }

    // Pulls output in device-sized blocks.
    Stereo Capture(double seconds) {
        Stereo o;
        const int frames = int(seconds * rate_);
        o.s.resize(size_t(2 * frames));
        for (int at = 0; at < frames; at += 512) {
            const int n = std::min(512, frames - at);
            EXPECT_TRUE(AudioCaptureMix(o.s.data() + 2 * at, n));
        }
        return o;
    }
    static SoundRef Tone(double freq, double seconds, int channels = 1, int rate = 22050, int flags = 0) {
        // A whole number of cycles per second, so a looped tone has no seam.
        return LoadTone(rate, channels, freq, seconds, flags);
    }
    ChannelRef Play(const SoundRef& s, float volume = 1, float pan = 0, float rate = 1) {
        ChannelRef ch = CueSound(s, AllocChannel());
        EXPECT_TRUE(ch);
        if (!ch) return ch;
        ch->SetVolume(volume);
        ch->SetPan(pan);
        ch->SetRate(rate);
        ch->SetPaused(false);
        return ch;
    }

    int rate_ = 0;
};

// A sine of peak 0.5 has RMS 0.5 / sqrt 2; a centred mono voice gets
// cos 45 deg of that on each side: 0.25 at volume 1.
constexpr double kCentreRms = 0.25;

}  // namespace

TEST_F(MixerOutput, SilentWithNothingPlayingAndWhileCued) {
    Stereo o = Capture(0.1);
    EXPECT_EQ(Peak(o, 0), 0.0f);
    EXPECT_EQ(Peak(o, 1), 0.0f);

    SoundRef s = Tone(441, 1);
    ChannelRef ch = CueSound(s, AllocChannel());
    ASSERT_TRUE(ch);
    ch->SetVolume(1);
    EXPECT_FALSE(ch->Playing()) << "a cued channel waits, paused";
    o = Capture(0.1);
    EXPECT_EQ(Peak(o, 0), 0.0f);
    EXPECT_EQ(Peak(o, 1), 0.0f);
}

TEST_F(MixerOutput, LevelFollowsVolumeAndConstantPowerPan) {
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    ChannelRef ch = Play(s, 0.5f, 0.0f);
    Stereo o = Capture(0.5);
    EXPECT_NEAR(Rms(o, 0), kCentreRms * 0.5, 0.002);
    EXPECT_NEAR(Rms(o, 1), kCentreRms * 0.5, 0.002);

    ch->SetVolume(1.0f);
    Capture(0.02);  // one block ramps to the new level
    o = Capture(0.5);
    EXPECT_NEAR(Rms(o, 0), kCentreRms, 0.003);
    EXPECT_NEAR(Rms(o, 1), kCentreRms, 0.003);

    // Full left: all the power on the left (0.5 / sqrt 2), the right silent.
    ch->SetPan(-1.0f);
    Capture(0.02);
    o = Capture(0.3);
    EXPECT_NEAR(Rms(o, 0), 0.5 / std::sqrt(2.0), 0.004);
    EXPECT_EQ(Peak(o, 1), 0.0f);

    ch->SetPan(1.0f);
    Capture(0.02);
    o = Capture(0.3);
    EXPECT_LT(Peak(o, 0), 1e-6f);
    EXPECT_NEAR(Rms(o, 1), 0.5 / std::sqrt(2.0), 0.004);

    // Half right: cos 67.5 deg and sin 67.5 deg of the full level.
    ch->SetPan(0.5f);
    Capture(0.02);
    o = Capture(0.3);
    const double full = 0.5 / std::sqrt(2.0);
    EXPECT_NEAR(Rms(o, 0), full * std::cos(67.5 * M_PI / 180), 0.003);
    EXPECT_NEAR(Rms(o, 1), full * std::sin(67.5 * M_PI / 180), 0.003);
    // Equal power whatever the pan.
    EXPECT_NEAR(Rms(o, 0) * Rms(o, 0) + Rms(o, 1) * Rms(o, 1), full * full, 0.002);

    ch->SetVolume(0.0f);
    Capture(0.02);
    o = Capture(0.1);
    EXPECT_EQ(Peak(o, 0), 0.0f);
    EXPECT_EQ(Peak(o, 1), 0.0f);
}

TEST_F(MixerOutput, VolumeChangeRampsInsteadOfJumping) {
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    ChannelRef ch = Play(s, 1.0f);
    Capture(0.05);
    ch->SetVolume(0.0f);
    Stereo o = Capture(512.0 / rate_);  // exactly one block
    // The block fades out: loud at its start, near silent at its end.
    EXPECT_GT(Peak(o, 0, 0, 128), 0.15f);
    EXPECT_LT(Peak(o, 0, 448, 512), 0.05f);
    o = Capture(0.05);
    EXPECT_EQ(Peak(o, 0), 0.0f);
}

TEST_F(MixerOutput, RateTwoDoublesThePitch) {
    // 441 Hz recorded at 22050 Hz, resampled to the device rate.
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    ChannelRef ch = Play(s);
    Stereo o = Capture(1.0);
    EXPECT_NEAR(Crossings(o, 0), 882, 3);
    ch->SetRate(2.0f);
    Capture(0.02);
    o = Capture(1.0);
    EXPECT_NEAR(Crossings(o, 0), 1764, 3);
    EXPECT_NEAR(Rms(o, 0), kCentreRms, 0.004) << "rate changes pitch, not level";
    ch->SetRate(0.5f);
    Capture(0.02);
    o = Capture(1.0);
    EXPECT_NEAR(Crossings(o, 0), 441, 3);
}

TEST_F(MixerOutput, NonLoopingSoundEndsAndChannelStopsPlaying) {
    SoundRef s = Tone(441, 0.1);  // 2205 frames at 22050 Hz: 0.1 s
    ChannelRef ch = Play(s);
    ASSERT_TRUE(ch->Playing());
    Stereo o = Capture(0.05);
    EXPECT_TRUE(ch->Playing());
    EXPECT_GT(Rms(o, 0), 0.2);
    o = Capture(0.1);
    EXPECT_FALSE(ch->Playing());
    // The tone stops 0.05 s into this capture and silence follows.
    const int end = int(0.05 * rate_);
    EXPECT_GT(Rms(o, 0, 0, end - 100), 0.2);
    EXPECT_EQ(Peak(o, 0, end + 3, o.frames()), 0.0f);
    // Un-pausing a finished channel does not start it again.
    ch->SetPaused(false);
    EXPECT_FALSE(ch->Playing());
    EXPECT_EQ(Peak(Capture(0.05), 0), 0.0f);

    // The same channel can be cued again.
    CueSound(s, ch);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    EXPECT_GT(Rms(Capture(0.05), 0), 0.2);
}

TEST_F(MixerOutput, LoopingSoundKeepsPlaying) {
    SoundRef s = Tone(441, 0.1, 1, 22050, 1);
    ChannelRef ch = Play(s);
    Stereo o = Capture(0.5);
    EXPECT_TRUE(ch->Playing());
    EXPECT_NEAR(Rms(o, 0, int(0.3 * rate_), int(0.5 * rate_)), kCentreRms, 0.004);
    EXPECT_NEAR(Crossings(o, 0), 441, 3);
}

TEST_F(MixerOutput, CueOnPlayingChannelStopsItAndNewSoundWaitsForUnpause) {
    SoundRef a = Tone(441, 1, 1, 22050, 1);
    SoundRef b = Tone(882, 1, 1, 22050, 1);
    ChannelRef ch = Play(a);
    Capture(0.1);
    ASSERT_TRUE(ch->Playing());
    ChannelRef same = CueSound(b, ch);
    EXPECT_EQ(same, ch);
    EXPECT_FALSE(ch->Playing());
    Stereo o = Capture(0.2);
    EXPECT_EQ(Peak(o, 0), 0.0f);
    EXPECT_EQ(Peak(o, 1), 0.0f);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    o = Capture(0.5);
    EXPECT_NEAR(Crossings(o, 0), 882, 3) << "the new sound, from its start";
}

TEST_F(MixerOutput, SettingsMadeBeforeCueStillApply) {
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    ChannelRef ch = AllocChannel();
    ASSERT_TRUE(ch);
    ch->SetVolume(0.5f);
    ch->SetPan(-1.0f);
    ch->SetRate(2.0f);
    CueSound(s, ch);
    ch->SetPaused(false);
    Stereo o = Capture(0.5);
    EXPECT_NEAR(Rms(o, 0), 0.5 * 0.5 / std::sqrt(2.0), 0.003);
    EXPECT_EQ(Peak(o, 1), 0.0f);
    EXPECT_NEAR(Crossings(o, 0), 882, 3);

    // And they stay for the next cue on the same channel.
    CueSound(s, ch);
    ch->SetPaused(false);
    o = Capture(0.5);
    EXPECT_NEAR(Rms(o, 0), 0.5 * 0.5 / std::sqrt(2.0), 0.003);
    EXPECT_EQ(Peak(o, 1), 0.0f);
}

TEST_F(MixerOutput, PauseHoldsThePositionAndStopEndsTheChannel) {
    SoundRef s = Tone(441, 0.2);
    ChannelRef ch = Play(s);
    Capture(0.1);
    ch->SetPaused(true);
    EXPECT_FALSE(ch->Playing());
    EXPECT_EQ(Peak(Capture(0.3), 0), 0.0f);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    // 0.1 s were left when it paused.
    Stereo o = Capture(0.2);
    EXPECT_FALSE(ch->Playing());
    EXPECT_GT(Rms(o, 0, 0, int(0.09 * rate_)), 0.2);
    EXPECT_EQ(Peak(o, 0, int(0.11 * rate_), o.frames()), 0.0f);

    ch = Play(s);
    Capture(0.05);
    ch->Stop();
    EXPECT_FALSE(ch->Playing());
    ch->SetPaused(false);
    EXPECT_FALSE(ch->Playing()) << "a stopped channel has no sound to resume";
    EXPECT_EQ(Peak(Capture(0.1), 0), 0.0f);
}

TEST_F(MixerOutput, ManyLoudVoicesSumWithoutLeavingRange) {
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    std::vector<ChannelRef> chans;
    for (int i = 0; i < 24; ++i) chans.push_back(Play(s, 1.0f, (i % 5 - 2) * 0.5f, 1.0f + 0.01f * i));
    Stereo o = Capture(0.3);
    for (float v : o.s) {
        ASSERT_TRUE(std::isfinite(v));
        ASSERT_LE(std::fabs(v), 1.0f);
    }
    EXPECT_GT(Peak(o, 0), 0.99f) << "so loud that it reaches full scale";
}

TEST_F(MixerOutput, StereoSoundKeepsItsLevelAtCentreAndFadesTheFarSide) {
    SoundRef s = Tone(441, 1, 2, 44100, 1);
    ChannelRef ch = Play(s);
    Stereo o = Capture(0.3);
    EXPECT_NEAR(Rms(o, 0), 0.5 / std::sqrt(2.0), 0.004);
    EXPECT_NEAR(Rms(o, 1), 0.5 / std::sqrt(2.0), 0.004);
    ch->SetPan(-1.0f);
    Capture(0.02);
    o = Capture(0.3);
    EXPECT_NEAR(Rms(o, 0), 0.5 / std::sqrt(2.0), 0.004);
    EXPECT_EQ(Peak(o, 1), 0.0f);
}

TEST_F(MixerOutput, SoundPlaysOnAfterTheProgramDropsItsReferences) {
    // As when the display set-up reloads every asset while the music plays.
    SoundRef s = Tone(441, 0.3);
    std::weak_ptr<TSound> watch = s;
    ChannelRef ch = Play(s);
    s.reset();
    ch.reset();
    Stereo o = Capture(0.2);
    EXPECT_GT(Rms(o, 0), 0.2);
    o = Capture(0.2);
    EXPECT_EQ(Peak(o, 0, int(0.11 * rate_), o.frames()), 0.0f);
    (void)watch;
    // A new channel works as usual afterwards.
    ch = Play(Tone(882, 0.2));
    EXPECT_NEAR(Crossings(Capture(0.1), 0), 176, 3);
}

TEST_F(MixerOutput, SoundOfAnotherBackEndIsSilent) {
    ShutdownAudio();
    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef fromNull = Tone(441, 1);
    ASSERT_TRUE(fromNull);
    ASSERT_TRUE(SetAudioDriver("FreeAudio"));
    ASSERT_TRUE(AudioCaptureBegin(&rate_));
    ChannelRef ch = Play(fromNull);
    EXPECT_FALSE(ch->Playing());
    EXPECT_EQ(Peak(Capture(0.1), 0), 0.0f);
    // Sounds of an earlier run of the same back end are silent as well.
    SoundRef early = Tone(441, 1);
    ASSERT_TRUE(SetAudioDriver("freeaudio"));
    ASSERT_TRUE(AudioCaptureBegin(&rate_));
    ch = Play(early);
    EXPECT_FALSE(ch->Playing());
    EXPECT_EQ(Peak(Capture(0.1), 0), 0.0f);
}

TEST_F(MixerOutput, UnknownDriverNameSilencesEverythingWithoutFallingBack) {
    SoundRef s = Tone(441, 1, 1, 22050, 1);
    ChannelRef ch = Play(s);
    EXPECT_GT(Rms(Capture(0.1), 0), 0.2);
    ASSERT_TRUE(AudioDeviceOpen());

    EXPECT_FALSE(SetAudioDriver("Sound Blaster"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    EXPECT_FALSE(AudioDeviceOpen()) << "the mixer's device is closed";
    EXPECT_FALSE(ch->Playing());
    ch->SetPaused(false);
    EXPECT_FALSE(ch->Playing());
    int r = 0;
    EXPECT_FALSE(AudioCaptureBegin(&r)) << "no mixer runs any more";

    // Later sounds go to "Null": no implicit choice of another back end.
    SoundRef later = Tone(441, 0.5);
    ASSERT_TRUE(later);
    ChannelRef c2 = Play(later);
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    EXPECT_FALSE(AudioDeviceOpen());
    EXPECT_TRUE(c2->Playing()) << "Null channels are driven like heard ones";
}

// The mixer on its own, as the benchmark uses it.
TEST(SoftMixerCore, MixesIndependentlyOfAnyDevice) {
    SoftMixer m(44100);
    auto tone = MakeToneSound(44100, 1, 441, 0.5, 1.0);
    MixVoiceRef v = m.NewVoice();
    m.Cue(v, tone, false);
    m.SetPaused(v, false);
    EXPECT_EQ(m.PlayingVoices(), 1);
    std::vector<float> out(2 * 44100);
    m.Mix(out.data(), 44100 / 2);
    m.Mix(out.data() + 44100, 44100 / 2);
    double sum = 0;
    for (int i = 0; i < 44100; ++i) sum += double(out[2 * i]) * out[2 * i];
    EXPECT_NEAR(std::sqrt(sum / 44100), kCentreRms, 0.002);
    m.Mix(out.data(), 16);
    EXPECT_FALSE(m.Playing(v));
    EXPECT_EQ(m.PlayingVoices(), 0);

    m.Cue(v, tone, true);
    m.SetPaused(v, false);
    m.Close();
    EXPECT_FALSE(m.Playing(v));
    m.Cue(v, tone, false);
    m.SetPaused(v, false);
    EXPECT_FALSE(m.Playing(v)) << "a closed mixer starts nothing";
}

TEST(SoftMixerCore, ResamplesByLinearInterpolation) {
    // Source at a quarter of the output rate: each source step is spread
    // over four output frames along a straight line.
    SoftMixer m(48000);
    auto snd = std::make_shared<TSoundData>();
    snd->rate = 12000;
    snd->channels = 1;
    snd->samples = {0, 16384, 0, -16384};
    snd->frames = 4;
    MixVoiceRef v = m.NewVoice();
    m.SetPan(v, -1.0f);  // left gain exactly 1
    m.Cue(v, snd, false);
    m.SetPaused(v, false);
    std::vector<float> out(2 * 20);
    m.Mix(out.data(), 20);
    const float want[16] = {0, .125f, .25f, .375f, .5f, .375f, .25f, .125f,
                            0, -.125f, -.25f, -.375f, -.5f, -.5f, -.5f, -.5f};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[2 * i], want[i], 1e-6) << i;
    for (int i = 16; i < 20; ++i) EXPECT_EQ(out[2 * i], 0.0f) << "ended after its last frame";
    EXPECT_FALSE(m.Playing(v));
}

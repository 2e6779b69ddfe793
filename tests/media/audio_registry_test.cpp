// The back-end registry, the choice between back ends, and the "Null" back
// end's channels timed on the program's (virtual) clock.

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/system.h"
#include "tests/support/audio_sounds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

SoundRef Tone(double seconds, int rate = 8000, int flags = 0) { return LoadTone(rate, 1, 400, seconds, flags); }

class AudioRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        ShutdownAudio();
        UseVirtualClock(1000);
    }
    void TearDown() override {
        ShutdownAudio();
        UseRealClock();
    }
};

}  // namespace

TEST_F(AudioRegistry, ListsTheBackEndsNewestRegistrationFirst) {
    EXPECT_EQ(ListAudioDrivers(),
              (std::vector<std::string>{"OpenAL", "FreeAudio", "FreeAudio Multimedia", "Null"}));
    EXPECT_TRUE(AudioDriverExists("OpenAL"));
    EXPECT_TRUE(AudioDriverExists("freeaudio multimedia"));
    EXPECT_TRUE(AudioDriverExists("NULL"));
    EXPECT_FALSE(AudioDriverExists("DirectSound")) << "not on this platform";
    EXPECT_FALSE(AudioDriverExists("FreeAudio DirectSound"));
    EXPECT_FALSE(AudioDriverExists("FreeAudio "));
    EXPECT_FALSE(AudioDriverExists(""));
}

TEST_F(AudioRegistry, ImplicitChoiceBeforeAnySetAudioDriverIsNull) {
    EXPECT_EQ(CurrentAudioDriver(), "") << "unset at first";
    ChannelRef ch = AllocChannel();
    EXPECT_TRUE(ch);
    EXPECT_EQ(CurrentAudioDriver(), "Null");

    ShutdownAudio();
    EXPECT_EQ(CurrentAudioDriver(), "");
    EXPECT_TRUE(Tone(0.1));
    EXPECT_EQ(CurrentAudioDriver(), "Null") << "LoadSound chooses too";
}

TEST_F(AudioRegistry, NamesMatchWhateverTheirCase) {
    EXPECT_TRUE(SetAudioDriver("freeaudio"));
    EXPECT_EQ(CurrentAudioDriver(), "FreeAudio");
    EXPECT_TRUE(AudioDeviceOpen());
    EXPECT_TRUE(SetAudioDriver("FREEAUDIO MULTIMEDIA"));
    EXPECT_EQ(CurrentAudioDriver(), "FreeAudio Multimedia");
    EXPECT_TRUE(SetAudioDriver("nUlL"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    EXPECT_FALSE(AudioDeviceOpen()) << "the earlier back end was shut down";
}

TEST_F(AudioRegistry, UnknownOrUnregisteredNameFailsAndLeavesNull) {
    ASSERT_TRUE(SetAudioDriver("FreeAudio"));
    EXPECT_FALSE(SetAudioDriver("DirectSound"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    EXPECT_FALSE(AudioDeviceOpen());
    EXPECT_FALSE(SetAudioDriver("no such thing"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    // No implicit choice once a choice was made, even a failed one.
    EXPECT_TRUE(Tone(0.1));
    EXPECT_TRUE(AllocChannel());
    EXPECT_EQ(CurrentAudioDriver(), "Null");
}

TEST_F(AudioRegistry, NoSoundDeviceMeansFailureAndNullServes) {
    // An SDL audio driver that does not exist stands for a machine without
    // sound: the mixer cannot start, and nothing falls through to another
    // back end.
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(SetAudioDriver("FreeAudio"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    EXPECT_FALSE(SetAudioDriver("FreeAudio Multimedia"));
    EXPECT_EQ(CurrentAudioDriver(), "Null");
    SoundRef s = Tone(0.2);
    ASSERT_TRUE(s);
    ChannelRef ch = CueSound(s, nullptr);
    ASSERT_TRUE(ch);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    if (old) setenv("SDL_AUDIODRIVER", saved.c_str(), 1); else unsetenv("SDL_AUDIODRIVER");
}

TEST_F(AudioRegistry, NullChannelsPlayForTheSoundsLengthOnTheClock) {
    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef s = Tone(1.0);  // 8000 frames at 8000 Hz
    ChannelRef ch = CueSound(s, AllocChannel());
    ASSERT_TRUE(ch);
    EXPECT_FALSE(ch->Playing()) << "cued: paused at its start";
    SleepMs(5000);
    EXPECT_FALSE(ch->Playing());
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    SleepMs(999);
    EXPECT_TRUE(ch->Playing());
    SleepMs(1);
    EXPECT_FALSE(ch->Playing()) << "ended after exactly its length";
    ch->SetPaused(false);
    EXPECT_FALSE(ch->Playing()) << "a finished channel stays finished";

    // Pausing holds the position.
    CueSound(s, ch);
    ch->SetPaused(false);
    SleepMs(600);
    ch->SetPaused(true);
    EXPECT_FALSE(ch->Playing());
    SleepMs(10000);
    ch->SetPaused(false);
    SleepMs(399);
    EXPECT_TRUE(ch->Playing());
    SleepMs(1);
    EXPECT_FALSE(ch->Playing());

    // Rate 2 halves the time; the rate stays on the channel for later cues.
    ch->SetRate(2.0f);
    CueSound(s, ch);
    ch->SetPaused(false);
    SleepMs(499);
    EXPECT_TRUE(ch->Playing());
    SleepMs(1);
    EXPECT_FALSE(ch->Playing());

    // A looped sound never ends; Stop ends it.
    SoundRef loop = Tone(0.1, 8000, 1);
    ChannelRef lc = CueSound(loop, nullptr);
    ASSERT_TRUE(lc);
    lc->SetPaused(false);
    SleepMs(60000);
    EXPECT_TRUE(lc->Playing());
    lc->Stop();
    EXPECT_FALSE(lc->Playing());
}

TEST_F(AudioRegistry, CueOnPlayingNullChannelStopsItAndWaits) {
    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef a = Tone(1.0), b = Tone(0.5);
    ChannelRef ch = CueSound(a, nullptr);
    ch->SetPaused(false);
    SleepMs(300);
    ASSERT_TRUE(ch->Playing());
    EXPECT_EQ(CueSound(b, ch), ch);
    EXPECT_FALSE(ch->Playing());
    SleepMs(2000);
    ch->SetPaused(false);
    SleepMs(499);
    EXPECT_TRUE(ch->Playing()) << "b from its start";
    SleepMs(1);
    EXPECT_FALSE(ch->Playing());

    // A null sound leaves the channel free.
    CueSound(nullptr, ch);
    ch->SetPaused(false);
    EXPECT_FALSE(ch->Playing());
}

TEST_F(AudioRegistry, ChannelsOfAShutDownBackEndFallSilent) {
    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef s = Tone(1.0);
    ChannelRef ch = CueSound(s, nullptr);
    ch->SetPaused(false);
    ASSERT_TRUE(ch->Playing());
    ASSERT_TRUE(SetAudioDriver("Null"));  // a new run of the same back end
    EXPECT_FALSE(ch->Playing());
    // Its old sounds stay silent on the new run's channels.
    ChannelRef fresh = CueSound(s, nullptr);
    fresh->SetPaused(false);
    EXPECT_FALSE(fresh->Playing());
    ChannelRef ok = CueSound(Tone(1.0), nullptr);
    ok->SetPaused(false);
    EXPECT_TRUE(ok->Playing());
}

// A machine with no sound at all (a server, CI): neither SDL nor OpenAL has a
// usable output. The back ends that need a device report failure, nothing
// falls through to another, and "Null" keeps the program running.

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/system.h"
#include "tests/support/audio_sounds.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Before any audio library reads its settings.
class NoDeviceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        setenv("ALSOFT_DRIVERS", "no-such-driver", 1);
    }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new NoDeviceEnvironment);

}  // namespace

TEST(NoSoundDevice, EveryDeviceBackEndFailsAndNullServes) {
    UseVirtualClock(0);
    const auto names = ListAudioDrivers();
    for (const char* name : {"OpenAL", "FreeAudio", "FreeAudio Multimedia"}) {
        EXPECT_FALSE(SetAudioDriver(name)) << name;
        EXPECT_EQ(CurrentAudioDriver(), "Null") << name;
        EXPECT_FALSE(AudioDeviceOpen());
    }
    EXPECT_FALSE(EnableOpenALDevices());
    EXPECT_FALSE(EnableOpenALDevices()) << "the same answer again";
    EXPECT_EQ(ListAudioDrivers(), names) << "no device names registered";

    // Sounds still load and channels still run, silently, on the clock.
    SoundRef s = LoadTestSound(*MakeToneSound(8000, 1, 400, 0.5, 0.25), 8);
    ASSERT_TRUE(s);
    ChannelRef ch = CueSound(s, nullptr);
    ASSERT_TRUE(ch);
    ch->SetVolume(0.5f);
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    SleepMs(250);
    EXPECT_FALSE(ch->Playing());
    ShutdownAudio();
    UseRealClock();
}

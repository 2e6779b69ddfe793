// The "OpenAL" back ends on OpenAL Soft's "wave" back end, which writes the
// device's output to a WAV file in real time: what the listener would hear
// is measured and compared with the software mixer.

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/audio_mixer.h"
#include "media/system.h"
#include "tests/support/audio_sounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kDir = std::string(WORMLOB_BINARY_DIR) + "/";
const std::string kWaveFile = kDir + "audio_openal_output.wav";

// OpenAL Soft reads its configuration once, on first use: this runs before
// any test, so every test in this program hears through the wave writer.
class WaveWriterEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string conf = kDir + "audio_openal_test.conf";
        std::FILE* f = std::fopen(conf.c_str(), "w");
        ASSERT_TRUE(f);
        std::fprintf(f,
                     "[general]\nchannels = stereo\nsample-type = float32\nfrequency = 48000\n"
                     "hrtf = false\nstereo-mode = speakers\n\n[wave]\nfile = %s\n",
                     kWaveFile.c_str());
        std::fclose(f);
        setenv("ALSOFT_CONF", conf.c_str(), 1);
        setenv("ALSOFT_DRIVERS", "wave", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new WaveWriterEnvironment);

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads a stereo WAV of 16-bit integers or 32-bit floats (plain or
// extensible) as interleaved floats.
bool ReadStereoWav(const std::string& path, std::vector<float>* out, int* rate) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    size_t pos = 12;
    int format = 0, channels = 0, bits = 0;
    while (pos + 8 <= b.size()) {
        const uint32_t size = U32(b.data() + pos + 4);
        const uint8_t* body = b.data() + pos + 8;
        if (std::memcmp(b.data() + pos, "fmt ", 4) == 0) {
            format = U16(body);
            channels = U16(body + 2);
            *rate = int(U32(body + 4));
            bits = U16(body + 14);
            if (format == 0xFFFE && size >= 26) format = U16(body + 24);  // the sub-format's tag
        } else if (std::memcmp(b.data() + pos, "data", 4) == 0) {
            if (channels != 2) return false;
            const size_t len = std::min<size_t>(size, b.size() - pos - 8);
            if (format == 3 && bits == 32) {
                out->resize(len / 4);
                std::memcpy(out->data(), body, out->size() * 4);
            } else if (format == 1 && bits == 16) {
                out->resize(len / 2);
                for (size_t i = 0; i < out->size(); ++i) (*out)[i] = int16_t(U16(body + 2 * i)) / 32768.0f;
            } else {
                return false;
            }
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

struct Stretch {
    int from, to;
};

std::vector<Stretch> SoundingStretches(const std::vector<float>& s, int gap, float floor) {
    std::vector<Stretch> runs;
    const int frames = int(s.size() / 2);
    int last = -gap - 1;
    for (int i = 0; i < frames; ++i) {
        if (std::fabs(s[2 * i]) <= floor && std::fabs(s[2 * i + 1]) <= floor) continue;
        if (i - last > gap) runs.push_back({i, i + 1});
        runs.back().to = i + 1;
        last = i;
    }
    return runs;
}

double Rms(const std::vector<float>& s, int ch, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i) sum += double(s[2 * i + ch]) * s[2 * i + ch];
    return std::sqrt(sum / std::max(1, to - from));
}

int Crossings(const std::vector<float>& s, int ch, int from, int to) {
    int n = 0;
    for (int i = from + 1; i < to; ++i) {
        if ((s[2 * (i - 1) + ch] < 0) != (s[2 * i + ch] < 0)) ++n;
    }
    return n;
}

std::shared_ptr<TSoundData> ToneData(double freq, double seconds) {
    return MakeToneSound(22050, 1, freq, 0.5, seconds);
}

SoundRef Load(const std::shared_ptr<TSoundData>& data) { return LoadTestSound(*data); }

// The software mixer's level for the same tone, volume and pan.
double MixerRms(const std::shared_ptr<TSoundData>& data, float volume, float pan, int ch) {
    SoftMixer m(48000);
    MixVoiceRef v = m.NewVoice();
    m.SetVolume(v, volume);
    m.SetPan(v, pan);
    m.Cue(v, data, false);
    m.SetPaused(v, false);
    const int frames = int(data->frames * 48000 / data->rate);
    std::vector<float> out(size_t(2 * frames));
    m.Mix(out.data(), frames);
    return Rms(out, ch, 0, frames);
}

}  // namespace

// The channel volume is the source gain: half the volume is half the level
// on both sides, whatever OpenAL's own pan law makes of the centre.
TEST(OpenALWave, PlaysTonesAtTheSourceGainPanAndPitch) {
    UseRealClock();
    std::remove(kWaveFile.c_str());
    ASSERT_TRUE(SetAudioDriver("OpenAL"));
    ASSERT_EQ(CurrentAudioDriver(), "OpenAL");

    auto centreTone = ToneData(441, 0.3);
    for (float volume : {0.5f, 1.0f}) {
        ChannelRef ch = CueSound(Load(centreTone), AllocChannel());
        ASSERT_TRUE(ch);
        ch->SetVolume(volume);
        ch->SetPan(0.0f);
        EXPECT_FALSE(ch->Playing()) << "cued, paused";
        SleepMs(100);
        ch->SetPaused(false);
        EXPECT_TRUE(ch->Playing());
        ASSERT_TRUE(WaitUntilDone(ch, 5000));
        SleepMs(150);
    }

    auto leftTone = ToneData(441, 0.4);
    ChannelRef left = AllocChannel();
    left->SetPan(-1.0f);
    left->SetRate(2.0f);  // set before the cue: must still apply
    CueSound(Load(leftTone), left);
    left->SetPaused(false);
    ASSERT_TRUE(WaitUntilDone(left, 5000));
    SleepMs(150);
    ShutdownAudio();  // closing the device completes the file

    std::vector<float> s;
    int rate = 0;
    ASSERT_TRUE(ReadStereoWav(kWaveFile, &s, &rate)) << "the wave writer's file";
    ASSERT_GT(rate, 8000);
    const auto runs = SoundingStretches(s, rate / 50, 1e-4f);
    ASSERT_EQ(runs.size(), 3u);

    // Centre: both sides alike, and the level follows the volume linearly.
    double level[2][2];
    for (int k = 0; k < 2; ++k) {
        const Stretch& a = runs[size_t(k)];
        EXPECT_NEAR(a.to - a.from, int(0.3 * rate), rate / 100);
        const int am = (a.from + a.to) / 2, aw = int(0.1 * rate);
        for (int side = 0; side < 2; ++side) level[k][side] = Rms(s, side, am - aw, am + aw);
        EXPECT_NEAR(level[k][0], level[k][1], level[k][1] * 0.02);
        EXPECT_NEAR(Crossings(s, 0, am - aw, am + aw), 176, 4);
    }
    EXPECT_NEAR(level[0][0] / level[1][0], 0.5, 0.01);

    // Full left at rate 2: twice the pitch, half the length, right silent.
    const Stretch& b = runs[2];
    EXPECT_NEAR(b.to - b.from, int(0.2 * rate), rate / 100);
    const int bm = (b.from + b.to) / 2, bw = int(0.07 * rate);
    EXPECT_NEAR(Crossings(s, 0, bm - bw, bm + bw), 247, 4);
    EXPECT_GT(Rms(s, 0, bm - bw, bm + bw), level[1][0]);
    EXPECT_LT(Rms(s, 1, bm - bw, bm + bw), 0.01);
    std::remove(kWaveFile.c_str());
}

TEST(OpenALWave, VoicesAreReusedAndCuesBehaveAsOnTheMixer) {
    UseRealClock();
    ASSERT_TRUE(SetAudioDriver("openal"));
    auto shortTone = ToneData(441, 0.05);
    SoundRef s = Load(shortTone);
    ASSERT_TRUE(s);
    // Many short sounds one after another: finished voices are taken again
    // instead of new ones piling up, so this never runs out.
    for (int i = 0; i < 300; ++i) {
        ChannelRef ch = CueSound(s, AllocChannel());
        ASSERT_TRUE(ch) << i;
        ch->SetVolume(0.0f);
        ch->SetPaused(false);
        ASSERT_TRUE(ch->Playing()) << i;
        if (i % 50 == 49) {
            ASSERT_TRUE(WaitUntilDone(ch, 2000));
        }
    }

    // CueSound on a playing channel stops it; the new sound waits.
    SoundRef longer = Load(ToneData(441, 1.0));
    ChannelRef ch = CueSound(longer, nullptr);
    ch->SetPaused(false);
    ASSERT_TRUE(ch->Playing());
    EXPECT_EQ(CueSound(s, ch), ch);
    EXPECT_FALSE(ch->Playing());
    SleepMs(100);
    EXPECT_FALSE(ch->Playing());
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    EXPECT_TRUE(WaitUntilDone(ch, 2000)) << "the short sound, not the long one";

    // Pause and stop.
    CueSound(longer, ch);
    ch->SetPaused(false);
    ch->SetPaused(true);
    EXPECT_FALSE(ch->Playing());
    ch->SetPaused(false);
    EXPECT_TRUE(ch->Playing());
    ch->Stop();
    EXPECT_FALSE(ch->Playing());

    // A dropped channel's sound plays on without the program's references.
    {
        SoundRef tmp = Load(ToneData(441, 0.1));
        ChannelRef c = CueSound(tmp, nullptr);
        c->SetPaused(false);
    }
    SleepMs(200);
    ChannelRef after = CueSound(s, nullptr);
    after->SetPaused(false);
    EXPECT_TRUE(after->Playing());

    // A sound made by another back end is silent here.
    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef fromNull = Load(shortTone);
    ASSERT_TRUE(SetAudioDriver("OpenAL"));
    ChannelRef c2 = CueSound(fromNull, nullptr);
    c2->SetPaused(false);
    EXPECT_FALSE(c2->Playing());
    // Channels of the run before are silent too.
    EXPECT_FALSE(after->Playing());
    ShutdownAudio();
}

TEST(OpenALWave, DeviceBackEndsAreRegisteredOnceOnRequest) {
    const std::vector<std::string> before = ListAudioDrivers();
    ASSERT_EQ(before, (std::vector<std::string>{"OpenAL", "FreeAudio", "FreeAudio Multimedia", "Null"}));
    const bool usable = EnableOpenALDevices();
    EXPECT_TRUE(usable) << "the wave writer is a device";
    const std::vector<std::string> after = ListAudioDrivers();
    ASSERT_GT(after.size(), before.size());
    // Newest first: "OpenAL Default" was registered last.
    EXPECT_EQ(after.front(), "OpenAL Default");
    const std::vector<std::string> devices = ListOpenALDeviceNames();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(after.size(), before.size() + devices.size() + 1);
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(after[1 + i], "OpenAL " + devices[devices.size() - 1 - i]);
    }
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.end() - long(before.size())));
    // The answer is kept: a second call registers nothing more.
    EXPECT_EQ(EnableOpenALDevices(), usable);
    EXPECT_EQ(ListAudioDrivers(), after);

    EXPECT_TRUE(SetAudioDriver("openal default"));
    EXPECT_EQ(CurrentAudioDriver(), "OpenAL Default");
    EXPECT_TRUE(SetAudioDriver(after[1]));
    EXPECT_EQ(CurrentAudioDriver(), after[1]);
    ShutdownAudio();
    std::remove(kWaveFile.c_str());
}

// The title music is a stereo file played at the centre: OpenAL does not
// place a stereo buffer, so each side plays at the source gain, as the mixer
// plays it.
TEST(OpenALWave, StereoSoundAtTheCentrePlaysAtTheMixersLevel) {
    UseRealClock();
    std::remove(kWaveFile.c_str());
    ASSERT_TRUE(SetAudioDriver("OpenAL"));
    auto stereo = MakeToneSound(22050, 2, 441, 0.5, 0.3);
    ChannelRef ch = CueSound(Load(stereo), AllocChannel());
    ASSERT_TRUE(ch);
    ch->SetVolume(0.5f);
    ch->SetPaused(false);
    ASSERT_TRUE(WaitUntilDone(ch, 5000));
    SleepMs(150);
    ShutdownAudio();

    std::vector<float> s;
    int rate = 0;
    ASSERT_TRUE(ReadStereoWav(kWaveFile, &s, &rate));
    const auto runs = SoundingStretches(s, rate / 50, 1e-4f);
    ASSERT_EQ(runs.size(), 1u);
    const int m = (runs[0].from + runs[0].to) / 2, w = int(0.1 * rate);
    const double mixL = MixerRms(stereo, 0.5f, 0.0f, 0);
    const double mixR = MixerRms(stereo, 0.5f, 0.0f, 1);
    EXPECT_NEAR(mixL, 0.25 / std::sqrt(2.0), 0.003);
    EXPECT_NEAR(Rms(s, 0, m - w, m + w), mixL, mixL * 0.05);
    EXPECT_NEAR(Rms(s, 1, m - w, m + w), mixR, mixR * 0.05);
    std::remove(kWaveFile.c_str());
}

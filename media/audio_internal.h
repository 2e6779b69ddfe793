// Internals of the audio service shared by its back ends, the decoders, the
// tests, the fuzz target and the mixer benchmark. The program itself uses only
// media/audio.h.
#pragma once

#include "media/audio.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One decoded sound: interleaved signed 16-bit samples. 8-bit files are
// widened on load so every back end reads a single sample format.
struct TSoundData {
    std::vector<int16_t> samples;
    int rate = 0;      // frames per second, > 0
    int channels = 0;  // 1 or 2
    int64_t frames = 0;  // > 0; samples.size() == frames * channels, except in
                         // a sound OpenAL holds: its samples are in OpenAL
                         // and samples is empty
};
using SoundDataRef = std::shared_ptr<const TSoundData>;

// Longest sound accepted, in frames (about six hours at 48 kHz). Keeps the
// mixer's fixed-point play position in range and bounds what a hostile
// header or an endless Vorbis stream can make us allocate.
constexpr int64_t kMaxSoundFrames = int64_t(1) << 30;
// Most samples a compressed (Vorbis) stream may decode to: ten minutes of
// 48 kHz stereo, 115 MB, far beyond any game music. A small hostile stream
// could otherwise claim hours of audio and have us allocate gigabytes.
constexpr int64_t kMaxDecodedSamples = int64_t(10) * 60 * 48000 * 2;
// Highest sample rate accepted; rates above this are not real recordings.
constexpr uint32_t kMaxSoundRate = 384000;
// Biggest sound file read into memory.
constexpr int64_t kMaxSoundFileBytes = int64_t(512) << 20;

// Decoders. Each returns null for anything it does not accept, and never
// reads outside [bytes, bytes + size).
std::shared_ptr<TSoundData> DecodeWavMemory(const uint8_t* bytes, size_t size);
std::shared_ptr<TSoundData> DecodeOggMemory(const uint8_t* bytes, size_t size);
// Picks the decoder from the first bytes ("RIFF" or "OggS").
std::shared_ptr<TSoundData> DecodeSoundMemory(const uint8_t* bytes, size_t size);

// Writes a sound as a canonical 44-byte-header PCM WAV file (8 or 16 bits).
std::vector<uint8_t> EncodeWavMemory(const TSoundData& sound, int bits);
// A sine tone of the given frequency and peak amplitude (0..1), the same on
// every channel; for the tests and the mixer benchmark.
std::shared_ptr<TSoundData> MakeToneSound(int rate, int channels, double freq, double amplitude,
                                          double seconds);

// LoadSound without the file: decodes the bytes and hands the sound to the
// current back end (making the implicit choice first, as LoadSound does).
SoundRef LoadSoundFromMemory(const uint8_t* bytes, size_t size, int flags);

// A back end. Sounds and channels it makes belong to the running instance:
// after Shutdown they are silent, and a sound of another back end (or of an
// earlier run of this one) cued on its channel plays nothing.
class TAudioDriver {
public:
    explicit TAudioDriver(std::string name) : Name(std::move(name)) {}
    virtual ~TAudioDriver() = default;
    TAudioDriver(const TAudioDriver&) = delete;
    TAudioDriver& operator=(const TAudioDriver&) = delete;

    const std::string Name;
    virtual bool Startup() = 0;
    virtual void Shutdown() = 0;
    virtual ChannelRef AllocChannel() = 0;
    virtual SoundRef MakeSound(std::shared_ptr<TSoundData> data, bool loop) = 0;

    // Test hooks of the software mixer; other back ends have no output to
    // capture. CaptureBegin detaches the mixer from its device so the caller
    // alone drives it, and gives the mixing rate.
    virtual bool CaptureBegin(int* rate) { (void)rate; return false; }
    // Mixes the next frames of interleaved stereo float output.
    virtual bool CaptureMix(float* out, int frames) { (void)out; (void)frames; return false; }
    // True while the back end holds an output device open.
    virtual bool DeviceOpen() const { return false; }
    // Frames per second the device plays (0 when the back end has no mixer).
    virtual int MixRate() const { return 0; }
};

// The channel type every back end derives from: CueSound reaches the back
// end through Cue.
struct TChannelBase : TChannel {
    // Stops what the channel plays and attaches sound at its start, paused.
    // A null sound, or one this channel's back end did not make, leaves the
    // channel free (silent).
    virtual void Cue(const SoundRef& sound) = 0;
};

std::unique_ptr<TAudioDriver> MakeNullAudioDriver();
std::unique_ptr<TAudioDriver> MakeMixerAudioDriver(const std::string& name);
// device empty: the default device, then "Generic Hardware", then
// "Generic Software" when tryFallbacks is set.
std::unique_ptr<TAudioDriver> MakeOpenALAudioDriver(const std::string& name,
                                                    const std::string& device,
                                                    bool tryFallbacks);
// Names of the devices OpenAL lists, and whether OpenAL can open its default
// device at all.
std::vector<std::string> ListOpenALDeviceNames();
bool OpenALDefaultDeviceOpens();

// The running back end (null before any choice); used by the tests to reach
// the capture hooks.
TAudioDriver* CurrentAudioBackend();
// Mixer capture on the current back end (false when it is not a mixer).
bool AudioCaptureBegin(int* rate);
bool AudioCaptureMix(float* out, int frames);
bool AudioDeviceOpen();
int AudioMixRate();

// Constant-power pan law shared by the mixer and matched by OpenAL's
// placement on the unit circle: left cos((pan + 1) * 45 deg), right
// sin((pan + 1) * 45 deg).
void PanGains(float pan, float* left, float* right);

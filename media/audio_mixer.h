// The software mixer behind the "FreeAudio" back ends, independent of any
// device so the benchmark and the tests can run it directly.
//
// Voices are mixed into interleaved stereo float with linear-interpolation
// resampling (the sound's own rate times the voice's rate, converted to the
// output rate), constant-power panning and volume; the sum is clamped to
// [-1, 1]. All methods are safe to call from any thread: one short mutex
// guards the voice table, and Mix holds it for one block only.
#pragma once

#include "media/audio_internal.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct MixVoice;  // one channel's state, owned jointly by the channel and the mixer
using MixVoiceRef = std::shared_ptr<MixVoice>;

class SoftMixer {
public:
    explicit SoftMixer(int outputRate);
    ~SoftMixer();
    SoftMixer(const SoftMixer&) = delete;
    SoftMixer& operator=(const SoftMixer&) = delete;

    int Rate() const { return rate_; }

    MixVoiceRef NewVoice();
    // Stops the voice and attaches data at its start, paused. Null data
    // leaves the voice free.
    void Cue(const MixVoiceRef& v, SoundDataRef data, bool loop);
    void SetVolume(const MixVoiceRef& v, float volume);
    void SetPan(const MixVoiceRef& v, float pan);
    void SetRate(const MixVoiceRef& v, float rate);
    void SetPaused(const MixVoiceRef& v, bool paused);
    void Stop(const MixVoiceRef& v);
    bool Playing(const MixVoiceRef& v);

    // Mixes the next frames into out (2 * frames floats, overwritten).
    void Mix(float* out, int frames);
    // Stops every voice and refuses further starts (the back end shut down).
    void Close();
    int PlayingVoices();

private:
    void ReleaseRetired();  // frees, outside the lock, what Mix let go of

    const int rate_;
    std::mutex mutex_;
    bool closed_ = false;
    std::vector<MixVoiceRef> active_;   // voices in the playing state
    std::vector<MixVoiceRef> retired_;  // finished in Mix; freed by the caller's thread
    std::vector<float> scratch_;
};

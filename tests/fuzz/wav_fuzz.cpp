// Feeds arbitrary bytes to the WAV decoder. Besides not crashing or reading
// outside the input, a decoded sound must be self-consistent: the mixer and
// OpenAL trust these fields.
#include <cstdint>
#include <cstdlib>

#include "media/audio_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto snd = DecodeWavMemory(data, size);
    if (!snd) return 0;
    const bool sane = (snd->channels == 1 || snd->channels == 2) && snd->rate > 0 &&
                      uint32_t(snd->rate) <= kMaxSoundRate && snd->frames > 0 &&
                      snd->frames <= kMaxSoundFrames &&
                      snd->samples.size() == size_t(snd->frames) * size_t(snd->channels) &&
                      snd->samples.size() <= size;  // never more samples than input bytes
    if (!sane) std::abort();
    return 0;
}

// Feeds arbitrary bytes to the Ogg Vorbis decoder: it must refuse or decode
// within the length cap, never read outside the input or allocate what a
// stream merely claims to hold.
#include <cstdint>

#include "media/audio_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto snd = DecodeOggMemory(data, size);
    if (!snd) return 0;
    const bool sane = (snd->channels == 1 || snd->channels == 2) && snd->rate > 0 && snd->frames > 0 &&
                      (int64_t)snd->samples.size() == snd->frames * snd->channels &&
                      (int64_t)snd->samples.size() <= kMaxDecodedSamples;
    if (!sane) __builtin_trap();
    return 0;
}

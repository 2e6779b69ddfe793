// Shared helpers for audio tests: sounds made in code, loaded through the
// ordinary WAV path of the current back end, and waiting for a channel.
#pragma once

#include <cstdint>
#include <vector>

#include "media/audio.h"
#include "media/audio_internal.h"
#include "media/system.h"

// Encodes data as a WAV file of the given sample width and loads it.
inline SoundRef LoadTestSound(const TSoundData& data, int bits = 16, int flags = 0) {
    std::vector<uint8_t> wav = EncodeWavMemory(data, bits);
    return LoadSoundFromMemory(wav.data(), wav.size(), flags);
}

// A sine tone at half level, loaded as a 16-bit WAV.
inline SoundRef LoadTone(int rate, int channels, double freq, double seconds, int flags = 0) {
    return LoadTestSound(*MakeToneSound(rate, channels, freq, 0.5, seconds), 16, flags);
}

// Polls the channel every 10 ms on the program's clock; true once it stopped.
inline bool WaitUntilDone(const ChannelRef& ch, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (!ch->Playing()) return true;
        SleepMs(10);
    }
    return false;
}

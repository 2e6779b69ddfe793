// Audio: a registry of named back ends, sounds and channels.
// Back ends on Linux, newest registration first: "OpenAL", "FreeAudio",
// "FreeAudio Multimedia" (our software mixer on SDL's audio device), "Null".
//
// All calls come from the program's one thread. The mixer and OpenAL feed
// their devices on threads of their own; no call waits on them for longer
// than a field update.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TSoundData;  // decoded samples (media/audio_internal.h), shared by every channel playing them
// One decoded sound, made by the back end current at LoadSound. A channel
// playing it keeps its samples alive, so dropping the last TSound reference
// while it plays is safe. Cued on a channel of another back end (or of an
// earlier run of the same one) it plays nothing.
struct TSound {
    std::shared_ptr<TSoundData> data;
    bool loop = false;  // read when the sound is cued
    virtual ~TSound() = default;
};
using SoundRef = std::shared_ptr<TSound>;

// One voice. Volume (0..1), pan (-1 left .. 1 right) and rate (> 0, 2 = an
// octave up) stay on the channel until changed, also across later cues.
// States: free, cued (paused at the start), playing, paused, finished.
// Out-of-range values are clamped; NaN gives 0 volume, centre pan, rate 1.
struct TChannel {
    virtual ~TChannel() = default;
    virtual void SetVolume(float volume) = 0;
    virtual void SetPan(float pan) = 0;
    virtual void SetRate(float rate) = 0;
    // false starts or resumes a cued or paused channel; true pauses a
    // playing one. A free or finished channel ignores it.
    virtual void SetPaused(bool paused) = 0;
    virtual void Stop() = 0;
    // True only while playing (not cued, paused, finished or stopped).
    virtual bool Playing() = 0;
};
using ChannelRef = std::shared_ptr<TChannel>;

// The registry's names in list order (at most 100).
std::vector<std::string> ListAudioDrivers();
// Case-insensitive.
bool AudioDriverExists(const std::string& name);
// Shuts the current back end down, makes "Null" current, then starts the
// first back end whose name matches (case-insensitive). False when none
// matches or it fails to start; "Null" stays current and no other entry is
// tried.
bool SetAudioDriver(const std::string& name);
// Registers "OpenAL <device>" for every device OpenAL lists, then
// "OpenAL Default", when OpenAL can open a device. The answer is computed
// once and repeated.
bool EnableOpenALDevices();
// Name of the current back end ("" before any choice).
std::string CurrentAudioDriver();

// WAV (PCM 8/16-bit, mono/stereo) or Ogg Vorbis, decoded whole; flags 1 =
// loop. Null for a missing, unsupported or damaged file. Before any
// SetAudioDriver, LoadSound and AllocChannel make the implicit choice
// ("DirectSound" as SetAudioDriver would, else "Null").
SoundRef LoadSound(const std::string& path, int flags);
ChannelRef AllocChannel();
// Stops what the channel plays and attaches the sound at its start, paused;
// a null channel gets a fresh one. Returns the channel.
ChannelRef CueSound(const SoundRef& sound, ChannelRef channel);

// Shuts the current back end down (end of the program, tests): its channels
// fall silent and the service is unset again, as at start.
void ShutdownAudio();

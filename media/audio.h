// Audio: a registry of named back ends, sounds and channels.
// Back ends on Linux, newest registration first: "OpenAL", "FreeAudio",
// "FreeAudio Multimedia" (our software mixer on SDL's audio device), "Null".
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TSoundData;  // decoded samples, owned by the back end
struct TSound {
    std::shared_ptr<TSoundData> data;
    bool loop = false;
    virtual ~TSound() = default;
};
using SoundRef = std::shared_ptr<TSound>;

struct TChannel {
    virtual ~TChannel() = default;
    virtual void SetVolume(float volume) = 0;
    virtual void SetPan(float pan) = 0;
    virtual void SetRate(float rate) = 0;
    virtual void SetPaused(bool paused) = 0;
    virtual void Stop() = 0;
    virtual bool Playing() = 0;
};
using ChannelRef = std::shared_ptr<TChannel>;

std::vector<std::string> ListAudioDrivers();
bool AudioDriverExists(const std::string& name);
bool SetAudioDriver(const std::string& name);
bool EnableOpenALDevices();
// Name of the current back end ("" before any choice).
std::string CurrentAudioDriver();

SoundRef LoadSound(const std::string& path, int flags);
ChannelRef AllocChannel();
ChannelRef CueSound(const SoundRef& sound, ChannelRef channel);

// Shuts the current back end down (end of the program, tests).
void ShutdownAudio();

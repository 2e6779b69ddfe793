// The "OpenAL" back ends: one OpenAL source per playing channel, sources
// reused once they have stopped, pan placed on the unit circle in front of
// the listener.

#include "media/audio_internal.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <cmath>

namespace {

// A source and whoever holds it. The slot keeps the sound alive while the
// source may still read its buffer, even if the channel has been dropped.
struct SourceSlot {
    ALuint source = 0;
    uint64_t owner = 0;  // token of the holding channel, 0 = free
    SoundRef sound;
};

struct ALRun {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    std::vector<SourceSlot> slots;
    uint64_t nextToken = 0;
    bool alive = false;
};

struct ALSound : TSound {
    std::weak_ptr<ALRun> owner;
    ALuint buffer = 0;
    ~ALSound() override {
        auto run = owner.lock();
        if (run && run->alive && buffer != 0) alDeleteBuffers(1, &buffer);
    }
};

void DetachSlot(SourceSlot& slot) {
    alSourceStop(slot.source);
    alSourcei(slot.source, AL_BUFFER, 0);
    slot.sound.reset();  // after the source let go of the buffer
    slot.owner = 0;
}

class ALChannel : public TChannelBase {
public:
    explicit ALChannel(std::shared_ptr<ALRun> run) : run_(std::move(run)) {}
    ~ALChannel() override {
        // A cued or paused source would never stop by itself and so never be
        // reused; a playing one plays on and frees itself at its end.
        if (OwnsSlot() && state_ != State::Playing) DetachSlot(run_->slots[size_t(slot_)]);
    }

    void Cue(const SoundRef& sound) override {
        Stop();
        auto* as = dynamic_cast<ALSound*>(sound.get());
        if (!run_->alive || !as || as->buffer == 0 || as->owner.lock() != run_) return;
        const int s = AcquireSlot();
        if (s < 0) return;  // OpenAL has no more voices: this one stays silent
        SourceSlot& slot = run_->slots[size_t(s)];
        slot.owner = token_ = ++run_->nextToken;
        slot.sound = sound;
        slot_ = s;
        const ALuint src = slot.source;
        alSourcei(src, AL_BUFFER, ALint(as->buffer));
        alSourcei(src, AL_LOOPING, as->loop ? AL_TRUE : AL_FALSE);
        alSourcei(src, AL_SOURCE_RELATIVE, AL_TRUE);
        alSourcef(src, AL_ROLLOFF_FACTOR, 0.0f);
        alSourceRewind(src);
        ApplySettings();
        state_ = State::Cued;
    }
    void SetVolume(float volume) override {
        volume_ = std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f);
        if (OwnsSlot()) ApplySettings();
    }
    void SetPan(float pan) override {
        pan_ = std::isnan(pan) ? 0.0f : std::clamp(pan, -1.0f, 1.0f);
        if (OwnsSlot()) ApplySettings();
    }
    void SetRate(float rate) override {
        rate_ = std::isnan(rate) ? 1.0f : std::clamp(rate, 1.0f / 64.0f, 64.0f);
        if (OwnsSlot()) ApplySettings();
    }
    void SetPaused(bool paused) override {
        if (!OwnsSlot()) return;
        const ALuint src = run_->slots[size_t(slot_)].source;
        if (paused) {
            if (Playing()) {
                alSourcePause(src);
                state_ = State::Paused;
            }
        } else if (state_ == State::Cued || state_ == State::Paused) {
            alSourcePlay(src);
            state_ = State::Playing;
        }
    }
    void Stop() override {
        if (OwnsSlot()) DetachSlot(run_->slots[size_t(slot_)]);
        slot_ = -1;
        state_ = State::Free;
    }
    bool Playing() override {
        if (state_ != State::Playing) return false;
        if (!OwnsSlot()) {
            state_ = State::Finished;
            return false;
        }
        ALint st = AL_STOPPED;
        alGetSourcei(run_->slots[size_t(slot_)].source, AL_SOURCE_STATE, &st);
        if (st != AL_PLAYING) state_ = State::Finished;
        return state_ == State::Playing;
    }

private:
    enum class State { Free, Cued, Playing, Paused, Finished };

    bool OwnsSlot() const {
        return run_->alive && slot_ >= 0 && size_t(slot_) < run_->slots.size() &&
               run_->slots[size_t(slot_)].owner == token_;
    }
    // A source that nobody holds, or whose sound has played out, before a
    // new one.
    int AcquireSlot() {
        auto& slots = run_->slots;
        for (size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].owner == 0) return int(i);
            ALint st = AL_INITIAL;
            alGetSourcei(slots[i].source, AL_SOURCE_STATE, &st);
            if (st == AL_STOPPED) {
                DetachSlot(slots[i]);  // its channel now finds it gone: finished
                return int(i);
            }
        }
        alGetError();
        ALuint src = 0;
        alGenSources(1, &src);
        if (alGetError() != AL_NO_ERROR || src == 0) return -1;
        slots.push_back(SourceSlot{src, 0, nullptr});
        return int(slots.size() - 1);
    }
    void ApplySettings() {
        const ALuint src = run_->slots[size_t(slot_)].source;
        const double angle = double(pan_) * (M_PI / 2.0);
        alSource3f(src, AL_POSITION, float(std::sin(angle)), 0.0f, float(-std::cos(angle)));
        // The channel volume is the source gain as it is: OpenAL's own pan
        // law decides how loud each side is (a stereo buffer is not placed
        // at all, its sides play at the gain).
        alSourcef(src, AL_GAIN, volume_);
        alSourcef(src, AL_PITCH, rate_);
    }

    std::shared_ptr<ALRun> run_;
    int slot_ = -1;
    uint64_t token_ = 0;
    State state_ = State::Free;
    float volume_ = 1.0f, pan_ = 0.0f, rate_ = 1.0f;
};

class OpenALDriver : public TAudioDriver {
public:
    OpenALDriver(const std::string& name, const std::string& device, bool fallbacks)
        : TAudioDriver(name), device_(device), fallbacks_(fallbacks) {}
    ~OpenALDriver() override { Shutdown(); }

    bool Startup() override {
        Shutdown();
        ALCdevice* dev = alcOpenDevice(device_.empty() ? nullptr : device_.c_str());
        if (!dev && fallbacks_) dev = alcOpenDevice("Generic Hardware");
        if (!dev && fallbacks_) dev = alcOpenDevice("Generic Software");
        if (!dev) return false;
        ALCcontext* ctx = alcCreateContext(dev, nullptr);
        if (!ctx || !alcMakeContextCurrent(ctx)) {
            if (ctx) alcDestroyContext(ctx);
            alcCloseDevice(dev);
            return false;
        }
        run_ = std::make_shared<ALRun>();
        run_->device = dev;
        run_->context = ctx;
        run_->alive = true;
        alListener3f(AL_POSITION, 0.0f, 0.0f, 0.0f);
        return true;
    }

    void Shutdown() override {
        if (!run_) return;
        for (auto& slot : run_->slots) {
            DetachSlot(slot);
            alDeleteSources(1, &slot.source);
        }
        run_->slots.clear();
        run_->alive = false;  // buffers of sounds still held go with the device
        alcMakeContextCurrent(nullptr);
        alcDestroyContext(run_->context);
        alcCloseDevice(run_->device);
        run_.reset();
    }

    ChannelRef AllocChannel() override {
        if (!run_) return nullptr;
        return std::make_shared<ALChannel>(run_);
    }

    SoundRef MakeSound(std::shared_ptr<TSoundData> data, bool loop) override {
        if (!run_ || !data) return nullptr;
        const uint64_t bytes = uint64_t(data->samples.size()) * 2;
        if (bytes > uint64_t(INT32_MAX)) return nullptr;
        alGetError();
        ALuint buf = 0;
        alGenBuffers(1, &buf);
        if (alGetError() != AL_NO_ERROR) return nullptr;
        alBufferData(buf, data->channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, data->samples.data(),
                     ALsizei(bytes), ALsizei(data->rate));
        if (alGetError() != AL_NO_ERROR) {
            alDeleteBuffers(1, &buf);
            return nullptr;
        }
        auto s = std::make_shared<ALSound>();
        // OpenAL keeps its own copy of the samples: ours are dropped, the
        // sound keeps only their layout (the title music would otherwise be
        // held twice).
        auto layout = std::make_shared<TSoundData>();
        layout->rate = data->rate;
        layout->channels = data->channels;
        layout->frames = data->frames;
        s->data = std::move(layout);
        s->loop = loop;
        s->owner = run_;
        s->buffer = buf;
        return s;
    }

private:
    std::string device_;
    bool fallbacks_;
    std::shared_ptr<ALRun> run_;
};

}  // namespace

std::unique_ptr<TAudioDriver> MakeOpenALAudioDriver(const std::string& name, const std::string& device,
                                                    bool tryFallbacks) {
    return std::make_unique<OpenALDriver>(name, device, tryFallbacks);
}

std::vector<std::string> ListOpenALDeviceNames() {
    std::vector<std::string> names;
    const ALCchar* list = nullptr;
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT")) {
        list = alcGetString(nullptr, ALC_ALL_DEVICES_SPECIFIER);
    } else if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT")) {
        list = alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
    }
    // A list of NUL-terminated names ending in an empty one.
    while (list && *list) {
        names.emplace_back(list);
        list += names.back().size() + 1;
    }
    return names;
}

bool OpenALDefaultDeviceOpens() {
    ALCdevice* dev = alcOpenDevice(nullptr);
    if (!dev) return false;
    alcCloseDevice(dev);
    return true;
}

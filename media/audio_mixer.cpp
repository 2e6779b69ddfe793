// The software mixer and the "FreeAudio" back ends that play it through
// SDL's audio device.

#include "media/audio_mixer.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

enum class VoiceState { Free, Cued, Playing, Paused, Finished };

struct MixVoice {
    SoundDataRef data;
    bool loop = false;
    float volume = 1.0f, pan = 0.0f, rate = 1.0f;
    VoiceState state = VoiceState::Free;
    uint64_t pos = 0;  // play position in frames, 32.32 fixed point
    // Gains applied at the end of the last block; changes ramp from these
    // over one block so volume and pan moves do not click.
    float gainL = 0.0f, gainR = 0.0f;
    bool gainsSet = false;  // false until the first block of a cue
    bool active = false;    // in the mixer's playing list
};

namespace {

constexpr double kFixedOne = 4294967296.0;  // 1 << 32

float Clamp(float v, float lo, float hi, float nanValue) {
    if (std::isnan(v)) return nanValue;
    return v < lo ? lo : (v > hi ? hi : v);
}

// Mixes one voice into out; returns false when a non-looping sound ran out.
bool MixOne(MixVoice& v, float* out, int frames, int outRate) {
    const TSoundData& d = *v.data;
    const int16_t* s = d.samples.data();
    const uint64_t nFrames = uint64_t(d.frames);
    const uint64_t endPos = nFrames << 32;
    double stepD = double(d.rate) * double(v.rate) / double(outRate) * kFixedOne;
    uint64_t step = stepD < 1.0 ? 1 : uint64_t(stepD);

    // Target gains, with the sample scale folded in.
    float pl, pr;
    PanGains(v.pan, &pl, &pr);
    if (d.channels == 2) {
        // Stereo material is already balanced: at centre both sides keep
        // their level, towards a side the far one fades out.
        pl = std::min(1.0f, pl * float(M_SQRT2));
        pr = std::min(1.0f, pr * float(M_SQRT2));
    }
    const float scale = v.volume / 32768.0f;
    const float tl = pl * scale, tr = pr * scale;
    if (!v.gainsSet) {
        v.gainL = tl;
        v.gainR = tr;
        v.gainsSet = true;
    }
    float gl = v.gainL, gr = v.gainR;
    const float dl = (tl - gl) / float(frames), dr = (tr - gr) / float(frames);

    uint64_t pos = v.pos;
    bool alive = true;
    int i = 0;
    while (i < frames) {
        if (pos >= endPos) {
            if (!v.loop) { alive = false; break; }
            pos %= endPos;
        }
        // Frames we can mix before the interpolation partner would pass the
        // last frame: run them without per-sample bounds checks.
        const uint64_t safeEnd = (nFrames - 1) << 32;
        int run = 0;
        if (pos < safeEnd) {
            uint64_t n = (safeEnd - pos + step - 1) / step;
            run = int(std::min<uint64_t>(n, uint64_t(frames - i)));
        }
        if (d.channels == 1) {
            for (int k = 0; k < run; ++k) {
                const uint64_t idx = pos >> 32;
                const float f = float(uint32_t(pos)) * (1.0f / 4294967296.0f);
                const float a = s[idx], b = s[idx + 1];
                const float x = a + (b - a) * f;
                out[2 * i] += x * gl;
                out[2 * i + 1] += x * gr;
                gl += dl; gr += dr; pos += step; ++i;
            }
        } else {
            for (int k = 0; k < run; ++k) {
                const uint64_t idx = pos >> 32;
                const float f = float(uint32_t(pos)) * (1.0f / 4294967296.0f);
                const int16_t* p = s + 2 * idx;
                const float l = p[0] + (p[2] - p[0]) * f;
                const float r = p[1] + (p[3] - p[1]) * f;
                out[2 * i] += l * gl;
                out[2 * i + 1] += r * gr;
                gl += dl; gr += dr; pos += step; ++i;
            }
        }
        if (i >= frames) break;
        if (pos >= endPos) continue;
        // The last frame: interpolate towards the start when looping,
        // otherwise hold it.
        const uint64_t idx = pos >> 32;
        const uint64_t nx = v.loop ? 0 : idx;
        const float f = float(uint32_t(pos)) * (1.0f / 4294967296.0f);
        if (d.channels == 1) {
            const float a = s[idx], b = s[nx];
            const float x = a + (b - a) * f;
            out[2 * i] += x * gl;
            out[2 * i + 1] += x * gr;
        } else {
            const float l = s[2 * idx] + (s[2 * nx] - s[2 * idx]) * f;
            const float r = s[2 * idx + 1] + (s[2 * nx + 1] - s[2 * idx + 1]) * f;
            out[2 * i] += l * gl;
            out[2 * i + 1] += r * gr;
        }
        gl += dl; gr += dr; pos += step; ++i;
    }
    v.pos = pos;
    v.gainL = tl;
    v.gainR = tr;
    return alive;
}

void RemoveActive(std::vector<MixVoiceRef>& list, MixVoice* v) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == v) {
            list.erase(list.begin() + long(i));
            break;
        }
    }
    v->active = false;
}

}  // namespace

SoftMixer::SoftMixer(int outputRate) : rate_(outputRate > 0 ? outputRate : 48000) {
    active_.reserve(256);
    retired_.reserve(256);
}

SoftMixer::~SoftMixer() = default;

MixVoiceRef SoftMixer::NewVoice() {
    ReleaseRetired();
    return std::make_shared<MixVoice>();
}

void SoftMixer::ReleaseRetired() {
    std::vector<MixVoiceRef> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (retired_.empty()) return;
        gone.swap(retired_);
        retired_.reserve(256);
    }
}

void SoftMixer::Cue(const MixVoiceRef& v, SoundDataRef data, bool loop) {
    if (!v) return;
    ReleaseRetired();
    SoundDataRef old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (v->active) RemoveActive(active_, v.get());
        old = std::move(v->data);
        if (closed_) data.reset();
        v->data = std::move(data);
        v->loop = loop;
        v->pos = 0;
        v->gainsSet = false;
        v->state = v->data ? VoiceState::Cued : VoiceState::Free;
    }
}

void SoftMixer::SetVolume(const MixVoiceRef& v, float volume) {
    if (!v) return;
    std::lock_guard<std::mutex> lock(mutex_);
    v->volume = Clamp(volume, 0.0f, 1.0f, 0.0f);
}

void SoftMixer::SetPan(const MixVoiceRef& v, float pan) {
    if (!v) return;
    std::lock_guard<std::mutex> lock(mutex_);
    v->pan = Clamp(pan, -1.0f, 1.0f, 0.0f);
}

void SoftMixer::SetRate(const MixVoiceRef& v, float rate) {
    if (!v) return;
    std::lock_guard<std::mutex> lock(mutex_);
    v->rate = Clamp(rate, 1.0f / 64.0f, 64.0f, 1.0f);
}

void SoftMixer::SetPaused(const MixVoiceRef& v, bool paused) {
    if (!v) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (paused) {
        if (v->state == VoiceState::Playing) {
            v->state = VoiceState::Paused;
            if (v->active) RemoveActive(active_, v.get());
        }
    } else if ((v->state == VoiceState::Cued || v->state == VoiceState::Paused) && !closed_) {
        v->state = VoiceState::Playing;
        if (!v->active) {
            active_.push_back(v);
            v->active = true;
        }
    }
}

void SoftMixer::Stop(const MixVoiceRef& v) {
    if (!v) return;
    ReleaseRetired();
    SoundDataRef old;
    std::lock_guard<std::mutex> lock(mutex_);
    if (v->active) RemoveActive(active_, v.get());
    old = std::move(v->data);
    v->state = VoiceState::Free;
}

bool SoftMixer::Playing(const MixVoiceRef& v) {
    if (!v) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return v->state == VoiceState::Playing;
}

int SoftMixer::PlayingVoices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(active_.size());
}

void SoftMixer::Close() {
    std::vector<MixVoiceRef> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        for (auto& v : active_) {
            v->state = VoiceState::Free;
            v->active = false;
        }
        gone.swap(active_);
        for (auto& v : retired_) gone.push_back(std::move(v));
        retired_.clear();
    }
    // Sound data of the stopped voices is released here, not under the lock.
    for (auto& v : gone) {
        std::lock_guard<std::mutex> lock(mutex_);
        v->data.reset();
    }
}

void SoftMixer::Mix(float* out, int frames) {
    if (!out || frames <= 0) return;
    std::fill(out, out + 2 * size_t(frames), 0.0f);
    std::lock_guard<std::mutex> lock(mutex_);
    size_t keep = 0;
    for (size_t i = 0; i < active_.size(); ++i) {
        MixVoice& v = *active_[i];
        if (MixOne(v, out, frames, rate_)) {
            if (keep != i) active_[keep] = std::move(active_[i]);
            ++keep;
        } else {
            // The sound ran out. The voice keeps its data until the
            // program's thread cues or stops it, so nothing is freed here.
            v.state = VoiceState::Finished;
            v.active = false;
            retired_.push_back(std::move(active_[i]));
        }
    }
    active_.resize(keep);
    // Clipping-safe output: whatever many loud voices add up to, the
    // device gets values in range.
    for (int i = 0; i < 2 * frames; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

// ------------------------------------------------------------ back end ---

namespace {

struct MixSound : TSound {
    std::weak_ptr<SoftMixer> owner;
};

class MixChannel : public TChannelBase {
public:
    MixChannel(std::shared_ptr<SoftMixer> mixer) : mixer_(std::move(mixer)), voice_(mixer_->NewVoice()) {}
    void Cue(const SoundRef& sound) override {
        auto* ms = dynamic_cast<MixSound*>(sound.get());
        if (ms && ms->data && ms->owner.lock() == mixer_) {
            mixer_->Cue(voice_, ms->data, ms->loop);
        } else {
            mixer_->Cue(voice_, nullptr, false);
        }
    }
    void SetVolume(float volume) override { mixer_->SetVolume(voice_, volume); }
    void SetPan(float pan) override { mixer_->SetPan(voice_, pan); }
    void SetRate(float rate) override { mixer_->SetRate(voice_, rate); }
    void SetPaused(bool paused) override { mixer_->SetPaused(voice_, paused); }
    void Stop() override { mixer_->Stop(voice_); }
    bool Playing() override { return mixer_->Playing(voice_); }

private:
    std::shared_ptr<SoftMixer> mixer_;
    MixVoiceRef voice_;
};

class MixerDriver : public TAudioDriver {
public:
    explicit MixerDriver(const std::string& name) : TAudioDriver(name) {}
    ~MixerDriver() override { Shutdown(); }

    bool Startup() override {
        Shutdown();
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        SDL_AudioSpec want{}, have{};
        want.freq = 48000;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        // 512 frames: about 11 ms at 48 kHz, under one 60 Hz frame.
        want.samples = 512;
        want.callback = &MixerDriver::Callback;
        want.userdata = this;
        dev_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (dev_ == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        // The callback sees the mixer only once it exists; until then it
        // writes silence.
        SDL_LockAudioDevice(dev_);
        mixer_ = std::make_shared<SoftMixer>(have.freq);
        SDL_UnlockAudioDevice(dev_);
        SDL_PauseAudioDevice(dev_, 0);
        return true;
    }

    void Shutdown() override {
        if (dev_ != 0) {
            SDL_CloseAudioDevice(dev_);  // returns after the last callback
            dev_ = 0;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        if (mixer_) {
            mixer_->Close();
            mixer_.reset();
        }
    }

    ChannelRef AllocChannel() override {
        if (!mixer_) return nullptr;
        return std::make_shared<MixChannel>(mixer_);
    }

    SoundRef MakeSound(std::shared_ptr<TSoundData> data, bool loop) override {
        if (!mixer_ || !data) return nullptr;
        auto s = std::make_shared<MixSound>();
        s->data = std::move(data);
        s->loop = loop;
        s->owner = mixer_;
        return s;
    }

    bool CaptureBegin(int* rate) override {
        if (!mixer_) return false;
        if (dev_ != 0) SDL_PauseAudioDevice(dev_, 1);
        if (rate) *rate = mixer_->Rate();
        return true;
    }
    bool CaptureMix(float* out, int frames) override {
        if (!mixer_) return false;
        mixer_->Mix(out, frames);
        return true;
    }
    bool DeviceOpen() const override { return dev_ != 0; }
    int MixRate() const override { return mixer_ ? mixer_->Rate() : 0; }

private:
    static void SDLCALL Callback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<MixerDriver*>(userdata);
        const int frames = len / int(2 * sizeof(float));
        if (self->mixer_) {
            self->mixer_->Mix(reinterpret_cast<float*>(stream), frames);
        } else {
            std::fill(stream, stream + len, Uint8(0));
        }
    }

    SDL_AudioDeviceID dev_ = 0;
    std::shared_ptr<SoftMixer> mixer_;
};

}  // namespace

std::unique_ptr<TAudioDriver> MakeMixerAudioDriver(const std::string& name) {
    return std::make_unique<MixerDriver>(name);
}

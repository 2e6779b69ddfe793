// The audio service: the registry of back ends, the choice between them,
// loading and cueing, and the silent "Null" back end.

#include "media/audio_internal.h"
#include "media/system.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

void PanGains(float pan, float* left, float* right) {
    if (std::isnan(pan)) pan = 0.0f;
    pan = std::clamp(pan, -1.0f, 1.0f);
    const double theta = (double(pan) + 1.0) * (M_PI / 4.0);
    *left = float(std::cos(theta));
    *right = float(std::sin(theta));
}

// ------------------------------------------------------------------ Null ---
// Silent, but channels behave as if heard: they play for the sound's length
// at their rate on the program's clock, so a run on the virtual clock is
// repeatable.

namespace {

struct NullSound : TSound {
    uint64_t owner = 0;  // run of the Null back end that made it
};

struct NullRun {
    uint64_t serial = 0;  // 0 while shut down
};

class NullChannel : public TChannelBase {
public:
    explicit NullChannel(std::shared_ptr<NullRun> run) : run_(std::move(run)), serial_(run_->serial) {}

    void Cue(const SoundRef& sound) override {
        Stop();
        auto* ns = dynamic_cast<NullSound*>(sound.get());
        if (!Alive() || !ns || !ns->data || ns->owner != serial_) return;
        lengthMs_ = double(ns->data->frames) * 1000.0 / double(ns->data->rate);
        loop_ = ns->loop;
        posMs_ = 0.0;
        sound_ = sound;
        state_ = State::Cued;
    }
    void SetVolume(float) override {}
    void SetPan(float) override {}
    void SetRate(float rate) override {
        Advance();
        if (std::isnan(rate)) rate = 1.0f;
        rate_ = std::clamp(rate, 1.0f / 64.0f, 64.0f);
    }
    void SetPaused(bool paused) override {
        Advance();
        if (paused) {
            if (state_ == State::Playing) state_ = State::Paused;
        } else if (state_ == State::Cued || state_ == State::Paused) {
            state_ = State::Playing;
            markMs_ = PeekMillisecs();
        }
    }
    void Stop() override {
        state_ = State::Free;
        sound_.reset();
    }
    bool Playing() override {
        Advance();
        return state_ == State::Playing;
    }

private:
    enum class State { Free, Cued, Playing, Paused, Finished };
    bool Alive() const { return run_->serial != 0 && run_->serial == serial_; }
    // Moves the play position on by the clock time since the last look.
    void Advance() {
        if (state_ != State::Playing) return;
        if (!Alive()) {
            Stop();
            return;
        }
        const int now = PeekMillisecs();
        const int32_t dt = MsDiff(now, markMs_);
        markMs_ = now;
        if (dt > 0) posMs_ += double(dt) * rate_;
        if (posMs_ >= lengthMs_) {
            if (loop_) {
                posMs_ = std::fmod(posMs_, lengthMs_);
            } else {
                state_ = State::Finished;
                sound_.reset();
            }
        }
    }

    std::shared_ptr<NullRun> run_;
    uint64_t serial_;
    State state_ = State::Free;
    SoundRef sound_;
    double lengthMs_ = 0.0, posMs_ = 0.0;
    float rate_ = 1.0f;
    bool loop_ = false;
    int markMs_ = 0;
};

class NullDriver : public TAudioDriver {
public:
    NullDriver() : TAudioDriver("Null"), run_(std::make_shared<NullRun>()) {}
    bool Startup() override {
        static uint64_t nextSerial = 0;
        run_->serial = ++nextSerial;
        return true;
    }
    void Shutdown() override { run_->serial = 0; }
    ChannelRef AllocChannel() override {
        if (run_->serial == 0) return nullptr;
        return std::make_shared<NullChannel>(run_);
    }
    SoundRef MakeSound(std::shared_ptr<TSoundData> data, bool loop) override {
        if (run_->serial == 0 || !data) return nullptr;
        auto s = std::make_shared<NullSound>();
        s->data = std::move(data);
        s->loop = loop;
        s->owner = run_->serial;
        return s;
    }

private:
    std::shared_ptr<NullRun> run_;
};

// -------------------------------------------------------------- registry ---

struct Registry {
    // In registration order; the list the program sees is the reverse.
    std::vector<std::unique_ptr<TAudioDriver>> drivers;
    TAudioDriver* null = nullptr;
    TAudioDriver* current = nullptr;
    bool chosen = false;     // a SetAudioDriver (or the implicit choice) has run
    int openALUsable = -1;   // EnableOpenALDevices' answer once computed
};

Registry& Reg() {
    static Registry* reg = [] {
        auto* r = new Registry;
        r->drivers.push_back(MakeNullAudioDriver());
        r->null = r->drivers.back().get();
        // No DirectSound here, so neither "DirectSound" nor "FreeAudio
        // DirectSound" is registered. Both mixer names play through SDL.
        r->drivers.push_back(MakeMixerAudioDriver("FreeAudio Multimedia"));
        r->drivers.push_back(MakeMixerAudioDriver("FreeAudio"));
        r->drivers.push_back(MakeOpenALAudioDriver("OpenAL", "", true));
        return r;
    }();
    return *reg;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void EnsureChosen() {
    Registry& r = Reg();
    if (r.chosen) return;
    // As the program would: "DirectSound" first, "Null" if that fails (it
    // always does here, as it is not registered).
    if (!SetAudioDriver("DirectSound")) {
        r.current = r.null;  // SetAudioDriver has left "Null" running
    }
}

}  // namespace

std::unique_ptr<TAudioDriver> MakeNullAudioDriver() { return std::make_unique<NullDriver>(); }

std::vector<std::string> ListAudioDrivers() {
    Registry& r = Reg();
    std::vector<std::string> names;
    for (auto it = r.drivers.rbegin(); it != r.drivers.rend() && names.size() < 100; ++it) {
        names.push_back((*it)->Name);
    }
    return names;
}

bool AudioDriverExists(const std::string& name) {
    const std::string want = Lower(name);
    for (auto& d : Reg().drivers) {
        if (Lower(d->Name) == want) return true;
    }
    return false;
}

bool SetAudioDriver(const std::string& name) {
    Registry& r = Reg();
    r.chosen = true;
    if (r.current) r.current->Shutdown();
    r.current = r.null;
    r.null->Startup();
    const std::string want = Lower(name);
    for (auto it = r.drivers.rbegin(); it != r.drivers.rend(); ++it) {
        TAudioDriver* d = it->get();
        if (Lower(d->Name) != want) continue;
        if (d == r.null) return true;
        // The first match decides; a failed start does not go on to others.
        r.null->Shutdown();
        if (d->Startup()) {
            r.current = d;
            return true;
        }
        r.null->Startup();
        return false;
    }
    return false;
}

bool EnableOpenALDevices() {
    Registry& r = Reg();
    if (r.openALUsable >= 0) return r.openALUsable == 1;
    const std::vector<std::string> devices = ListOpenALDeviceNames();
    const bool usable = OpenALDefaultDeviceOpens();
    r.openALUsable = usable ? 1 : 0;
    if (usable) {
        for (const std::string& dev : devices) {
            if (!dev.empty()) r.drivers.push_back(MakeOpenALAudioDriver("OpenAL " + dev, dev, false));
        }
        r.drivers.push_back(MakeOpenALAudioDriver("OpenAL Default", "", false));
    }
    return usable;
}

std::string CurrentAudioDriver() {
    Registry& r = Reg();
    return r.current ? r.current->Name : std::string();
}

SoundRef LoadSoundFromMemory(const uint8_t* bytes, size_t size, int flags) {
    EnsureChosen();
    std::shared_ptr<TSoundData> data = DecodeSoundMemory(bytes, size);
    if (!data || !Reg().current) return nullptr;
    return Reg().current->MakeSound(std::move(data), (flags & 1) != 0);
}

SoundRef LoadSound(const std::string& path, int flags) {
    EnsureChosen();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ReportLoadFailure(path);
        return nullptr;
    }
    std::vector<uint8_t> bytes;
    bool ok = false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0 && size <= kMaxSoundFileBytes && std::fseek(f, 0, SEEK_SET) == 0) {
            bytes.resize(size_t(size));
            ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
        }
    }
    std::fclose(f);
    std::shared_ptr<TSoundData> data;
    if (ok) data = DecodeSoundMemory(bytes.data(), bytes.size());
    // Without an audio back end no sound loads; that is no fault of the file.
    if (!data) ReportLoadFailure(path);
    if (!data || !Reg().current) return nullptr;
    return Reg().current->MakeSound(std::move(data), (flags & 1) != 0);
}

ChannelRef AllocChannel() {
    EnsureChosen();
    TAudioDriver* d = Reg().current;
    return d ? d->AllocChannel() : nullptr;
}

ChannelRef CueSound(const SoundRef& sound, ChannelRef channel) {
    if (!channel) channel = AllocChannel();
    if (auto* c = dynamic_cast<TChannelBase*>(channel.get())) c->Cue(sound);
    return channel;
}

void ShutdownAudio() {
    Registry& r = Reg();
    if (r.current) r.current->Shutdown();
    r.current = nullptr;
    r.chosen = false;
}

TAudioDriver* CurrentAudioBackend() { return Reg().current; }

bool AudioCaptureBegin(int* rate) {
    TAudioDriver* d = Reg().current;
    return d && d->CaptureBegin(rate);
}

bool AudioCaptureMix(float* out, int frames) {
    TAudioDriver* d = Reg().current;
    return d && d->CaptureMix(out, frames);
}

bool AudioDeviceOpen() {
    TAudioDriver* d = Reg().current;
    return d && d->DeviceOpen();
}

int AudioMixRate() {
    TAudioDriver* d = Reg().current;
    return d ? d->MixRate() : 0;
}

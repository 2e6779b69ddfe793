// CPU cost of the software mixer: 64 voices of sounds recorded at mixed
// rates, played at mixed speeds and pans, mixed in device-sized blocks of 512
// frames at 48 kHz. "cpu_per_audio_s" is the CPU time the mixer needs for
// one second of audio, i.e. its share of one core (1 s would be the whole
// core); a few milliseconds, under a few per cent, is the goal.

#include "media/audio_internal.h"
#include "media/audio_mixer.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kOutputRate = 48000;
constexpr int kBlock = 512;

void MixVoices(benchmark::State& state) {
    const int voices = int(state.range(0));
    const bool stereo = state.range(1) != 0;
    const int rates[] = {11025, 22050, 44100, 48000};
    std::vector<SoundDataRef> sounds;
    for (int r : rates) sounds.push_back(MakeToneSound(r, stereo ? 2 : 1, 330.0, 0.3, 2.0));

    SoftMixer mixer(kOutputRate);
    std::vector<MixVoiceRef> live;
    for (int i = 0; i < voices; ++i) {
        MixVoiceRef v = mixer.NewVoice();
        mixer.SetVolume(v, 0.2f + 0.8f * float(i % 7) / 6.0f);
        mixer.SetPan(v, -1.0f + 2.0f * float(i % 9) / 8.0f);
        mixer.SetRate(v, 0.5f + 1.5f * float(i % 11) / 10.0f);  // 0.5 .. 2
        mixer.Cue(v, sounds[size_t(i) % sounds.size()], true);
        mixer.SetPaused(v, false);
        live.push_back(v);
    }
    std::vector<float> out(2 * kBlock);
    for (auto _ : state) {
        mixer.Mix(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (mixer.PlayingVoices() != voices) state.SkipWithError("voices stopped");
    // Seconds of CPU per second of audio.
    const double audioPerBlock = double(kBlock) / kOutputRate;
    state.counters["cpu_per_audio_s"] = benchmark::Counter(
        audioPerBlock, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(MixVoices)->ArgNames({"voices", "stereo"})->Args({64, 0})->Args({64, 1})->Args({16, 0});

BENCHMARK_MAIN();

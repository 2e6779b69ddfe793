// Sound synthesis helpers for the asset generator: oscillators, envelopes,
// noise, simple filters, and the WAV and Ogg Vorbis writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

// A mono or interleaved-stereo float buffer at a sample rate.
struct Sound {
    int rate = 22050;
    int channels = 1;
    std::vector<float> s;  // interleaved when channels == 2
    int frames() const { return channels ? (int)(s.size() / channels) : 0; }
    double seconds() const { return rate ? (double)frames() / rate : 0; }
};

constexpr double kPi = 3.14159265358979323846;

// Deterministic white noise source.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1) {}
    float next() {  // -1..1
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (float)((double)state / 2147483648.0 - 1.0);
    }
};

// One-pole low-pass / high-pass and an RBJ biquad, in direct form I.
struct OnePole {
    float a = 0, z = 0;
    void setLowpass(double cutoff, int rate);
    float lp(float x) { z += a * (x - z); return z; }
    float hp(float x) { return x - lp(x); }
};
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    void bandpass(double freq, double q, int rate);
    void lowpass(double freq, double q, int rate);
    void highpass(double freq, double q, int rate);
    float run(float x);
};

// Band-limited-enough waveforms for game sounds (phase in cycles).
float Sine(double phase);
float Square(double phase, double duty = 0.5);
float Saw(double phase);
float Triangle(double phase);
// Band-limited (PolyBLEP) square and saw for pitched tones, where the plain
// forms would alias into audible inharmonic whistles; dt = frequency / rate.
float SquareBL(double phase, double dt, double duty = 0.5);
float SawBL(double phase, double dt);

// Envelope helpers, t in seconds.
float ExpDecay(double t, double tau);
float AttackDecay(double t, double attack, double tau);

// Peak level of a buffer (absolute value, 0..1+).
float Peak(const Sound& snd);
// Scales the buffer so its peak equals `peakDb` dBFS.
void Normalise(Sound& snd, double peakDb);
// Short fades at both ends so no sound starts or stops with a click.
void FadeEdges(Sound& snd, double inSeconds, double outSeconds);

// 16-bit PCM WAV: "RIFF", "WAVE", "fmt " (16 bytes), then "data": the plain
// 44-byte header layout.
bool WriteWav(const std::string& path, const Sound& snd);
std::vector<int16_t> ToPcm16(const Sound& snd);

// Ogg Vorbis at a VBR quality, with a fixed stream serial number so the same
// samples give the same file.
bool WriteOgg(const std::string& path, const Sound& snd, float quality, int serial);

}  // namespace assetgen

// The title music: a 20-bar loop in A minor at 128 beats per minute with a
// square lead, a plucked arpeggio, a filtered saw bass, a soft pad and a drum
// kit. Notes that ring past the loop's end are wrapped onto its start, so the
// loop restarts without a click or a gap.
#include "assetgen.h"
#include "audio.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

namespace assetgen {

namespace {

constexpr int kRate = 44100;
constexpr double kBpm = 128;
constexpr double kBeat = 60.0 / kBpm;
constexpr double kStep = kBeat / 4;  // a sixteenth
constexpr int kBars = 20;
constexpr double kBar = kBeat * 4;

double NoteHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Note names like "A4", "G#4", "Bb3" to MIDI numbers.
int Midi(const std::string& n) {
    static const int base[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    int v = base[n[0] - 'A'];
    size_t i = 1;
    if (i < n.size() && n[i] == '#') { v++; i++; }
    else if (i < n.size() && n[i] == 'b') { v--; i++; }
    int octave = n[i] - '0';
    return 12 * (octave + 1) + v;
}

struct Mixer {
    Sound out;
    std::vector<float> send;  // what feeds the echo (lead and arpeggio only)
    Mixer() {
        out.rate = kRate;
        out.channels = 2;
        out.s.assign((size_t)(kBars * kBar * kRate) * 2, 0.0f);
        send.assign(out.s.size(), 0.0f);
    }
    // Adds a mono voice at `start` seconds, panned -1..1, wrapping at the
    // end; `echo` is how much of it goes to the echo.
    void add(double start, double length, float pan, const std::function<float(double)>& gen, float echo = 0) {
        int frames = out.frames();
        int i0 = (int)std::lround(start * kRate), n = (int)(length * kRate);
        float gl = (float)std::cos((pan + 1) * kPi / 4), gr = (float)std::sin((pan + 1) * kPi / 4);
        for (int i = 0; i < n; i++) {
            float v = gen((double)i / kRate);
            int j = (i0 + i) % frames;
            out.s[(size_t)j * 2] += v * gl;
            out.s[(size_t)j * 2 + 1] += v * gr;
            if (echo > 0) {
                send[(size_t)j * 2] += v * gl * echo;
                send[(size_t)j * 2 + 1] += v * gr * echo;
            }
        }
    }
};

struct Osc {
    double phase = 0, dt = 0;
    double step(double f) {
        double p = phase;
        dt = f / kRate;
        phase += dt;
        if (phase > 1e6) phase -= std::floor(phase);
        return p;
    }
    float square(double f, double duty = 0.5) {
        double p = step(f);
        return SquareBL(p, dt, duty);
    }
    float saw(double f) {
        double p = step(f);
        return SawBL(p, dt);
    }
};

// --------------------------------------------------------------- voices ---

void Lead(Mixer& m, double start, double length, int midi, float vol) {
    double f = NoteHz(midi);
    Osc a, b, vib;
    Biquad lp;
    lp.lowpass(3800, 0.9, kRate);
    m.add(start, length + 0.12, 0.1f, [=](double t) mutable {
        // Vibrato fades in on held notes.
        double depth = 0.006 * std::min(1.0, std::max(0.0, (t - 0.15) / 0.2));
        double ff = f * (1 + depth * Sine(vib.step(5.5)));
        float v = 0.55f * a.square(ff, 0.5) + 0.45f * b.square(ff * 1.004, 0.25);
        float env = (float)(std::min(1.0, t / 0.006) * (t < length ? 0.85 + 0.15 * std::exp(-t / 0.08)
                                                                   : std::exp(-(t - length) / 0.03)));
        return lp.run(v) * env * vol;
    }, 1.0f);
}

void Pluck(Mixer& m, double start, int midi, float pan, float vol) {
    double f = NoteHz(midi);
    Osc a;
    Biquad lp;
    m.add(start, 0.3, pan, [=](double t) mutable {
        lp.lowpass(600 + 4000 * std::exp(-t / 0.04), 1.2, kRate);
        return lp.run(a.square(f, 0.3)) * AttackDecay(t, 0.002, 0.08) * vol;
    }, 0.6f);
}

void Bass(Mixer& m, double start, double length, int midi, float vol) {
    double f = NoteHz(midi);
    Osc a, sub;
    Biquad lp;
    m.add(start, length + 0.03, 0, [=](double t) mutable {
        lp.lowpass(250 + 900 * std::exp(-t / 0.06), 1.5, kRate);
        float v = 0.7f * lp.run(a.saw(f)) + 0.5f * Sine(sub.step(f));
        float env = (float)(std::min(1.0, t / 0.004) * (t < length ? 1.0 : std::exp(-(t - length) / 0.01)));
        return v * env * vol;
    });
}

void Pad(Mixer& m, double start, double length, const std::vector<int>& chord, float vol) {
    for (size_t k = 0; k < chord.size(); k++) {
        double f = NoteHz(chord[k]);
        for (int side = -1; side <= 1; side += 2) {
            Osc a;
            OnePole lp;
            lp.setLowpass(1100, kRate);
            double detune = 1 + 0.003 * side;
            m.add(start, length + 0.3, 0.6f * side, [=](double t) mutable {
                float env = (float)(std::min(1.0, t / 0.25) * (t < length ? 1.0 : std::exp(-(t - length) / 0.12)));
                return lp.lp(a.saw(f * detune)) * env * vol;
            });
        }
    }
}

void Kick(Mixer& m, double start, float vol) {
    Osc a;
    m.add(start, 0.35, 0, [=](double t) mutable {
        double f = 48 + 110 * std::exp(-t / 0.03);
        return Sine(a.step(f)) * AttackDecay(t, 0.001, 0.14) * vol;
    });
}

void Snare(Mixer& m, double start, float vol, uint32_t seed) {
    Noise n(seed);
    Biquad bp;
    bp.bandpass(2000, 0.9, kRate);
    Osc a;
    m.add(start, 0.3, -0.1f, [=](double t) mutable {
        return (bp.run(n.next()) * ExpDecay(t, 0.09) * 1.3f + Sine(a.step(190)) * ExpDecay(t, 0.04) * 0.5f) * vol;
    });
}

void Hat(Mixer& m, double start, float vol, bool open, uint32_t seed) {
    Noise n(seed);
    Biquad hp;
    hp.highpass(7000, 0.8, kRate);
    m.add(start, open ? 0.25 : 0.06, 0.35f, [=](double t) mutable {
        return hp.run(n.next()) * ExpDecay(t, open ? 0.08 : 0.018) * vol;
    });
}

// ----------------------------------------------------------------- score ---

struct Chord {
    int root;                 // bass note
    std::vector<int> tones;   // arpeggio and pad notes
};

// Chords bar by bar.
std::vector<Chord> Progression() {
    auto c = [](const char* r, std::vector<const char*> t) {
        Chord ch;
        ch.root = Midi(r);
        for (const char* n : t) ch.tones.push_back(Midi(n));
        return ch;
    };
    Chord Am = c("A2", {"A3", "C4", "E4", "A4"});
    Chord F = c("F2", {"F3", "A3", "C4", "F4"});
    Chord C = c("C3", {"G3", "C4", "E4", "G4"});
    Chord G = c("G2", {"G3", "B3", "D4", "G4"});
    Chord E = c("E2", {"G#3", "B3", "E4", "G#4"});
    Chord Em = c("E2", {"G3", "B3", "E4", "G4"});
    return {Am, F, C, G,  Am, F, C, G,  Am, F, G, E,  F, G, Em, Am,  F, G, E, E};
}

// The lead, one string per bar of eight eighth-notes: a note name starts a
// note, "-" holds it, "." is a rest.
std::vector<std::string> Melody() {
    return {
        ". . . . . . . .", ". . . . . . . .", ". . . . . . . .", ". . . . . . E4 G4",
        "A4 - E4 A4 C5 - B4 A4", "C5 - - A4 F4 - A4 -", "G4 - E4 G4 C5 - D5 E5", "D5 - B4 - G4 - E4 G4",
        "A4 - E4 A4 C5 - E5 -", "F5 - E5 D5 C5 - A4 -", "B4 - D5 - G5 - F5 E5", "G#4 - B4 - E5 - - .",
        "A5 - G5 A5 - F5 - C5", "B4 - D5 G5 - F5 E5 D5", "E5 - B4 - G4 B4 E5 G5", "A5 - - - E5 - C5 -",
        "C5 A4 C5 F5 - E5 - C5", "D5 B4 D5 G5 - F5 - D5", "E5 - G#4 - B4 - E5 -", "D5 - C5 - B4 - G#4 -",
    };
}

void Score(Mixer& m) {
    std::vector<Chord> prog = Progression();
    std::vector<std::string> mel = Melody();
    uint32_t seed = 1000;
    for (int bar = 0; bar < kBars; bar++) {
        double t0 = bar * kBar;
        const Chord& ch = prog[bar];
        bool intro = bar < 4;
        bool lastBar = bar == kBars - 1;

        // Drums.
        for (int beat = 0; beat < 4; beat++) {
            double t = t0 + beat * kBeat;
            if (!intro || beat % 2 == 0) Kick(m, t, 0.75f);
            if (!intro && (beat == 1 || beat == 3) && !(lastBar && beat == 3)) Snare(m, t, 0.45f, seed++);
            for (int e = 0; e < 2; e++) {
                bool open = e == 1 && beat == 3 && !intro;
                Hat(m, t + e * 2 * kStep, (e ? 0.22f : 0.14f), open, seed++);
            }
        }
        if (lastBar) {
            // A snare roll that leads back to the top.
            for (int k = 0; k < 8; k++) Snare(m, t0 + 2 * kBeat + k * kStep, 0.18f + 0.04f * k, seed++);
        }
        if (bar == 3) {
            for (int k = 0; k < 4; k++) Snare(m, t0 + 3 * kBeat + k * kStep, 0.15f + 0.06f * k, seed++);
        }

        // Bass: a bouncing eighth pattern around the root.
        const int pattern[8] = {0, -1, 0, 12, 0, -1, 12, 0};  // -1 = rest
        for (int e = 0; e < 8; e++) {
            if (pattern[e] < 0) continue;
            Bass(m, t0 + e * 2 * kStep, 2 * kStep * 0.8, ch.root + pattern[e], 0.36f);
        }

        // Arpeggio in sixteenths, up and down the chord, left and right.
        const int order[8] = {0, 1, 2, 3, 2, 1, 2, 3};
        for (int s = 0; s < 16; s++) {
            int note = ch.tones[order[s % 8]] + 12;
            float vol = (s % 4 == 0 ? 0.13f : 0.09f) * (intro ? 1.3f : 1.0f);
            Pluck(m, t0 + s * kStep, note, (s % 2) ? 0.5f : -0.5f, vol);
        }

        // Pad under the whole bar.
        Pad(m, t0, kBar * 0.95, ch.tones, intro ? 0.035f : 0.028f);

        // Lead.
        std::istringstream in(mel[bar]);
        std::string tok;
        std::vector<std::string> slots;
        while (in >> tok) slots.push_back(tok);
        for (size_t i = 0; i < slots.size(); i++) {
            if (slots[i] == "-" || slots[i] == ".") continue;
            size_t len = 1;
            while (i + len < slots.size() && slots[i + len] == "-") len++;
            Lead(m, t0 + i * 2 * kStep, len * 2 * kStep * 0.92, Midi(slots[i]), 0.27f);
        }
    }
}

// A stereo ping-pong echo on the lead and the arpeggio, wrapped around the
// loop like the notes; drums and bass stay dry so the low end stays tight.
void Echo(Mixer& m) {
    Sound& s = m.out;
    int frames = s.frames();
    int delayL = (int)(kBeat * 0.75 * kRate), delayR = (int)(kBeat * 0.5 * kRate);
    OnePole darkL, darkR;
    darkL.setLowpass(3000, kRate);
    darkR.setLowpass(3000, kRate);
    for (int pass = 1; pass <= 3; pass++) {
        float g = 0.3f * std::pow(0.5f, (float)(pass - 1));
        for (int i = 0; i < frames; i++) {
            int jl = (i + pass * delayL) % frames, jr = (i + pass * delayR) % frames;
            // Cross-feed: the left echo comes from the right and back.
            s.s[(size_t)jl * 2] += g * darkL.lp(m.send[(size_t)i * 2 + 1]);
            s.s[(size_t)jr * 2 + 1] += g * darkR.lp(m.send[(size_t)i * 2]);
        }
    }
}

}  // namespace

bool MakeMusic(const std::string& filesDir, std::vector<std::string>& written) {
    Mixer m;
    Score(m);
    Echo(m);
    Normalise(m.out, -2.0);
    std::string path = filesDir + "/418/wormlob.ogg";
    if (!WriteOgg(path, m.out, 0.3f, 0x574C4F42)) {
        std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
        return false;
    }
    written.push_back(path);
    return true;
}

}  // namespace assetgen

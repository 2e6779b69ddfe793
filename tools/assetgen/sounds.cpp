// The numbered sound effects and the badge jingle, synthesised from
// oscillators, envelopes and filtered noise.
#include "assetgen.h"
#include "audio.h"

#include <cmath>
#include <cstdio>
#include <functional>

namespace assetgen {

namespace {

constexpr int kRate = 22050;

Sound Blank(double seconds, int rate = kRate) {
    Sound s;
    s.rate = rate;
    s.channels = 1;
    s.s.assign((size_t)(seconds * rate), 0.0f);
    return s;
}

// Adds gen(t) (t in seconds from `start`) into the buffer.
void Add(Sound& snd, double start, double length, const std::function<float(double)>& gen) {
    int i0 = (int)(start * snd.rate), n = (int)(length * snd.rate);
    for (int i = 0; i < n && i0 + i < snd.frames(); i++) {
        if (i0 + i < 0) continue;
        snd.s[(size_t)(i0 + i)] += gen((double)i / snd.rate);
    }
}

// A phase accumulator for gliding pitch.
struct Osc {
    double phase = 0, dt = 0;
    double step(double freq, int rate) {
        double p = phase;
        dt = freq / rate;
        phase += dt;
        if (phase > 1e6) phase -= std::floor(phase);
        return p;
    }
    float square(double freq, int rate, double duty = 0.5) {
        double p = step(freq, rate);
        return SquareBL(p, dt, duty);
    }
    float saw(double freq, int rate) {
        double p = step(freq, rate);
        return SawBL(p, dt);
    }
};

double NoteHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// ------------------------------------------------------------- strikes ---
// Six short knocks of different materials; the game plays them at random
// rates 0.6 to 1.3, so each is a single clear hit with no tail.

Sound WoodKnock() {
    Sound s = Blank(0.2);
    Osc o;
    Noise n(11);
    Biquad bp;
    bp.bandpass(2600, 2.5, kRate);
    Add(s, 0, 0.2, [&](double t) {
        double f = 520 * (1 + 0.6 * std::exp(-t / 0.008));
        float tone = Sine(o.step(f, kRate)) * ExpDecay(t, 0.035);
        float click = bp.run(n.next()) * ExpDecay(t, 0.004) * 1.5f;
        return tone + click;
    });
    return s;
}

Sound HollowTock() {
    Sound s = Blank(0.24);
    Osc a, b;
    Noise n(12);
    Biquad bp;
    bp.bandpass(900, 3, kRate);
    Add(s, 0, 0.24, [&](double t) {
        float tone = Sine(a.step(330, kRate)) * ExpDecay(t, 0.05) +
                     0.35f * Sine(b.step(330 * 2.95, kRate)) * ExpDecay(t, 0.018);
        float knock = bp.run(n.next()) * ExpDecay(t, 0.01) * 2.0f;
        return tone + knock;
    });
    return s;
}

Sound BrightTick() {
    Sound s = Blank(0.15);
    Osc car, mod;
    Add(s, 0, 0.15, [&](double t) {
        double index = 3.0 * std::exp(-t / 0.02);
        double m = Sine(mod.step(1400 * 1.41, kRate)) * index;
        float v = (float)std::sin(2 * kPi * car.step(1400, kRate) + m);
        return v * AttackDecay(t, 0.0008, 0.03);
    });
    return s;
}

Sound LowThud() {
    Sound s = Blank(0.26);
    Osc o;
    Noise n(14);
    OnePole lp;
    lp.setLowpass(900, kRate);
    Add(s, 0, 0.26, [&](double t) {
        double f = 140 + 160 * std::exp(-t / 0.02);
        float body = Sine(o.step(f, kRate)) * AttackDecay(t, 0.001, 0.07);
        float dirt = lp.lp(n.next()) * ExpDecay(t, 0.018) * 1.8f;
        return body + dirt;
    });
    return s;
}

Sound MetalClank() {
    Sound s = Blank(0.32);
    const double partials[][3] = {{820, 1.0, 0.07}, {1233, 0.7, 0.05}, {1710, 0.5, 0.04}, {2390, 0.35, 0.03}};
    for (int i = 0; i < 4; i++) {
        Osc o;
        double f = partials[i][0], a = partials[i][1], tau = partials[i][2];
        Add(s, 0, 0.32, [&, f, a, tau](double t) { return (float)(a * Sine(o.step(f, kRate)) * ExpDecay(t, tau)); });
    }
    Noise n(15);
    Biquad hp;
    hp.highpass(3000, 0.7, kRate);
    Add(s, 0, 0.05, [&](double t) { return hp.run(n.next()) * ExpDecay(t, 0.005) * 1.2f; });
    return s;
}

Sound SnapKnock() {
    Sound s = Blank(0.17);
    Noise n(16);
    Biquad bp;
    bp.bandpass(1800, 3, kRate);
    Osc o;
    Add(s, 0, 0.17, [&](double t) {
        return bp.run(n.next()) * ExpDecay(t, 0.03) * 2.5f + Sine(o.step(700, kRate)) * ExpDecay(t, 0.02) * 0.6f;
    });
    return s;
}

// --------------------------------------------------- pods off the bat ---

// A rubbery bounce: a soft square-ish tone whose pitch springs.
Sound Bounce(double f0, double f1, double glide, double tau, double wobble, double length, uint32_t seed) {
    Sound s = Blank(length);
    Osc o;
    OnePole lp;
    lp.setLowpass(2400, kRate);
    Noise n(seed);
    Add(s, 0, length, [&](double t) {
        double f = f1 + (f0 - f1) * std::exp(-t / glide);
        f *= 1 + wobble * std::sin(2 * kPi * 14 * t) * std::exp(-t / 0.15);
        double p = o.step(f, kRate);
        float tone = 0.6f * Sine(p) + 0.4f * Triangle(p) + 0.25f * lp.lp(SquareBL(p, o.dt, 0.35));
        return tone * AttackDecay(t, 0.002, tau) + n.next() * ExpDecay(t, 0.003) * 0.3f;
    });
    return s;
}

Sound DoubleBop() {
    Sound a = Bounce(260, 380, 0.02, 0.05, 0, 0.12, 21);
    Sound s = Blank(0.24);
    for (int i = 0; i < a.frames(); i++) {
        s.s[i] += a.s[i];
        int j = i + (int)(0.075 * kRate);
        if (j < s.frames()) s.s[j] += 0.7f * a.s[i];
    }
    return s;
}

// The ball off the bat: a crisp, bright "pock".
Sound BallPock() {
    Sound s = Blank(0.16);
    Osc o;
    Biquad lp;
    lp.lowpass(3200, 0.8, kRate);
    Noise n(30);
    Add(s, 0, 0.16, [&](double t) {
        double f = 660 + 330 * std::exp(-t / 0.006);
        float v = lp.run(o.square(f, kRate)) * AttackDecay(t, 0.0005, 0.04);
        return v + n.next() * ExpDecay(t, 0.002) * 0.5f;
    });
    return s;
}

// A mushroom plink: a small bell.
Sound Plink(double freq) {
    Sound s = Blank(0.6);
    Osc a, b, c;
    Add(s, 0, 0.6, [&](double t) {
        return Sine(a.step(freq, kRate)) * AttackDecay(t, 0.002, 0.2f) +
               0.45f * Sine(b.step(freq * 2.76, kRate)) * AttackDecay(t, 0.001, 0.07) +
               0.2f * Sine(c.step(freq * 5.4, kRate)) * AttackDecay(t, 0.001, 0.025);
    });
    return s;
}

// A worn pod's last bounce: it cracks apart.
Sound PodBreak() {
    Sound s = Blank(0.55);
    Noise n(40), grit(41);
    Biquad bp;
    bp.bandpass(1300, 1.2, kRate);
    Osc thump, fall;
    OnePole lp;
    lp.setLowpass(1500, kRate);
    Add(s, 0, 0.55, [&](double t) {
        float crack = bp.run(n.next()) * ExpDecay(t, 0.07) * 2.2f;
        // Crackle: sparse random pops fading out.
        float g = grit.next();
        float pops = (std::fabs(g) > 0.985f ? g * 3.0f : 0.0f) * ExpDecay(t, 0.15);
        float body = Sine(thump.step(85 + 60 * std::exp(-t / 0.03), kRate)) * AttackDecay(t, 0.001, 0.08);
        float drop = lp.lp(fall.square(420 * std::exp(-t * 2.8), kRate, 0.3)) * AttackDecay(t, 0.01, 0.16) * 0.6f;
        return crack + pops + body + drop;
    });
    return s;
}

// A spare: a soft whoosh.
Sound Whoosh() {
    Sound s = Blank(0.45);
    Noise n(50);
    Biquad bp;
    Add(s, 0, 0.45, [&](double t) {
        bp.bandpass(400 + 3000 * std::sin(kPi * t / 0.45) * std::sin(kPi * t / 0.45), 2.0, kRate);
        float env = (float)std::sin(kPi * t / 0.45);
        return bp.run(n.next()) * env * env;
    });
    return s;
}

// A ball or the bat lost: a falling, wobbling "wah-wah-waaah".
Sound Lost() {
    const double notes[] = {67, 66, 65, 64};
    const double len[] = {0.18, 0.18, 0.18, 0.55};
    double total = 0;
    for (double l : len) total += l;
    Sound s = Blank(total + 0.1);
    Osc o;
    Biquad lp;
    double start = 0;
    for (int k = 0; k < 4; k++) {
        double f0 = NoteHz(notes[k] - 12), L = len[k];
        bool last = k == 3;
        Add(s, start, L + 0.05, [&, f0, L, last](double t) {
            double f = f0 * (last ? (1 - 0.06 * t / L) * (1 + 0.012 * std::sin(2 * kPi * 6 * t)) : 1);
            // The filter opens and closes on each note: the "wah".
            double open = std::sin(kPi * std::min(1.0, t / L));
            lp.lowpass(300 + 1800 * open, 2.5, kRate);
            float v = lp.run(0.6f * o.saw(f, kRate) + 0.4f * SquareBL(o.phase, o.dt, 0.5));
            float env = (float)(std::min(1.0, t / 0.01) * std::min(1.0, std::max(0.0, (L + 0.05 - t) / 0.05)));
            return v * env;
        });
        start += L;
    }
    return s;
}

// One kept ball paid in the tally: a coin.
Sound Coin() {
    Sound s = Blank(0.42);
    Osc o;
    Add(s, 0, 0.07, [&](double t) { return o.square(987.77, kRate, 0.25) * 0.5f * (t < 0.068 ? 1.0f : 0.0f); });
    Osc p;
    Add(s, 0.07, 0.35, [&](double t) { return p.square(1318.51, kRate, 0.25) * 0.5f * AttackDecay(t, 0.001, 0.11); });
    OnePole lp;
    lp.setLowpass(5000, kRate);
    for (float& v : s.s) v = lp.lp(v);
    return s;
}

// The badge jingle: a rising arpeggio and a shimmering chord.
Sound Jingle() {
    Sound s = Blank(1.6);
    const double arp[] = {72, 76, 79, 84};
    for (int k = 0; k < 4; k++) {
        double f = NoteHz(arp[k]);
        Osc a, b;
        Add(s, 0.09 * k, 0.5, [=](double t) mutable {
            return (0.7f * Sine(a.step(f, kRate)) + 0.3f * Triangle(b.step(f * 2, kRate))) * AttackDecay(t, 0.003, 0.12) * 0.6f;
        });
    }
    const double chord[] = {84, 88, 91, 96};
    for (int k = 0; k < 4; k++) {
        double f = NoteHz(chord[k]);
        Osc a, b;
        Add(s, 0.36, 1.2, [=](double t) mutable {
            float trem = 1 + 0.25f * (float)std::sin(2 * kPi * 7 * t + k);
            return (0.75f * Sine(a.step(f, kRate)) + 0.25f * Sine(b.step(f * 3.01, kRate))) * AttackDecay(t, 0.01, 0.35) *
                   trem * 0.35f;
        });
    }
    // Sparkles: tiny high bell ticks.
    Noise n(60);
    for (int k = 0; k < 7; k++) {
        double f = 2600 + 300 * k, at = 0.38 + 0.11 * k;
        Osc a;
        float amp = 0.25f * (1 - k / 8.0f);
        Add(s, at, 0.15, [=](double t) mutable { return Sine(a.step(f, kRate)) * AttackDecay(t, 0.001, 0.03) * amp; });
    }
    return s;
}

bool Emit(const std::string& path, Sound snd, double peakDb, std::vector<std::string>& written) {
    FadeEdges(snd, 0.0005, 0.01);
    Normalise(snd, peakDb);
    if (!WriteWav(path, snd)) {
        std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
        return false;
    }
    written.push_back(path);
    return true;
}

}  // namespace

bool MakeSounds(const std::string& filesDir, std::vector<std::string>& written) {
    std::string game = filesDir + "/418/";
    auto num = [&](int n) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        return game + name;
    };
    bool ok = true;
    ok &= Emit(num(1), WoodKnock(), -2, written);
    ok &= Emit(num(2), HollowTock(), -2, written);
    ok &= Emit(num(3), BrightTick(), -3, written);
    ok &= Emit(num(4), LowThud(), -1.5, written);
    ok &= Emit(num(5), MetalClank(), -3, written);
    ok &= Emit(num(6), SnapKnock(), -2.5, written);
    ok &= Emit(num(7), Bounce(200, 420, 0.03, 0.09, 0, 0.2, 71), -2, written);
    ok &= Emit(num(8), Bounce(170, 200, 0.05, 0.16, 0.15, 0.4, 72), -2, written);
    ok &= Emit(num(9), DoubleBop(), -2, written);
    ok &= Emit(num(10), BallPock(), -2, written);
    const double plinks[] = {84, 86, 88, 91, 93};  // C6 D6 E6 G6 A6, rising
    for (int i = 0; i < 5; i++) ok &= Emit(num(11 + i), Plink(NoteHz(plinks[i])), -2.5, written);
    ok &= Emit(num(16), PodBreak(), -1.5, written);
    ok &= Emit(num(17), Whoosh(), -4, written);
    ok &= Emit(num(18), Lost(), -1.5, written);
    ok &= Emit(num(19), Coin(), -3, written);
    ok &= Emit(filesDir + "/Common/badgeget.wav", Jingle(), -2, written);
    return ok;
}

}  // namespace assetgen

// Looking at and listening to the assets: a contact sheet of every image on
// a dark background (raw, collision masks, and tinted with their glows as the
// game draws them), and the length and peak level of every sound.
#include "assetgen.h"
#include "raster.h"

#include <vorbis/vorbisfile.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace assetgen {

namespace {

bool Load(const std::string& path, Image& img) {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    if (!ReadPngRgba8(path, w, h, px)) {
        std::fprintf(stderr, "sheet: cannot read %s\n", path.c_str());
        return false;
    }
    img = Image(w, h);
    for (size_t i = 0; i < img.px.size(); i++)
        img.px[i] = {px[4 * i] / 255.0f, px[4 * i + 1] / 255.0f, px[4 * i + 2] / 255.0f, px[4 * i + 3] / 255.0f};
    return true;
}

RGBA Sample(const Image& s, float u, float v) {
    // Bilinear, premultiplied, clamped to transparent outside.
    float x = u - 0.5f, y = v - 0.5f;
    int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
    float fx = x - x0, fy = y - y0;
    RGBA acc;
    for (int j = 0; j < 2; j++)
        for (int i = 0; i < 2; i++) {
            int sx = x0 + i, sy = y0 + j;
            if (sx < 0 || sy < 0 || sx >= s.w || sy >= s.h) continue;
            float w = (i ? fx : 1 - fx) * (j ? fy : 1 - fy);
            const RGBA& p = s.at(sx, sy);
            acc.r += p.r * p.a * w; acc.g += p.g * p.a * w; acc.b += p.b * p.a * w; acc.a += p.a * w;
        }
    if (acc.a > 1e-6f) { acc.r /= acc.a; acc.g /= acc.a; acc.b /= acc.a; }
    return acc;
}

// Draws src centred at (cx, cy), scaled, tinted, blended normally or added.
void Draw(Image& dst, const Image& src, float cx, float cy, float sx, float sy, RGBA tint, bool additive) {
    float w = src.w * sx, h = src.h * sy;
    int x0 = (int)std::floor(cx - w / 2), y0 = (int)std::floor(cy - h / 2);
    for (int y = y0; y < y0 + (int)std::ceil(h) + 1; y++)
        for (int x = x0; x < x0 + (int)std::ceil(w) + 1; x++) {
            if (x < 0 || y < 0 || x >= dst.w || y >= dst.h) continue;
            float u = (x + 0.5f - (cx - w / 2)) / sx, v = (y + 0.5f - (cy - h / 2)) / sy;
            RGBA p = Sample(src, u, v);
            float a = p.a * tint.a;
            if (a <= 0) continue;
            RGBA& d = dst.at(x, y);
            float r = p.r * tint.r, g = p.g * tint.g, b = p.b * tint.b;
            if (additive) {
                d.r = Clamp01(d.r + r * a); d.g = Clamp01(d.g + g * a); d.b = Clamp01(d.b + b * a);
            } else {
                d.r = d.r * (1 - a) + r * a; d.g = d.g * (1 - a) + g * a; d.b = d.b * (1 - a) + b * a;
            }
        }
}

// The collision view: solid pixels white, soft pixels dim red.
Image MaskView(const Image& src) {
    Image m(src.w, src.h);
    for (size_t i = 0; i < m.px.size(); i++) {
        float a = src.px[i].a;
        if (a >= 128 / 255.0f) m.px[i] = {1, 1, 1, 1};
        else if (a > 0) m.px[i] = {0.6f, 0.1f, 0.1f, 1};
        else m.px[i] = {0, 0, 0, 0};
    }
    return m;
}

void Panel(Image& dst, int x, int y, int w, int h, RGBA c) {
    for (int j = y; j < y + h && j < dst.h; j++)
        for (int i = x; i < x + w && i < dst.w; i++)
            if (i >= 0 && j >= 0) dst.at(i, j) = c;
}

}  // namespace

bool MakeContactSheet(const std::string& filesDir, const std::string& outPng) {
    std::string g = filesDir + "/418/", c = filesDir + "/Common/";
    Image pods[6], podGlows[6], rooms[5], roomGlows[5], square, squareGlow, net, netGlow, spike, spikeGlow;
    Image icons, badges, logo, site;
    bool ok = true;
    for (int i = 1; i <= 5; i++) {
        ok &= Load(g + "pod" + std::to_string(i) + ".png", pods[i]);
        ok &= Load(g + "pod" + std::to_string(i) + "g.png", podGlows[i]);
    }
    for (int i = 1; i <= 4; i++) {
        ok &= Load(g + "mushroom" + std::to_string(i) + ".png", rooms[i]);
        ok &= Load(g + "mushroom" + std::to_string(i) + "g.png", roomGlows[i]);
    }
    ok &= Load(g + "whitesquare.png", square) && Load(g + "whitesquareg.png", squareGlow);
    ok &= Load(g + "net.png", net) && Load(g + "netg.png", netGlow);
    ok &= Load(g + "spike.png", spike) && Load(g + "spikeg.png", spikeGlow);
    ok &= Load(g + "badges.png", badges) && Load(c + "icons.png", icons);
    ok &= Load(c + "logo.png", logo) && Load(c + "Vantor.png", site);
    if (!ok) return false;

    Image sheet(1400, 1500);
    for (RGBA& p : sheet.px) p = {0.05f, 0.05f, 0.09f, 1};
    const RGBA white{1, 1, 1, 1};
    const RGBA colours[] = {{1, 0.25f, 0.25f, 1}, {1, 0.6f, 0.15f, 1}, {1, 1, 0.3f, 1},
                            {0.3f, 1, 0.35f, 1}, {0.3f, 1, 1, 1},     {0.4f, 0.5f, 1, 1}};

    // Row 1: raw bodies; row 2: their glows; row 3: collision masks.
    std::vector<const Image*> bodies, glows;
    for (int i = 1; i <= 5; i++) { bodies.push_back(&pods[i]); glows.push_back(&podGlows[i]); }
    bodies.push_back(&spike); glows.push_back(&spikeGlow);
    for (int i = 1; i <= 4; i++) { bodies.push_back(&rooms[i]); glows.push_back(&roomGlows[i]); }
    for (size_t i = 0; i < bodies.size(); i++) {
        float x = 74 + i * 134.0f;
        Panel(sheet, (int)x - 64, 10, 128, 128, {0.12f, 0.12f, 0.16f, 1});
        Draw(sheet, *bodies[i], x, 74, 1, 1, white, false);
        Panel(sheet, (int)x - 64, 144, 128, 128, {0.12f, 0.12f, 0.16f, 1});
        Draw(sheet, *glows[i], x, 208, 1, 1, white, false);
        Draw(sheet, MaskView(*bodies[i]), x, 342, 1, 1, white, false);
    }
    // Row 4: tinted with additive glow, large; row 5: at game size on a
    // drifting-background colour.
    Panel(sheet, 0, 410, 1400, 300, {0.10f, 0.06f, 0.14f, 1});
    for (size_t i = 0; i < bodies.size(); i++) {
        float x = 74 + i * 134.0f;
        RGBA tint = i == 5 ? white : colours[i % 6];
        Draw(sheet, *bodies[i], x, 480, 1, 1, tint, false);
        Draw(sheet, *glows[i], x, 480, 1.2f, 1.2f, {tint.r, tint.g, tint.b, 0.5f}, true);
        float s = i < 6 ? 0.5f : 0.3f;
        Draw(sheet, *bodies[i], x, 620, s, s, tint, false);
        Draw(sheet, *glows[i], x, 620, s * 1.2f, s * 1.2f, {tint.r, tint.g, tint.b, 0.5f}, true);
    }
    // Row 6: square, ball, bat and net as the game draws them, raw beside.
    Panel(sheet, 0, 720, 1400, 200, {0.08f, 0.12f, 0.10f, 1});
    Draw(sheet, square, 50, 800, 1, 1, white, false);
    Draw(sheet, squareGlow, 130, 800, 1, 1, white, false);
    Draw(sheet, net, 210, 800, 1, 1, white, false);
    Draw(sheet, netGlow, 290, 800, 1, 1, white, false);
    Draw(sheet, MaskView(net), 370, 800, 1, 1, white, false);
    // Ball (r = 12): scale 25/64 with glow 1.3.
    RGBA ballTint{1, 0.9f, 0.3f, 1};
    Draw(sheet, square, 470, 800, 25 / 64.0f, 25 / 64.0f, ballTint, false);
    Draw(sheet, squareGlow, 470, 800, 25 / 64.0f * 1.3f, 25 / 64.0f * 1.3f, {1, 0.9f, 0.3f, 0.5f}, true);
    // Bat: scale (2, 0.2), glow 1.5 alpha 0.4, green.
    Draw(sheet, square, 620, 860, 2, 0.2f, {0.31f, 1, 0.31f, 1}, false);
    Draw(sheet, squareGlow, 620, 860, 3, 0.3f, {0.31f, 1, 0.31f, 0.4f}, true);
    // Net at full size, tinted with a background-derived colour, glow 1.1.
    Draw(sheet, net, 800, 800, 1.5f, 1.5f, {0.6f, 0.9f, 1, 0.6f}, false);
    Draw(sheet, netGlow, 800, 800, 1.65f, 1.65f, {0.6f, 0.9f, 1, 0.8f}, true);
    // Sparks: tiny squares.
    for (int k = 0; k < 12; k++)
        Draw(sheet, square, 900 + k * 14.0f, 780 + (k % 3) * 12.0f, 0.15f, 0.15f, colours[k % 6], false);

    // Row 7: icons magnified (plain and tinted), badges, logos.
    Panel(sheet, 10, 930, 384, 384, {0.12f, 0.12f, 0.16f, 1});
    Draw(sheet, icons, 10 + 192, 930 + 192, 3, 3, white, false);
    Draw(sheet, icons, 420 + 128, 930 + 128, 2, 2, {0.31f, 1, 0.31f, 1}, false);
    Draw(sheet, badges, 700 + 0, 1400, 1, 1, white, false);
    // The splash: logos over blue stripes.
    Panel(sheet, 700, 930, 690, 400, {0, 0, 0.3f, 1});
    for (int y = 930; y < 1330; y++)
        for (int x = 700; x < 1390; x++)
            if (((x + y) / 21) % 2) sheet.at(x, y) = {0, 0, 0.22f + 0.2f * (y - 930) / 400.0f, 1};
    Draw(sheet, logo, 880, 1030, 1, 1, white, false);
    Draw(sheet, site, 1220, 1240, 1, 1, white, false);
    return WritePng(outPng, sheet);
}

// ---------------------------------------------------------------- sounds ---

namespace {

bool WavStats(const std::string& path, double& seconds, double& peakDb, int& rate) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 44 || std::memcmp(&b[36], "data", 4) != 0) return false;
    rate = b[24] | b[25] << 8 | b[26] << 16 | b[27] << 24;
    int channels = b[22];
    size_t n = (b.size() - 44) / 2;
    int peak = 0;
    for (size_t i = 0; i < n; i++) {
        int v = (int16_t)(b[44 + 2 * i] | b[45 + 2 * i] << 8);
        peak = std::max(peak, std::abs(v));
    }
    seconds = (double)n / channels / rate;
    peakDb = peak ? 20 * std::log10(peak / 32768.0) : -99;
    return true;
}

}  // namespace

bool PrintSoundStats(const std::string& filesDir) {
    bool ok = true;
    std::vector<std::string> files;
    for (int n = 1; n <= 19; n++) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        files.push_back(filesDir + "/418/" + name);
    }
    files.push_back(filesDir + "/Common/badgeget.wav");
    for (const std::string& f : files) {
        double sec, db;
        int rate;
        if (!WavStats(f, sec, db, rate)) {
            std::printf("%-40s unreadable\n", f.c_str());
            ok = false;
            continue;
        }
        std::printf("%-40s %6.3f s  peak %6.2f dBFS  %d Hz\n", f.c_str(), sec, db, rate);
    }
    std::string ogg = filesDir + "/418/wormlob.ogg";
    OggVorbis_File vf;
    if (ov_fopen(ogg.c_str(), &vf) != 0) {
        std::printf("%-40s unreadable\n", ogg.c_str());
        return false;
    }
    vorbis_info* vi = ov_info(&vf, -1);
    float peak = 0;
    float** pcm;
    int section;
    long got;
    while ((got = ov_read_float(&vf, &pcm, 4096, &section)) > 0)
        for (int ch = 0; ch < vi->channels; ch++)
            for (long i = 0; i < got; i++) peak = std::max(peak, std::fabs(pcm[ch][i]));
    std::printf("%-40s %6.3f s  peak %6.2f dBFS  %ld Hz, %d channels, %ld bytes\n", ogg.c_str(),
                ov_time_total(&vf, -1), 20 * std::log10(std::max(peak, 1e-9f)), vi->rate, vi->channels,
                (long)ov_raw_total(&vf, -1));
    ov_clear(&vf);
    return ok;
}

namespace {

void Fft(std::vector<std::complex<double>>& a) {
    size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        double ang = -2 * 3.14159265358979323846 / (double)len;
        std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; k++) {
                std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

bool ReadMono(const std::string& path, std::vector<float>& out, int& rate) {
    out.clear();
    if (path.size() > 4 && path.substr(path.size() - 4) == ".ogg") {
        OggVorbis_File vf;
        if (ov_fopen(path.c_str(), &vf) != 0) return false;
        vorbis_info* vi = ov_info(&vf, -1);
        rate = (int)vi->rate;
        float** pcm;
        int section;
        long got;
        while ((got = ov_read_float(&vf, &pcm, 4096, &section)) > 0)
            for (long i = 0; i < got; i++) {
                float v = 0;
                for (int c = 0; c < vi->channels; c++) v += pcm[c][i];
                out.push_back(v / vi->channels);
            }
        ov_clear(&vf);
        return true;
    }
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 44) return false;
    rate = b[24] | b[25] << 8 | b[26] << 16 | b[27] << 24;
    for (size_t i = 44; i + 1 < b.size(); i += 2) out.push_back((int16_t)(b[i] | b[i + 1] << 8) / 32768.0f);
    return true;
}

}  // namespace

bool MakeSpectrogram(const std::string& soundPath, const std::string& outPng) {
    std::vector<float> x;
    int rate = 0;
    if (!ReadMono(soundPath, x, rate) || x.empty()) return false;
    const int N = 2048, H = 320;
    int hop = std::max(64, (int)(x.size() / 1400));
    int W = (int)(x.size() / hop);
    Image img(W, H);
    double fLo = 40, fHi = std::min(12000.0, rate / 2.0);
    for (int col = 0; col < W; col++) {
        std::vector<std::complex<double>> a(N);
        for (int i = 0; i < N; i++) {
            size_t k = (size_t)col * hop + i;
            double win = 0.5 - 0.5 * std::cos(2 * 3.14159265358979323846 * i / (N - 1));
            a[i] = (k < x.size() ? x[k] : 0.0) * win;
        }
        Fft(a);
        for (int row = 0; row < H; row++) {
            double f = fLo * std::pow(fHi / fLo, 1.0 - (row + 0.5) / H);
            int bin = std::min(N / 2 - 1, (int)std::lround(f * N / rate));
            double db = 20 * std::log10(std::abs(a[bin]) / (N / 4) + 1e-9);
            float v = Clamp01((float)((db + 80) / 80));
            img.at(col, row) = {v * v, v, std::sqrt(v) * 0.8f, 1};
        }
    }
    return WritePng(outPng, img);
}

}  // namespace assetgen

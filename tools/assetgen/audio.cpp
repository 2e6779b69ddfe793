#include "audio.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace assetgen {

void OnePole::setLowpass(double cutoff, int rate) {
    a = (float)(1.0 - std::exp(-2.0 * kPi * cutoff / rate));
}

void Biquad::bandpass(double freq, double q, int rate) {
    double w = 2 * kPi * freq / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
    double a0 = 1 + alpha;
    b0 = alpha / a0; b1 = 0; b2 = -alpha / a0;
    a1 = -2 * c / a0; a2 = (1 - alpha) / a0;
}

void Biquad::lowpass(double freq, double q, int rate) {
    double w = 2 * kPi * freq / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
    double a0 = 1 + alpha;
    b0 = (1 - c) / 2 / a0; b1 = (1 - c) / a0; b2 = b0;
    a1 = -2 * c / a0; a2 = (1 - alpha) / a0;
}

void Biquad::highpass(double freq, double q, int rate) {
    double w = 2 * kPi * freq / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
    double a0 = 1 + alpha;
    b0 = (1 + c) / 2 / a0; b1 = -(1 + c) / a0; b2 = b0;
    a1 = -2 * c / a0; a2 = (1 - alpha) / a0;
}

float Biquad::run(float x) {
    double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1; x1 = x; y2 = y1; y1 = y;
    return (float)y;
}

float Sine(double phase) { return (float)std::sin(2 * kPi * phase); }
float Square(double phase, double duty) {
    double f = phase - std::floor(phase);
    return f < duty ? 1.0f : -1.0f;
}
float Saw(double phase) {
    double f = phase - std::floor(phase);
    return (float)(2 * f - 1);
}
float Triangle(double phase) {
    double f = phase - std::floor(phase);
    return (float)(f < 0.5 ? 4 * f - 1 : 3 - 4 * f);
}

static double PolyBlep(double t, double dt) {
    if (dt <= 0) return 0;
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1;
    }
    if (t > 1 - dt) {
        t = (t - 1) / dt;
        return t * t + t + t + 1;
    }
    return 0;
}

float SawBL(double phase, double dt) {
    double f = phase - std::floor(phase);
    return (float)(2 * f - 1 - PolyBlep(f, dt));
}

float SquareBL(double phase, double dt, double duty) {
    double f = phase - std::floor(phase);
    double v = f < duty ? 1.0 : -1.0;
    v += PolyBlep(f, dt);
    double g = f + 1 - duty;
    v -= PolyBlep(g - std::floor(g), dt);
    return (float)v;
}

float ExpDecay(double t, double tau) { return t < 0 ? 0 : (float)std::exp(-t / tau); }
float AttackDecay(double t, double attack, double tau) {
    if (t < 0) return 0;
    if (t < attack) return (float)(t / attack);
    return (float)std::exp(-(t - attack) / tau);
}

float Peak(const Sound& snd) {
    float p = 0;
    for (float v : snd.s) p = std::max(p, std::fabs(v));
    return p;
}

void Normalise(Sound& snd, double peakDb) {
    float p = Peak(snd);
    if (p <= 0) return;
    float g = (float)(std::pow(10.0, peakDb / 20.0) / p);
    for (float& v : snd.s) v *= g;
}

void FadeEdges(Sound& snd, double inSeconds, double outSeconds) {
    int n = snd.frames(), fin = (int)(inSeconds * snd.rate), fout = (int)(outSeconds * snd.rate);
    for (int i = 0; i < n; i++) {
        float g = 1;
        if (i < fin) g = (float)i / fin;
        if (n - 1 - i < fout) g = std::min(g, (float)(n - 1 - i) / fout);
        for (int c = 0; c < snd.channels; c++) snd.s[(size_t)i * snd.channels + c] *= g;
    }
}

std::vector<int16_t> ToPcm16(const Sound& snd) {
    std::vector<int16_t> out(snd.s.size());
    for (size_t i = 0; i < snd.s.size(); i++) {
        double v = std::lround(std::clamp(snd.s[i], -1.0f, 1.0f) * 32767.0);
        out[i] = (int16_t)v;
    }
    return out;
}

static void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
static void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}

bool WriteWav(const std::string& path, const Sound& snd) {
    std::vector<int16_t> pcm = ToPcm16(snd);
    uint32_t dataBytes = (uint32_t)(pcm.size() * 2);
    std::vector<uint8_t> b;
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Put32(b, 36 + dataBytes);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(b, 16);
    Put16(b, 1);  // PCM
    Put16(b, (uint16_t)snd.channels);
    Put32(b, (uint32_t)snd.rate);
    Put32(b, (uint32_t)(snd.rate * snd.channels * 2));
    Put16(b, (uint16_t)(snd.channels * 2));
    Put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put32(b, dataBytes);
    for (int16_t v : pcm) Put16(b, (uint16_t)v);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return (std::fclose(f) == 0) && ok;
}

bool WriteOgg(const std::string& path, const Sound& snd, float quality, int serial) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, snd.channels, snd.rate, quality) != 0) {
        vorbis_info_clear(&vi);
        std::fclose(f);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "TITLE", "Wormlob 2 title theme");
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    ogg_packet hdr, hdrComm, hdrCode;
    vorbis_analysis_headerout(&vd, &vc, &hdr, &hdrComm, &hdrCode);
    ogg_stream_packetin(&os, &hdr);
    ogg_stream_packetin(&os, &hdrComm);
    ogg_stream_packetin(&os, &hdrCode);
    ogg_page og;
    bool ok = true;
    auto writePage = [&](const ogg_page& p) {
        ok &= std::fwrite(p.header, 1, p.header_len, f) == (size_t)p.header_len;
        ok &= std::fwrite(p.body, 1, p.body_len, f) == (size_t)p.body_len;
    };
    while (ogg_stream_flush(&os, &og)) writePage(og);

    const int chunk = 4096;
    int frames = snd.frames(), pos = 0;
    bool eos = false;
    while (!eos) {
        int n = std::min(chunk, frames - pos);
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, n);
            for (int i = 0; i < n; i++)
                for (int c = 0; c < snd.channels; c++)
                    buf[c][i] = snd.s[(size_t)(pos + i) * snd.channels + c];
            vorbis_analysis_wrote(&vd, n);
            pos += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og)) {
                    writePage(og);
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
        if (n <= 0 && !eos) {
            // Everything is submitted; flush what the stream still holds.
            while (ogg_stream_flush(&os, &og)) {
                writePage(og);
                if (ogg_page_eos(&og)) eos = true;
            }
            eos = true;
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    ok &= std::fclose(f) == 0;
    return ok;
}

}  // namespace assetgen

// WAV and Ogg Vorbis decoding: the accepted layouts, chunk walking, and
// what happens with unsupported, truncated and hostile files.

#include "media/audio.h"
#include "media/audio_internal.h"

#include "tests/support/skip.h"
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}
void U32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void U16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// "RIFF" size "WAVE" and a format chunk of fmtSize bytes (extra bytes are
// 0xEE, then a pad byte when fmtSize is odd).
Bytes Header(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t fmtSize = 16) {
    Bytes b;
    Put(b, "RIFF");
    U32(b, 0);  // patched by Finish
    Put(b, "WAVE");
    Put(b, "fmt ");
    U32(b, fmtSize);
    U16(b, format);
    U16(b, channels);
    U32(b, rate);
    U32(b, rate * channels * bits / 8);
    U16(b, uint16_t(channels * bits / 8));
    U16(b, bits);
    for (uint32_t i = 16; i < fmtSize; ++i) b.push_back(0xEE);
    if (fmtSize & 1) b.push_back(0);
    return b;
}

void Chunk(Bytes& b, const char* tag, const Bytes& body, bool pad = true) {
    Put(b, tag);
    U32(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) b.push_back(0);
}

Bytes Finish(Bytes b) {
    const uint32_t size = uint32_t(b.size() - 8);
    std::memcpy(b.data() + 4, &size, 4);
    return b;
}

std::shared_ptr<TSoundData> Decode(const Bytes& b) { return DecodeWavMemory(b.data(), b.size()); }

Bytes Samples16(std::initializer_list<int> values) {
    Bytes b;
    for (int v : values) U16(b, uint16_t(int16_t(v)));
    return b;
}

}  // namespace

TEST(WavDecode, ReadsEveryPcmLayout) {
    // 8-bit mono: unsigned, 128 is silence.
    Bytes b = Header(1, 1, 11025, 8);
    Chunk(b, "data", Bytes{0, 128, 255, 192});
    auto s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rate, 11025);
    EXPECT_EQ(s->channels, 1);
    EXPECT_EQ(s->frames, 4);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{-32768, 0, 32512, 16384}));

    // 8-bit stereo.
    b = Header(1, 2, 8000, 8);
    Chunk(b, "data", Bytes{0, 255, 128, 64});
    s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->channels, 2);
    EXPECT_EQ(s->frames, 2);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{-32768, 32512, 0, -16384}));

    // 16-bit mono and stereo, little-endian signed.
    b = Header(1, 1, 44100, 16);
    Chunk(b, "data", Samples16({1, -1, 32767, -32768}));
    s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->frames, 4);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{1, -1, 32767, -32768}));

    b = Header(1, 2, 48000, 16);
    Chunk(b, "data", Samples16({100, -200, 300, -400, 500, -600}));
    s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rate, 48000);
    EXPECT_EQ(s->frames, 3);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{100, -200, 300, -400, 500, -600}));
}

TEST(WavDecode, SkipsExtraFormatBytesAndOtherChunksHonouringPadBytes) {
    // Odd-sized format chunk (19 bytes: 3 extra, then a pad byte), then an
    // odd-sized LIST chunk whose pad byte must be skipped too, then "fact".
    Bytes b = Header(1, 1, 22050, 16, 19);
    Chunk(b, "LIST", Bytes{'d', 'a', 't', 'a', 'x'});  // body looks like a tag: must not be taken for one
    Chunk(b, "fact", Bytes{1, 0, 0, 0});
    Chunk(b, "data", Samples16({7, 8, 9}));
    auto s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rate, 22050);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{7, 8, 9}));

    // Without honouring the pad byte the walk would land one byte off and
    // miss "data": a file written without it is not a valid file.
    Bytes np = Header(1, 1, 22050, 16);
    Chunk(np, "LIST", Bytes{1, 2, 3}, /*pad=*/false);
    Chunk(np, "data", Samples16({7, 8, 9}));
    EXPECT_FALSE(Decode(Finish(np)));
}

TEST(WavDecode, DataChunkLongerThanTheFileIsCutToWhatIsThere) {
    Bytes b = Header(1, 2, 8000, 16);
    Put(b, "data");
    U32(b, 1000000);
    Bytes body = Samples16({1, 2, 3, 4, 5});  // two whole frames and half of a third
    b.insert(b.end(), body.begin(), body.end());
    auto s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->frames, 2);
    EXPECT_EQ(s->samples, (std::vector<int16_t>{1, 2, 3, 4}));

    // A huge claimed size never makes the decoder read or allocate past the file.
    b = Header(1, 1, 8000, 8);
    Put(b, "data");
    U32(b, 0xFFFFFFFFu);
    b.push_back(200);
    s = Decode(Finish(b));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->frames, 1);
}

TEST(WavDecode, RejectsWhatItDoesNotPlay) {
    auto withData = [](Bytes b) {
        Chunk(b, "data", Bytes(64, 1));
        return Finish(b);
    };
    EXPECT_FALSE(Decode(withData(Header(1, 1, 44100, 24)))) << "24-bit";
    EXPECT_FALSE(Decode(withData(Header(1, 2, 44100, 32)))) << "32-bit integer";
    EXPECT_FALSE(Decode(withData(Header(3, 1, 44100, 32)))) << "IEEE float";
    EXPECT_FALSE(Decode(withData(Header(2, 1, 44100, 4)))) << "ADPCM";
    EXPECT_FALSE(Decode(withData(Header(0xFFFE, 1, 44100, 16, 40)))) << "extensible";
    EXPECT_FALSE(Decode(withData(Header(1, 3, 44100, 16)))) << "three channels";
    EXPECT_FALSE(Decode(withData(Header(1, 0, 44100, 16)))) << "no channels";
    EXPECT_FALSE(Decode(withData(Header(1, 1, 0, 16)))) << "zero rate";
    EXPECT_FALSE(Decode(withData(Header(1, 1, 44100, 16, 14)))) << "short format chunk";

    // The format chunk must come first.
    Bytes late;
    Put(late, "RIFF");
    U32(late, 0);
    Put(late, "WAVE");
    Chunk(late, "LIST", Bytes{1, 2, 3, 4});
    Bytes fmt = Header(1, 1, 8000, 8);
    late.insert(late.end(), fmt.begin() + 12, fmt.end());
    EXPECT_FALSE(Decode(withData(late))) << "fmt after another chunk";

    Bytes notWave = withData(Header(1, 1, 8000, 8));
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    EXPECT_FALSE(Decode(notWave));

    Bytes noData = Header(1, 1, 8000, 8);
    Chunk(noData, "LIST", Bytes{1, 2});
    EXPECT_FALSE(Decode(Finish(noData))) << "no data chunk";

    Bytes empty = Header(1, 1, 8000, 16);
    Chunk(empty, "data", Bytes{});
    EXPECT_FALSE(Decode(Finish(empty))) << "no whole frame";

    Bytes pastEnd = Header(1, 1, 8000, 16);
    Put(pastEnd, "LIST");
    U32(pastEnd, 0xFFFFFFF0u);
    Chunk(pastEnd, "data", Samples16({1, 2}));
    EXPECT_FALSE(Decode(Finish(pastEnd))) << "chunk size beyond the file";

    EXPECT_FALSE(DecodeWavMemory(nullptr, 100));
    EXPECT_FALSE(DecodeSoundMemory(reinterpret_cast<const uint8_t*>("ID3\x03 not a sound"), 16));
}

TEST(WavDecode, EveryTruncationGivesNullOrAPrefixOfTheSamples) {
    Bytes b = Header(1, 2, 22050, 16, 18);
    Chunk(b, "LIST", Bytes{1, 2, 3});
    Chunk(b, "data", Samples16({10, 20, 30, 40, 50, 60, 70, 80}));
    const Bytes full = Finish(b);
    auto whole = Decode(full);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->frames, 4);
    for (size_t n = 0; n < full.size(); ++n) {
        // A copy of exactly n bytes, so any over-read lands outside the
        // allocation (and is caught by the sanitizer build).
        Bytes cut(full.begin(), full.begin() + long(n));
        auto s = DecodeWavMemory(cut.data(), cut.size());
        if (!s) continue;
        ASSERT_LE(s->frames, whole->frames) << n;
        ASSERT_GE(s->frames, 1) << n;
        for (size_t i = 0; i < s->samples.size(); ++i) EXPECT_EQ(s->samples[i], whole->samples[i]) << n;
    }
}

TEST(WavDecode, WriterOutputReadsBack) {
    auto tone = MakeToneSound(16000, 2, 500.0, 0.5, 0.01);
    auto back = Decode(EncodeWavMemory(*tone, 16));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->samples, tone->samples);
    auto back8 = Decode(EncodeWavMemory(*tone, 8));
    ASSERT_TRUE(back8);
    ASSERT_EQ(back8->frames, tone->frames);
    for (size_t i = 0; i < tone->samples.size(); ++i) EXPECT_NEAR(back8->samples[i], tone->samples[i], 256);
}

// ------------------------------------------------------------- Vorbis ---

namespace {

// The encoder's set-up call lives in libvorbisenc, which the program does
// not need; the test finds it at run time and skips when it is missing.
using EncodeInitVbr = int (*)(vorbis_info*, long, long, float);

EncodeInitVbr FindEncoder() {
    static void* lib = dlopen("libvorbisenc.so.2", RTLD_NOW);
    if (!lib) return nullptr;
    return reinterpret_cast<EncodeInitVbr>(dlsym(lib, "vorbis_encode_init_vbr"));
}

Bytes EncodeVorbis(const TSoundData& snd) {
    Bytes out;
    EncodeInitVbr init = FindEncoder();
    if (!init) return out;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (init(&vi, snd.channels, snd.rate, 0.4f) != 0) return out;
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 1234);
    ogg_packet h1, h2, h3;
    vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
    ogg_stream_packetin(&os, &h1);
    ogg_stream_packetin(&os, &h2);
    ogg_stream_packetin(&os, &h3);
    ogg_page og;
    auto emit = [&out](const ogg_page& p) {
        out.insert(out.end(), p.header, p.header + p.header_len);
        out.insert(out.end(), p.body, p.body + p.body_len);
    };
    while (ogg_stream_flush(&os, &og)) emit(og);
    int64_t done = 0;
    bool eos = false;
    while (!eos) {
        const int64_t n = std::min<int64_t>(1024, snd.frames - done);
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, int(n));
            for (int64_t i = 0; i < n; ++i) {
                for (int c = 0; c < snd.channels; ++c) {
                    buf[c][i] = snd.samples[size_t((done + i) * snd.channels + c)] / 32768.0f;
                }
            }
            vorbis_analysis_wrote(&vd, int(n));
            done += n;
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
                    emit(og);
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

int ZeroCrossings(const std::vector<int16_t>& s, int channels, int channel, int64_t from, int64_t to) {
    int n = 0;
    for (int64_t i = from + 1; i < to; ++i) {
        const int a = s[size_t((i - 1) * channels + channel)], b = s[size_t(i * channels + channel)];
        if ((a < 0) != (b < 0)) ++n;
    }
    return n;
}

}  // namespace

TEST(OggDecode, DecodesWholeStreamKeepingRateChannelsAndPitch) {
    if (!FindEncoder()) WORMLOB_SKIP("libvorbisenc not installed");
    auto tone = MakeToneSound(22050, 2, 441.0, 0.5, 0.5);
    const Bytes ogg = EncodeVorbis(*tone);
    ASSERT_GT(ogg.size(), 100u);
    auto s = DecodeSoundMemory(ogg.data(), ogg.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rate, 22050);
    EXPECT_EQ(s->channels, 2);
    EXPECT_EQ(s->frames, tone->frames);
    // 441 Hz over the middle 0.4 s: 2 * 441 * 0.4 crossings per channel.
    for (int c = 0; c < 2; ++c) {
        const int n = ZeroCrossings(s->samples, 2, c, 1102, 1102 + 8820);
        EXPECT_NEAR(n, 353, 4) << c;
    }
    // Level kept: peak near half scale.
    int peak = 0;
    for (int16_t v : s->samples) peak = std::max(peak, std::abs(int(v)));
    EXPECT_NEAR(peak, 16384, 2500);
}

TEST(OggDecode, TruncatedOrCorruptStreamsAreSafe) {
    if (!FindEncoder()) WORMLOB_SKIP("libvorbisenc not installed");
    auto tone = MakeToneSound(16000, 1, 300.0, 0.5, 0.3);
    const Bytes ogg = EncodeVorbis(*tone);
    ASSERT_FALSE(ogg.empty());
    for (size_t n = 0; n < ogg.size(); n += 97) {
        Bytes cut(ogg.begin(), ogg.begin() + long(n));
        auto s = DecodeSoundMemory(cut.data(), cut.size());
        if (s) {
            EXPECT_LE(s->frames, tone->frames);
        }
    }
    Bytes bad = ogg;
    for (size_t i = 200; i < bad.size(); i += 13) bad[i] ^= 0x5A;
    auto s = DecodeSoundMemory(bad.data(), bad.size());
    if (s) {
        EXPECT_LE(s->frames, tone->frames + 4096);
    }
    const char junk[] = "OggS but nothing after that makes sense";
    EXPECT_FALSE(DecodeSoundMemory(reinterpret_cast<const uint8_t*>(junk), sizeof junk));
}

// A short stream whose last page claims hours of audio: refused, rather
// than trusted with an allocation of gigabytes.
TEST(OggDecode, StreamClaimingMoreThanTenMinutesIsRefused) {
    if (!FindEncoder()) WORMLOB_SKIP("libvorbisenc not installed");
    // Long enough for several pages: the length is read from the last
    // page's position less where the first audio page starts.
    auto tone = MakeToneSound(48000, 2, 300.0, 0.5, 3.0);
    Bytes ogg = EncodeVorbis(*tone);
    ASSERT_TRUE(DecodeSoundMemory(ogg.data(), ogg.size()));
    size_t last = 0;
    for (size_t i = 0; i + 27 <= ogg.size(); ++i)
        if (std::memcmp(ogg.data() + i, "OggS", 4) == 0) last = i;
    for (int64_t frames : {int64_t(10) * 60 * 48000 + 1, int64_t(1) << 29}) {
        for (int b = 0; b < 8; ++b) ogg[last + 6 + size_t(b)] = uint8_t(frames >> (8 * b));
        ogg_page page;
        page.header = ogg.data() + last;
        page.header_len = 27 + ogg[last + 26];
        page.body = page.header + page.header_len;
        page.body_len = long(ogg.size() - last) - page.header_len;
        ogg_page_checksum_set(&page);
        EXPECT_FALSE(DecodeSoundMemory(ogg.data(), ogg.size())) << frames;
    }
}

// ------------------------------------------------------ LoadSound files ---

TEST(LoadSoundFile, LoadsWavAndGivesNullForMissingOrUnsupportedFiles) {
    const std::string dir = std::string(WORMLOB_BINARY_DIR) + "/";
    const std::string good = dir + "audio_decode_good.wav";
    const std::string deep = dir + "audio_decode_24bit.wav";
    auto writeFile = [](const std::string& path, const Bytes& b) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    };
    writeFile(good, EncodeWavMemory(*MakeToneSound(8000, 1, 400, 0.5, 0.1), 16));
    Bytes b = Header(1, 1, 8000, 24);
    Chunk(b, "data", Bytes(300, 7));
    writeFile(deep, Finish(b));
    Bytes f = Header(3, 1, 8000, 32);
    Chunk(f, "data", Bytes(400, 0));
    writeFile(dir + "audio_decode_float.wav", Finish(f));

    ASSERT_TRUE(SetAudioDriver("Null"));
    SoundRef s = LoadSound(good, 0);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->data);
    EXPECT_EQ(s->data->frames, 800);
    EXPECT_FALSE(s->loop);
    SoundRef looped = LoadSound(good, 1);
    ASSERT_TRUE(looped);
    EXPECT_TRUE(looped->loop);

    EXPECT_FALSE(LoadSound(deep, 0));
    EXPECT_FALSE(LoadSound(dir + "audio_decode_float.wav", 0));
    EXPECT_FALSE(LoadSound(dir + "no_such_sound.wav", 0));
    EXPECT_FALSE(LoadSound(dir, 0)) << "a folder";
    EXPECT_FALSE(LoadSound("", 0));
    ShutdownAudio();
}

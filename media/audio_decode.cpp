// Sound file decoders: RIFF WAVE (integer PCM, 8/16-bit, mono/stereo) and
// Ogg Vorbis, both decoded whole into 16-bit samples. Every read is bounds
// checked against the buffer, so truncated or hostile files give null.

#include "media/audio_internal.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
bool Tag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// Memory source for vorbisfile.
struct MemSource {
    const uint8_t* bytes;
    size_t size;
    size_t pos;
};

size_t MemRead(void* dst, size_t size, size_t count, void* src) {
    auto* m = static_cast<MemSource*>(src);
    if (size == 0) return 0;
    size_t left = m->size - m->pos;
    size_t n = count;
    if (n > left / size) n = left / size;
    std::memcpy(dst, m->bytes + m->pos, n * size);
    m->pos += n * size;
    return n;
}

int MemSeek(void* src, ogg_int64_t offset, int whence) {
    auto* m = static_cast<MemSource*>(src);
    int64_t base;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = int64_t(m->pos); break;
        case SEEK_END: base = int64_t(m->size); break;
        default: return -1;
    }
    if (offset > int64_t(m->size) || offset < -int64_t(m->size)) return -1;
    int64_t p = base + offset;
    if (p < 0 || p > int64_t(m->size)) return -1;
    m->pos = size_t(p);
    return 0;
}

long MemTell(void* src) { return long(static_cast<MemSource*>(src)->pos); }

}  // namespace

std::shared_ptr<TSoundData> DecodeWavMemory(const uint8_t* bytes, size_t size) {
    if (!bytes || size < 36) return nullptr;
    // "RIFF", a size we do not rely on, "WAVE", then the format chunk at once.
    if (!Tag(bytes, "RIFF") || !Tag(bytes + 8, "WAVE") || !Tag(bytes + 12, "fmt ")) return nullptr;
    const uint64_t fmtSize = ReadU32(bytes + 16);
    if (fmtSize < 16) return nullptr;
    const uint8_t* fmt = bytes + 20;
    const uint16_t format = ReadU16(fmt);
    const uint16_t channels = ReadU16(fmt + 2);
    const uint32_t rate = ReadU32(fmt + 4);
    const uint16_t bits = ReadU16(fmt + 14);
    if (format != 1) return nullptr;
    if (channels != 1 && channels != 2) return nullptr;
    if (bits != 8 && bits != 16) return nullptr;
    if (rate == 0 || rate > kMaxSoundRate) return nullptr;

    // Walk the chunks after "fmt " until "data"; an odd-sized chunk is
    // followed by one pad byte.
    uint64_t pos = 20 + fmtSize + (fmtSize & 1);
    while (pos + 8 <= size) {
        const uint8_t* hdr = bytes + pos;
        const uint64_t chunkSize = ReadU32(hdr + 4);
        pos += 8;
        if (Tag(hdr, "data")) {
            const uint64_t avail = size - pos;
            const uint64_t len = chunkSize < avail ? chunkSize : avail;  // cut to the file
            const uint64_t frameBytes = uint64_t(channels) * (bits / 8);
            uint64_t frames = len / frameBytes;
            if (frames == 0 || int64_t(frames) > kMaxSoundFrames) return nullptr;
            auto snd = std::make_shared<TSoundData>();
            snd->rate = int(rate);
            snd->channels = channels;
            snd->frames = int64_t(frames);
            const uint64_t count = frames * channels;
            snd->samples.resize(size_t(count));
            const uint8_t* src = bytes + pos;
            if (bits == 8) {
                for (uint64_t i = 0; i < count; ++i) snd->samples[i] = int16_t((int(src[i]) - 128) * 256);
            } else {
                for (uint64_t i = 0; i < count; ++i) snd->samples[i] = int16_t(ReadU16(src + 2 * i));
            }
            return snd;
        }
        const uint64_t skip = chunkSize + (chunkSize & 1);
        if (skip > size - pos) return nullptr;  // the chunk runs past the end: no data chunk follows
        pos += skip;
    }
    return nullptr;
}

std::shared_ptr<TSoundData> DecodeOggMemory(const uint8_t* bytes, size_t size) {
    if (!bytes || size < 4 || !Tag(bytes, "OggS")) return nullptr;
    MemSource src{bytes, size, 0};
    ov_callbacks cb{};
    cb.read_func = MemRead;
    cb.seek_func = MemSeek;
    cb.close_func = nullptr;
    cb.tell_func = MemTell;
    OggVorbis_File vf;
    if (ov_open_callbacks(&src, &vf, nullptr, 0, cb) != 0) return nullptr;

    std::shared_ptr<TSoundData> snd;
    vorbis_info* info = ov_info(&vf, -1);
    if (info && (info->channels == 1 || info->channels == 2) && info->rate > 0 &&
        info->rate <= long(kMaxSoundRate)) {
        snd = std::make_shared<TSoundData>();
        snd->rate = int(info->rate);
        snd->channels = info->channels;
        const ogg_int64_t total = ov_pcm_total(&vf, -1);
        if (total > kMaxDecodedSamples / info->channels) snd.reset();
        else if (total > 0) snd->samples.reserve(size_t(total * info->channels));
        char buf[8192];
        int firstLink = -1;
        while (snd) {
            int link = 0;
            long got = ov_read(&vf, buf, sizeof buf, 0 /*little endian*/, 2, 1, &link);
            if (got == 0) break;
            if (got == OV_HOLE) continue;  // a gap in the stream; decoding goes on after it
            if (got < 0) { snd.reset(); break; }
            // A chained stream whose later links change the layout cannot be
            // held as one sound.
            if (link != firstLink) {
                vorbis_info* li = ov_info(&vf, link);
                if (!li || li->channels != snd->channels || li->rate != snd->rate) { snd.reset(); break; }
                firstLink = link;
            }
            const size_t n = size_t(got) / 2;
            if (int64_t(snd->samples.size() + n) > kMaxDecodedSamples) { snd.reset(); break; }
            const size_t at = snd->samples.size();
            snd->samples.resize(at + n);
            std::memcpy(snd->samples.data() + at, buf, n * 2);
        }
        if (snd) {
            snd->frames = int64_t(snd->samples.size()) / snd->channels;
            snd->samples.resize(size_t(snd->frames * snd->channels));
            if (snd->frames == 0) snd.reset();
        }
    }
    ov_clear(&vf);
    return snd;
}

std::shared_ptr<TSoundData> DecodeSoundMemory(const uint8_t* bytes, size_t size) {
    if (!bytes || size < 4) return nullptr;
    if (Tag(bytes, "RIFF")) return DecodeWavMemory(bytes, size);
    if (Tag(bytes, "OggS")) return DecodeOggMemory(bytes, size);
    return nullptr;
}

std::vector<uint8_t> EncodeWavMemory(const TSoundData& sound, int bits) {
    if (bits != 8) bits = 16;
    const uint32_t frameBytes = uint32_t(sound.channels) * uint32_t(bits / 8);
    const uint32_t dataBytes = uint32_t(sound.frames) * frameBytes;
    std::vector<uint8_t> out;
    auto put = [&out](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    };
    auto u32 = [&put](uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        put(b, 4);
    };
    auto u16 = [&put](uint16_t v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        put(b, 2);
    };
    put("RIFF", 4);
    u32(36 + dataBytes + (dataBytes & 1));
    put("WAVE", 4);
    put("fmt ", 4);
    u32(16);
    u16(1);
    u16(uint16_t(sound.channels));
    u32(uint32_t(sound.rate));
    u32(uint32_t(sound.rate) * frameBytes);
    u16(uint16_t(frameBytes));
    u16(uint16_t(bits));
    put("data", 4);
    u32(dataBytes);
    const size_t count = size_t(sound.frames) * size_t(sound.channels);
    for (size_t i = 0; i < count && i < sound.samples.size(); ++i) {
        if (bits == 8) {
            out.push_back(uint8_t((sound.samples[i] >> 8) + 128));
        } else {
            u16(uint16_t(sound.samples[i]));
        }
    }
    if (dataBytes & 1) out.push_back(0);
    return out;
}

std::shared_ptr<TSoundData> MakeToneSound(int rate, int channels, double freq, double amplitude,
                                          double seconds) {
    auto snd = std::make_shared<TSoundData>();
    snd->rate = rate;
    snd->channels = channels;
    snd->frames = int64_t(seconds * rate);
    if (snd->frames < 1) snd->frames = 1;
    snd->samples.resize(size_t(snd->frames * channels));
    for (int64_t i = 0; i < snd->frames; ++i) {
        const double v = amplitude * std::sin(2.0 * M_PI * freq * double(i) / rate);
        const auto s = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        for (int c = 0; c < channels; ++c) snd->samples[size_t(i * channels + c)] = s;
    }
    return snd;
}

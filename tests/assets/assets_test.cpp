// The committed data files: fonts, images, sound effects and music. Checks
// that each loads, has the size, cell layout and format the program expects,
// that the collision bodies are crisp, that the sounds are levelled and
// click-free, and that the generator in tools/assetgen reproduces exactly
// what is committed.
#include "tests/support/skip.h"
#include <gtest/gtest.h>

#include <png.h>
#include <vorbis/vorbisfile.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kFiles = std::string(WORMLOB_SOURCE_DIR) + "/Files";
const std::string kCommon = kFiles + "/Common/";
const std::string kGame = kFiles + "/418/";

struct Png {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // RGBA
    uint8_t a(int x, int y) const { return px[((size_t)y * w + x) * 4 + 3]; }
    const uint8_t* at(int x, int y) const { return &px[((size_t)y * w + x) * 4]; }
    bool solid(int x, int y) const { return a(x, y) >= 128; }
};

bool ReadPng(const std::string& path, Png& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    bool hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    out.w = (int)image.width;
    out.h = (int)image.height;
    out.px.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.px.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return hasAlpha;
}

Png MustRead(const std::string& path) {
    Png p;
    EXPECT_TRUE(ReadPng(path, p)) << path << " does not load as a PNG with alpha";
    return p;
}

int SolidCount(const Png& p, int x0 = 0, int y0 = 0, int w = -1, int h = -1) {
    if (w < 0) w = p.w;
    if (h < 0) h = p.h;
    int n = 0;
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++) n += p.solid(x, y);
    return n;
}

// Number of 4-connected components of solid pixels.
int SolidComponents(const Png& p) {
    std::vector<int> seen((size_t)p.w * p.h, 0);
    int comps = 0;
    std::vector<std::pair<int, int>> stack;
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            if (!p.solid(x, y) || seen[(size_t)y * p.w + x]) continue;
            comps++;
            stack.push_back({x, y});
            seen[(size_t)y * p.w + x] = 1;
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                for (auto& o : d) {
                    int nx = cx + o[0], ny = cy + o[1];
                    if (nx < 0 || ny < 0 || nx >= p.w || ny >= p.h) continue;
                    if (!p.solid(nx, ny) || seen[(size_t)ny * p.w + nx]) continue;
                    seen[(size_t)ny * p.w + nx] = 1;
                    stack.push_back({nx, ny});
                }
            }
        }
    return comps;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint32_t U32(const std::vector<uint8_t>& b, size_t o) {
    return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | (uint32_t)b[o + 3] << 24;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t o) { return (uint16_t)(b[o] | b[o + 1] << 8); }

struct Wav {
    int rate = 0, channels = 0, bits = 0;
    std::vector<int16_t> s;
    double seconds() const { return rate ? (double)s.size() / channels / rate : 0; }
    double peakDb() const {
        int p = 0;
        for (int16_t v : s) p = std::max(p, std::abs((int)v));
        return p ? 20 * std::log10(p / 32768.0) : -200;
    }
};

// Reads a WAV only in the one layout the program's loader accepts: "fmt "
// directly after "WAVE", then "data"; fails on anything else.
::testing::AssertionResult ReadWav(const std::string& path, Wav& w) {
    std::vector<uint8_t> b = ReadAll(path);
    if (b.size() < 44) return ::testing::AssertionFailure() << path << ": shorter than a WAV header";
    if (std::memcmp(&b[0], "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4) || std::memcmp(&b[12], "fmt ", 4))
        return ::testing::AssertionFailure() << path << ": not RIFF/WAVE with fmt first";
    if (U32(b, 16) != 16) return ::testing::AssertionFailure() << path << ": fmt chunk is not 16 bytes";
    if (U16(b, 20) != 1) return ::testing::AssertionFailure() << path << ": not PCM";
    w.channels = U16(b, 22);
    w.rate = (int)U32(b, 24);
    w.bits = U16(b, 34);
    if (std::memcmp(&b[36], "data", 4)) return ::testing::AssertionFailure() << path << ": data chunk not at 36";
    uint32_t size = U32(b, 40);
    if (size != b.size() - 44) return ::testing::AssertionFailure() << path << ": data size " << size << " vs file";
    if (U32(b, 4) != b.size() - 8) return ::testing::AssertionFailure() << path << ": RIFF size wrong";
    if (U32(b, 28) != (uint32_t)(w.rate * w.channels * w.bits / 8) || U16(b, 32) != w.channels * w.bits / 8)
        return ::testing::AssertionFailure() << path << ": byte rate or block align wrong";
    w.s.resize(size / 2);
    for (size_t i = 0; i < w.s.size(); i++) w.s[i] = (int16_t)U16(b, 44 + 2 * i);
    return ::testing::AssertionSuccess();
}

struct Ogg {
    int rate = 0, channels = 0;
    double seconds = 0;
    std::vector<float> s;  // interleaved
};

bool ReadOgg(const std::string& path, Ogg& o) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) return false;
    vorbis_info* vi = ov_info(&vf, -1);
    o.rate = (int)vi->rate;
    o.channels = vi->channels;
    o.seconds = ov_time_total(&vf, -1);
    float** pcm;
    int section;
    long got;
    while ((got = ov_read_float(&vf, &pcm, 4096, &section)) > 0)
        for (long i = 0; i < got; i++)
            for (int c = 0; c < o.channels; c++) o.s.push_back(pcm[c][i]);
    ov_clear(&vf);
    return got == 0;
}

std::string WavName(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%03d.wav", n);
    return b;
}

// Dominant frequency by counting rising zero crossings in a window.
double ZeroCrossingHz(const Wav& w, double from, double to) {
    int i0 = (int)(from * w.rate), i1 = std::min((int)(to * w.rate), (int)w.s.size());
    int n = 0;
    for (int i = i0 + 1; i < i1; i++)
        if (w.s[i - 1] < 0 && w.s[i] >= 0) n++;
    return n / ((double)(i1 - i0) / w.rate);
}

}  // namespace

// ------------------------------------------------------------------ fonts ---

TEST(AssetFonts, EachFontLoadsCoversLatin1AndCarriesItsLicence) {
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    for (const char* name : {"Plainhand", "Roadsign", "Marquee"}) {
        SCOPED_TRACE(name);
        std::string path = kCommon + name + ".ttf";
        FT_Face face;
        ASSERT_EQ(FT_New_Face(lib, path.c_str(), 0, &face), 0) << path;
        EXPECT_TRUE(FT_IS_SCALABLE(face));
        // Player names may use any Latin-1 letter.
        std::vector<int> missing;
        for (int c = 32; c < 256; c++) {
            if (c >= 127 && c < 160) continue;
            if (FT_Get_Char_Index(face, (FT_ULong)c) == 0) missing.push_back(c);
        }
        EXPECT_TRUE(missing.empty()) << missing.size() << " Latin-1 characters missing, first " << missing[0];
        // A glyph renders to real ink at the smallest size the program uses.
        ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 16), 0);
        ASSERT_EQ(FT_Load_Char(face, 0xE9 /* e acute */, FT_LOAD_RENDER), 0);
        EXPECT_GT(face->glyph->bitmap.width * face->glyph->bitmap.rows, 20u);
        FT_Done_Face(face);

        std::vector<uint8_t> licence = ReadAll(kCommon + name + "-LICENSE.txt");
        std::string text(licence.begin(), licence.end());
        EXPECT_TRUE(text.find("OFL") != std::string::npos || text.find("Apache License") != std::string::npos)
            << "licence file names no free font licence";
    }
    FT_Done_FreeType(lib);
}

// ----------------------------------------------------------------- images ---

TEST(AssetImages, GameImagesHaveTheirSizesAndGlowsMatchTheirBodies) {
    std::map<std::string, int> sizes;
    for (int i = 1; i <= 5; i++) sizes["pod" + std::to_string(i)] = 128;
    for (int i = 1; i <= 4; i++) sizes["mushroom" + std::to_string(i)] = 128;
    sizes["spike"] = 128;
    sizes["whitesquare"] = 64;
    sizes["net"] = 64;
    for (auto& [name, size] : sizes) {
        SCOPED_TRACE(name);
        Png body = MustRead(kGame + name + ".png"), glow = MustRead(kGame + name + "g.png");
        EXPECT_EQ(body.w, size);
        EXPECT_EQ(body.h, size);
        EXPECT_EQ(glow.w, body.w);
        EXPECT_EQ(glow.h, body.h);
        // A glow is white light with soft alpha, fading out before its border
        // so its rectangle never shows.
        int lit = 0;
        for (int y = 0; y < glow.h; y++)
            for (int x = 0; x < glow.w; x++) {
                const uint8_t* p = glow.at(x, y);
                if (p[3] == 0) continue;
                lit++;
                EXPECT_GE(std::min({p[0], p[1], p[2]}), 240) << "glow pixel not white at " << x << "," << y;
                if (x == 0 || y == 0 || x == glow.w - 1 || y == glow.h - 1) {
                    EXPECT_LT(p[3], 8) << "glow reaches its border at " << x << "," << y;
                }
            }
        EXPECT_GT(lit, glow.w * glow.h / 4);
    }
}

TEST(AssetImages, BodiesAreCrispLightShapesOfDeliberateSize) {
    // Pods: a disc of radius about 52 in a 128 cell (drawn at half size, so
    // about 26 pixels on screen); wear only ever removes material.
    int previous = 1 << 30;
    for (int h = 1; h <= 5; h++) {
        SCOPED_TRACE("pod" + std::to_string(h));
        Png p = MustRead(kGame + "pod" + std::to_string(h) + ".png");
        int solid = SolidCount(p);
        double disc = 3.14159265 * 52 * 52;
        EXPECT_NEAR(solid, disc, disc * 0.08);
        EXPECT_LE(solid, previous);
        previous = solid;
        EXPECT_EQ(SolidComponents(p), 1);
        // The centre is solid, the corners are empty, and the soft rim halo
        // exists but stays under the collision threshold.
        EXPECT_TRUE(p.solid(64, 64));
        EXPECT_EQ(p.a(2, 2), 0);
        EXPECT_GT(p.a(64, 64 + 56), 0);
        EXPECT_LT(p.a(64, 64 + 56), 128);
    }
    // Mushrooms: each bite removes a visible mouthful.
    previous = 1 << 30;
    for (int m = 1; m <= 4; m++) {
        SCOPED_TRACE("mushroom" + std::to_string(m));
        Png p = MustRead(kGame + "mushroom" + std::to_string(m) + ".png");
        int solid = SolidCount(p);
        EXPECT_LT(solid, previous - (m > 1 ? 300 : 0));
        EXPECT_GT(solid, 128 * 128 / 4);
        previous = solid;
        EXPECT_EQ(SolidComponents(p), 1);
    }
    // The spike pod reaches further than a pod (its spikes) but has the same
    // centre, so it can be drawn with a pod's offsets.
    Png spike = MustRead(kGame + "spike.png");
    EXPECT_EQ(SolidComponents(spike), 1);
    EXPECT_TRUE(spike.solid(64, 64));
    int reach = 0;
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++)
            if (spike.solid(x, y)) reach = std::max(reach, (int)std::hypot(x + 0.5 - 64, y + 0.5 - 64));
    EXPECT_GE(reach, 56);
    EXPECT_LE(reach, 63);

    // The square is the ball, the bat and every spark: solid white throughout.
    Png sq = MustRead(kGame + "whitesquare.png");
    for (int y = 0; y < sq.h; y++)
        for (int x = 0; x < sq.w; x++) {
            const uint8_t* p = sq.at(x, y);
            ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255 && p[3] == 255) << x << "," << y;
        }

    // The net: one connected mesh with its hoop, catching across its width.
    Png net = MustRead(kGame + "net.png");
    EXPECT_EQ(SolidComponents(net), 1);
    EXPECT_TRUE(net.solid(32, 2) || net.solid(32, 3));
    int row = 0;
    for (int x = 0; x < 64; x++) row += net.solid(x, 32) || net.solid(x, 33) || net.solid(x, 31);
    EXPECT_GE(row, 8);

    // Everything the game tints is grey (no hue of its own) and light.
    std::vector<std::string> tinted = {"pod1", "pod5", "mushroom1", "mushroom4", "spike", "net"};
    for (const std::string& name : tinted) {
        SCOPED_TRACE(name);
        Png p = MustRead(kGame + name + ".png");
        double sum = 0;
        int n = 0;
        for (int y = 0; y < p.h; y++)
            for (int x = 0; x < p.w; x++) {
                if (!p.solid(x, y)) continue;
                const uint8_t* c = p.at(x, y);
                ASSERT_LE(std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}), 2) << x << "," << y;
                sum += c[0];
                n++;
            }
        EXPECT_GT(sum / n, 150);
    }
}

TEST(AssetImages, IconSheetHasEveryRoleInItsCell) {
    Png s = MustRead(kCommon + "icons.png");
    ASSERT_EQ(s.w, 128);
    ASSERT_EQ(s.h, 128);
    auto cellSolid = [&](int i) { return SolidCount(s, (i % 8) * 16, (i / 8) * 16, 16, 16); };
    for (int i = 0; i < 64; i++) EXPECT_GT(cellSolid(i), 10) << "cell " << i << " is empty";

    // The pointer: the arrow's tip is the cell's top-left pixel, and the
    // arrow points up-left (its ink lies right of and below the tip).
    int px = 7 * 16, py = 7 * 16;
    EXPECT_TRUE(s.solid(px, py)) << "pointer tip is not at the cell's corner";
    EXPECT_TRUE(s.solid(px + 1, py + 8));
    EXPECT_TRUE(s.solid(px + 4, py + 6));
    EXPECT_FALSE(s.solid(px + 14, py + 1));
    EXPECT_FALSE(s.solid(px + 1, py + 15) && s.solid(px + 15, py + 1));

    // The slider track's halves run into each other: the left half reaches
    // the right edge of its cell, the right half the left edge of its cell.
    EXPECT_TRUE(s.solid(5 * 16 + 15, 2 * 16 + 8));
    EXPECT_TRUE(s.solid(6 * 16 + 0, 2 * 16 + 8));
    EXPECT_FALSE(s.solid(5 * 16 + 0, 2 * 16 + 8));
    EXPECT_FALSE(s.solid(6 * 16 + 15, 2 * 16 + 8));

    // Screens 11 (4:3) and 12 (16:9): the wide one is wider and flatter.
    // Width is the widest row; height is the left edge of the frame, which
    // the stand in the middle does not touch.
    auto aspect = [&](int i) {
        int ox = (i % 8) * 16, oy = (i / 8) * 16;
        int x0 = 99, x1 = -1;
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++)
                if (s.solid(ox + x, oy + y)) { x0 = std::min(x0, x); x1 = std::max(x1, x); }
        int y0 = 99, y1 = -1;
        for (int y = 0; y < 16; y++)
            if (s.solid(ox + x0, oy + y)) { y0 = std::min(y0, y); y1 = std::max(y1, y); }
        return (double)(x1 - x0 + 1) / (y1 - y0 + 1);
    };
    EXPECT_NEAR(aspect(11), 4.0 / 3.0, 0.2);
    EXPECT_NEAR(aspect(12), 16.0 / 9.0, 0.25);

    // Option icons 18, 19, 20 show falling levels: less lit ink each time.
    EXPECT_GT(cellSolid(18), cellSolid(19));
    EXPECT_GT(cellSolid(19), cellSolid(20));

    // No two role icons are the same picture.
    const int roles[] = {0, 3, 7, 8, 9, 10, 11, 12, 13, 14, 18, 19, 20, 21, 22, 23, 24, 25, 26, 63};
    for (int a : roles)
        for (int b : roles) {
            if (a >= b) continue;
            int diff = 0;
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++)
                    diff += s.solid((a % 8) * 16 + x, (a / 8) * 16 + y) != s.solid((b % 8) * 16 + x, (b / 8) * 16 + y);
            EXPECT_GT(diff, 6) << "icons " << a << " and " << b << " look alike";
        }
}

TEST(AssetImages, BadgeStripAndLogosFitTheirSlots) {
    Png b = MustRead(kGame + "badges.png");
    ASSERT_EQ(b.w % 64, 0);
    ASSERT_EQ(b.h % 64, 0);
    ASSERT_GE((b.w / 64) * (b.h / 64), 16) << "fewer than 16 badge cells";
    std::set<std::vector<uint8_t>> distinct;
    for (int i = 0; i < 16; i++) {
        int cx = (i % (b.w / 64)) * 64, cy = (i / (b.w / 64)) * 64;
        EXPECT_GT(SolidCount(b, cx, cy, 64, 64), 1500) << "badge " << i;
        std::vector<uint8_t> cell;
        for (int y = 0; y < 64; y++)
            cell.insert(cell.end(), b.at(cx, cy + y), b.at(cx, cy + y) + 64 * 4);
        distinct.insert(cell);
        // Badges stay inside their cells: the cell's border ring is clear.
        for (int k = 0; k < 64; k++) {
            EXPECT_EQ(b.a(cx + k, cy), 0);
            EXPECT_EQ(b.a(cx, cy + k), 0);
        }
    }
    EXPECT_EQ(distinct.size(), 16u);

    for (const char* name : {"logo.png", "Vantor.png"}) {
        SCOPED_TRACE(name);
        Png p = MustRead(kCommon + name);
        // Drawn at 1.5x on the splash: at most about 400 x 300.
        EXPECT_LE(p.w, 420);
        EXPECT_LE(p.h, 300);
        EXPECT_GE(p.w, 200);
        EXPECT_GT(SolidCount(p), p.w * p.h / 6);
    }
}

// ----------------------------------------------------------------- sounds ---

TEST(AssetSounds, EffectsArePlainPcmLevelledAndClickFree) {
    std::vector<std::string> paths;
    for (int n = 1; n <= 19; n++) paths.push_back(kGame + WavName(n));
    paths.push_back(kCommon + "badgeget.wav");
    std::map<std::string, Wav> wavs;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        Wav w;
        ASSERT_TRUE(ReadWav(path, w));
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.channels, 1);
        EXPECT_TRUE(w.rate == 22050 || w.rate == 44100) << w.rate;
        double db = w.peakDb();
        EXPECT_LE(db, -0.9) << "too hot";
        EXPECT_GE(db, -6.0) << "too quiet";
        int clipped = 0;
        for (int16_t v : w.s) clipped += v >= 32767 || v <= -32767;
        EXPECT_EQ(clipped, 0);
        // No click: silence at both ends.
        EXPECT_LT(std::abs(w.s.front()), 400);
        EXPECT_LT(std::abs(w.s.back()), 400);
        EXPECT_GE(w.seconds(), 0.1);
        wavs[path] = w;
    }
    // Strikes are short knocks, and six different ones.
    for (int n = 1; n <= 6; n++) {
        EXPECT_LE(wavs[kGame + WavName(n)].seconds(), 0.4) << n;
        for (int m = n + 1; m <= 6; m++) EXPECT_NE(wavs[kGame + WavName(n)].s, wavs[kGame + WavName(m)].s);
    }
    // Mushroom plinks 11..15 rise in pitch.
    double last = 0;
    for (int n = 11; n <= 15; n++) {
        double hz = ZeroCrossingHz(wavs[kGame + WavName(n)], 0.01, 0.2);
        EXPECT_GT(hz, last * 1.05) << "plink " << n << " at " << hz << " Hz";
        last = hz;
    }
    // The loss sound is the longest effect; the jingle is a short phrase.
    EXPECT_GE(wavs[kGame + WavName(18)].seconds(), 0.6);
    double jingle = wavs[kCommon + "badgeget.wav"].seconds();
    EXPECT_GE(jingle, 0.8);
    EXPECT_LE(jingle, 3.0);
}

TEST(AssetSounds, TitleMusicIsAVorbisLoopOfHalfAMinute) {
    Ogg o;
    ASSERT_TRUE(ReadOgg(kGame + "wormlob.ogg", o));
    EXPECT_TRUE(o.channels == 1 || o.channels == 2);
    EXPECT_TRUE(o.rate == 44100 || o.rate == 22050);
    EXPECT_GE(o.seconds, 30.0);
    EXPECT_LE(o.seconds, 60.0);
    ASSERT_FALSE(o.s.empty());
    float peak = 0;
    double energy = 0;
    for (float v : o.s) {
        peak = std::max(peak, std::fabs(v));
        energy += (double)v * v;
    }
    EXPECT_LT(peak, 1.0f) << "decoded music clips";
    EXPECT_GT(peak, 0.5f);
    double rms = std::sqrt(energy / o.s.size());
    EXPECT_GT(rms, 0.05) << "music too quiet for its peak";
    // The loop restarts without a jump: its last and first frames meet.
    for (int c = 0; c < o.channels; c++)
        EXPECT_LT(std::fabs(o.s[o.s.size() - o.channels + c] - o.s[c]), 0.15f) << "channel " << c;
    // No second of silence anywhere in the loop.
    size_t second = (size_t)o.rate * o.channels;
    for (size_t i = 0; i + second <= o.s.size(); i += second) {
        double e = 0;
        for (size_t k = i; k < i + second; k++) e += (double)o.s[k] * o.s[k];
        EXPECT_GT(std::sqrt(e / second), 0.01) << "silent second at " << i / o.channels / o.rate;
    }
}

// ---------------------------------------------------------- reproducible ---

TEST(AssetGenerator, RegeneratesExactlyWhatIsCommitted) {
    std::string tool = std::string(WORMLOB_BINARY_DIR) + "/tools/assetgen/assetgen";
    if (!fs::exists(tool)) WORMLOB_SKIP("assetgen is not built (" << tool << ")");
    fs::path out = fs::temp_directory_path() / ("wormlob_assets_" + std::to_string(getpid()));
    fs::remove_all(out);
    std::string cmd = "\"" + tool + "\" \"" + out.string() + "\" --fonts \"" + kCommon + "\" > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    // The same set of generated files as committed (fonts and licences are
    // copied, not generated).
    auto generatedSet = [](const fs::path& root) {
        std::set<std::string> names;
        for (const char* sub : {"Common", "418"})
            for (auto& e : fs::directory_iterator(root / sub)) {
                std::string ext = e.path().extension().string();
                if (ext == ".png" || ext == ".wav" || ext == ".ogg")
                    names.insert(std::string(sub) + "/" + e.path().filename().string());
            }
        return names;
    };
    std::set<std::string> made = generatedSet(out), committed = generatedSet(kFiles);
    EXPECT_EQ(made, committed);

    for (const std::string& name : made) {
        SCOPED_TRACE(name);
        std::string a = (out / name).string(), b = kFiles + "/" + name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".png") {
            Png x, y;
            ASSERT_TRUE(ReadPng(a, x));
            ASSERT_TRUE(ReadPng(b, y));
            ASSERT_EQ(x.w, y.w);
            ASSERT_EQ(x.h, y.h);
            int worst = 0;
            for (size_t i = 0; i < x.px.size(); i++) worst = std::max(worst, std::abs(x.px[i] - y.px[i]));
            // One step of rounding is allowed for a different libm; a changed
            // drawing moves far more.
            EXPECT_LE(worst, 1);
        } else if (name.substr(name.size() - 4) == ".wav") {
            Wav x, y;
            ASSERT_TRUE(ReadWav(a, x));
            ASSERT_TRUE(ReadWav(b, y));
            ASSERT_EQ(x.rate, y.rate);
            ASSERT_EQ(x.s.size(), y.s.size());
            int worst = 0;
            for (size_t i = 0; i < x.s.size(); i++) worst = std::max(worst, std::abs(x.s[i] - y.s[i]));
            EXPECT_LE(worst, 1);
        } else {
            // Encoded bytes may differ between library versions; the decoded
            // music must match closely.
            Ogg x, y;
            ASSERT_TRUE(ReadOgg(a, x));
            ASSERT_TRUE(ReadOgg(b, y));
            ASSERT_EQ(x.channels, y.channels);
            ASSERT_EQ(x.rate, y.rate);
            ASSERT_EQ(x.s.size(), y.s.size());
            double err = 0;
            for (size_t i = 0; i < x.s.size(); i++) err += (double)(x.s[i] - y.s[i]) * (x.s[i] - y.s[i]);
            EXPECT_LT(std::sqrt(err / x.s.size()), 0.003);
        }
    }
    fs::remove_all(out);
}

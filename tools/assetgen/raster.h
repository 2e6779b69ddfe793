// Small software rasteriser for the asset generator: float RGBA images,
// anti-aliased shapes described by signed distance functions, blurs, text
// through FreeType, and PNG files through libpng.
//
// Everything here is deterministic: no clocks, no global random state, no
// threads, so the same build always writes the same pixels.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace assetgen {

struct RGBA {
    float r = 0, g = 0, b = 0, a = 0;
};

inline RGBA Grey(float v, float a = 1.0f) { return {v, v, v, a}; }

// Straight (not premultiplied) RGBA, each channel 0..1, row-major.
struct Image {
    int w = 0, h = 0;
    std::vector<RGBA> px;
    Image() = default;
    Image(int width, int height) : w(width), h(height), px((size_t)width * height) {}
    RGBA& at(int x, int y) { return px[(size_t)y * w + x]; }
    const RGBA& at(int x, int y) const { return px[(size_t)y * w + x]; }
};

// Signed distance in pixels: negative inside, positive outside.
using Sdf = std::function<float(float x, float y)>;
using Shader = std::function<RGBA(float x, float y)>;

float Clamp01(float v);
float SmoothStep(float e0, float e1, float x);
float Mix(float a, float b, float t);

// Shape distance functions (coordinates in pixels of the target image).
float SdCircle(float x, float y, float cx, float cy, float r);
float SdBox(float x, float y, float cx, float cy, float hw, float hh, float radius = 0);
float SdSegment(float x, float y, float ax, float ay, float bx, float by, float r);
float SdPolygon(float x, float y, const std::vector<float>& xy);  // x0,y0,x1,y1,...
float SdEllipse(float x, float y, float cx, float cy, float rx, float ry);
inline float SdUnion(float a, float b) { return std::min(a, b); }
inline float SdCut(float a, float b) { return std::max(a, -b); }

// Coverage of a pixel centre for a distance: a one-pixel wide ramp centred on
// the outline, so alpha crosses 0.5 exactly on the shape's edge.
inline float Coverage(float d) { return Clamp01(0.5f - d); }

// Composites `shader` (with coverage from `sdf`) over the image; the `over`
// operator on straight alpha.
void Paint(Image& img, const Sdf& sdf, const Shader& shader);
void Paint(Image& img, const Sdf& sdf, RGBA colour);
// Multiplies alpha by (1 - coverage): cuts holes (bites, chips, notches).
void Erase(Image& img, const Sdf& sdf);
// Sets every pixel's colour by a shader without touching alpha.
void Recolour(Image& img, const Shader& shader);
// Composites src over dst at integer offset.
void Blit(Image& dst, const Image& src, int ox, int oy);
// Separable Gaussian blur of all channels (premultiplied internally).
Image Blur(const Image& src, float sigma);
// The glow for a body: a Gaussian blur of the body's alpha, white, scaled so
// its strongest pixel has alpha `peak`.
Image GlowOf(const Image& body, float sigma, float peak);

bool WritePng(const std::string& path, const Image& img);
// Reads any PNG as 8-bit RGBA; false on failure (missing or broken file).
bool ReadPngRgba8(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgba);
// Converts to 8-bit RGBA exactly as WritePng stores it.
std::vector<uint8_t> ToRgba8(const Image& img);

// Text rendered with FreeType into an alpha mask (white, alpha = coverage).
struct TextMask {
    Image img;          // size of the ink box plus `pad` on every side
    int baseline = 0;   // y of the baseline inside img
};
bool RenderText(const std::string& fontPath, int pixelSize, const std::string& latin1Text,
                int pad, TextMask& out);
// Grows an alpha mask by a radius (max filter over a disc), for outlines.
Image Dilate(const Image& src, int radius);

// Deterministic random numbers for noise, scratches and jitter.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    float unit() { return (float)((next() >> 40) * (1.0 / 16777216.0)); }  // [0,1)
    float range(float a, float b) { return a + (b - a) * unit(); }
};

}  // namespace assetgen

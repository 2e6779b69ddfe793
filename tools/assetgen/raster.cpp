#include "raster.h"

#include <png.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <memory>

namespace assetgen {

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
float SmoothStep(float e0, float e1, float x) {
    float t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
float Mix(float a, float b, float t) { return a + (b - a) * t; }

float SdCircle(float x, float y, float cx, float cy, float r) {
    return std::hypot(x - cx, y - cy) - r;
}

float SdBox(float x, float y, float cx, float cy, float hw, float hh, float radius) {
    float qx = std::fabs(x - cx) - (hw - radius);
    float qy = std::fabs(y - cy) - (hh - radius);
    float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
    return std::hypot(ox, oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

float SdSegment(float x, float y, float ax, float ay, float bx, float by, float r) {
    float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? Clamp01((px * dx + py * dy) / len2) : 0;
    return std::hypot(px - dx * t, py - dy * t) - r;
}

float SdPolygon(float x, float y, const std::vector<float>& v) {
    size_t n = v.size() / 2;
    float d = 1e30f;
    float s = 1;
    for (size_t i = 0, j = n - 1; i < n; j = i, i++) {
        float ex = v[2 * j] - v[2 * i], ey = v[2 * j + 1] - v[2 * i + 1];
        float wx = x - v[2 * i], wy = y - v[2 * i + 1];
        float len2 = ex * ex + ey * ey;
        float t = len2 > 0 ? Clamp01((wx * ex + wy * ey) / len2) : 0;
        float bx = wx - ex * t, by = wy - ey * t;
        d = std::min(d, bx * bx + by * by);
        bool c1 = y >= v[2 * i + 1], c2 = y < v[2 * j + 1], c3 = ex * wy > ey * wx;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
    }
    return s * std::sqrt(d);
}

float SdEllipse(float x, float y, float cx, float cy, float rx, float ry) {
    // Scaled-circle approximation, corrected by the gradient length so the
    // edge ramp stays about one pixel wide.
    float nx = (x - cx) / rx, ny = (y - cy) / ry;
    float k0 = std::hypot(nx, ny);
    float k1 = std::hypot(nx / rx, ny / ry);
    if (k1 <= 0) return -std::min(rx, ry);
    return k0 * (k0 - 1.0f) / k1;
}

static inline RGBA Over(const RGBA& dst, const RGBA& src) {
    float a = src.a + dst.a * (1 - src.a);
    if (a <= 0) return {0, 0, 0, 0};
    RGBA o;
    o.r = (src.r * src.a + dst.r * dst.a * (1 - src.a)) / a;
    o.g = (src.g * src.a + dst.g * dst.a * (1 - src.a)) / a;
    o.b = (src.b * src.a + dst.b * dst.a * (1 - src.a)) / a;
    o.a = a;
    return o;
}

void Paint(Image& img, const Sdf& sdf, const Shader& shader) {
    for (int y = 0; y < img.h; y++)
        for (int x = 0; x < img.w; x++) {
            float fx = x + 0.5f, fy = y + 0.5f;
            float c = Coverage(sdf(fx, fy));
            if (c <= 0) continue;
            RGBA s = shader(fx, fy);
            s.a *= c;
            img.at(x, y) = Over(img.at(x, y), s);
        }
}

void Paint(Image& img, const Sdf& sdf, RGBA colour) {
    Paint(img, sdf, [colour](float, float) { return colour; });
}

void Erase(Image& img, const Sdf& sdf) {
    for (int y = 0; y < img.h; y++)
        for (int x = 0; x < img.w; x++) {
            float c = Coverage(sdf(x + 0.5f, y + 0.5f));
            img.at(x, y).a *= (1 - c);
        }
}

void Recolour(Image& img, const Shader& shader) {
    for (int y = 0; y < img.h; y++)
        for (int x = 0; x < img.w; x++) {
            RGBA s = shader(x + 0.5f, y + 0.5f);
            RGBA& d = img.at(x, y);
            d.r = s.r;
            d.g = s.g;
            d.b = s.b;
        }
}

void Blit(Image& dst, const Image& src, int ox, int oy) {
    for (int y = 0; y < src.h; y++)
        for (int x = 0; x < src.w; x++) {
            int dx = x + ox, dy = y + oy;
            if (dx < 0 || dy < 0 || dx >= dst.w || dy >= dst.h) continue;
            dst.at(dx, dy) = Over(dst.at(dx, dy), src.at(x, y));
        }
}

Image Blur(const Image& src, float sigma) {
    int radius = (int)std::ceil(sigma * 3);
    std::vector<float> k(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; i++) {
        k[i + radius] = std::exp(-(float)(i * i) / (2 * sigma * sigma));
        sum += k[i + radius];
    }
    for (float& v : k) v /= sum;
    int w = src.w, h = src.h;
    // Premultiply so transparent pixels do not bleed black into the colour.
    std::vector<RGBA> a(src.px.size()), b(src.px.size());
    for (size_t i = 0; i < src.px.size(); i++) {
        const RGBA& p = src.px[i];
        a[i] = {p.r * p.a, p.g * p.a, p.b * p.a, p.a};
    }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBA acc;
            for (int i = -radius; i <= radius; i++) {
                int sx = x + i;
                if (sx < 0 || sx >= w) continue;
                const RGBA& p = a[(size_t)y * w + sx];
                float kv = k[i + radius];
                acc.r += p.r * kv; acc.g += p.g * kv; acc.b += p.b * kv; acc.a += p.a * kv;
            }
            b[(size_t)y * w + x] = acc;
        }
    Image out(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBA acc;
            for (int i = -radius; i <= radius; i++) {
                int sy = y + i;
                if (sy < 0 || sy >= h) continue;
                const RGBA& p = b[(size_t)sy * w + x];
                float kv = k[i + radius];
                acc.r += p.r * kv; acc.g += p.g * kv; acc.b += p.b * kv; acc.a += p.a * kv;
            }
            if (acc.a > 1e-6f) {
                acc.r /= acc.a; acc.g /= acc.a; acc.b /= acc.a;
            } else {
                acc = {0, 0, 0, 0};
            }
            out.at(x, y) = acc;
        }
    return out;
}

Image GlowOf(const Image& body, float sigma, float peak) {
    Image mask(body.w, body.h);
    for (size_t i = 0; i < body.px.size(); i++) mask.px[i] = {1, 1, 1, body.px[i].a};
    Image g = Blur(mask, sigma);
    float top = 0;
    for (const RGBA& p : g.px) top = std::max(top, p.a);
    float scale = top > 0 ? peak / top : 0;
    for (RGBA& p : g.px) p = {1, 1, 1, Clamp01(p.a * scale)};
    // The glow fades out before the image's border, so it never shows the
    // rectangle it is drawn in.
    float w = (float)g.w, h = (float)g.h;
    for (int y = 0; y < g.h; y++)
        for (int x = 0; x < g.w; x++) {
            float ex = std::min(x + 0.5f, w - x - 0.5f), ey = std::min(y + 0.5f, h - y - 0.5f);
            float edge = (std::min(ex, ey) - 0.5f) / (0.1f * std::min(w, h));
            g.at(x, y).a *= SmoothStep(0, 1, edge);
        }
    return g;
}

static inline uint8_t To8(float v) {
    int q = (int)std::lround(Clamp01(v) * 255.0f);
    return (uint8_t)q;
}

std::vector<uint8_t> ToRgba8(const Image& img) {
    std::vector<uint8_t> out(img.px.size() * 4);
    for (size_t i = 0; i < img.px.size(); i++) {
        const RGBA& p = img.px[i];
        uint8_t a = To8(p.a);
        // Fully transparent pixels carry white: filtering at sprite edges
        // then blends toward the sprite's own colour, not toward black.
        if (a == 0) {
            out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = 255;
        } else {
            out[4 * i] = To8(p.r);
            out[4 * i + 1] = To8(p.g);
            out[4 * i + 2] = To8(p.b);
        }
        out[4 * i + 3] = a;
    }
    return out;
}

bool WritePng(const std::string& path, const Image& img) {
    std::vector<uint8_t> data = ToRgba8(img);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, img.w, img.h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.h; y++) png_write_row(png, &data[(size_t)y * img.w * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool ReadPngRgba8(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    w = (int)image.width;
    h = (int)image.height;
    rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

bool RenderText(const std::string& fontPath, int pixelSize, const std::string& text, int pad,
                TextMask& out) {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib)) return false;
    std::unique_ptr<FT_LibraryRec_, FT_Error (*)(FT_Library)> libGuard(lib, FT_Done_FreeType);
    FT_Face face = nullptr;
    if (FT_New_Face(lib, fontPath.c_str(), 0, &face)) return false;
    std::unique_ptr<FT_FaceRec_, FT_Error (*)(FT_Face)> faceGuard(face, FT_Done_Face);
    if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixelSize)) return false;

    struct Glyph {
        int x, y, w, h;
        std::vector<uint8_t> a;
    };
    std::vector<Glyph> glyphs;
    long penX = 0;  // 26.6
    FT_UInt prev = 0;
    int minX = 1 << 30, minY = 1 << 30, maxX = -(1 << 30), maxY = -(1 << 30);
    for (unsigned char ch : text) {
        FT_UInt gi = FT_Get_Char_Index(face, ch);
        if (prev && gi && FT_HAS_KERNING(face)) {
            FT_Vector k;
            if (!FT_Get_Kerning(face, prev, gi, FT_KERNING_DEFAULT, &k)) penX += k.x;
        }
        if (FT_Load_Glyph(face, gi, FT_LOAD_DEFAULT | FT_LOAD_NO_HINTING)) continue;
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL)) continue;
        FT_GlyphSlot g = face->glyph;
        Glyph gl;
        gl.x = (int)(penX >> 6) + g->bitmap_left;
        gl.y = -g->bitmap_top;  // relative to the baseline
        gl.w = (int)g->bitmap.width;
        gl.h = (int)g->bitmap.rows;
        gl.a.resize((size_t)gl.w * gl.h);
        for (int r = 0; r < gl.h; r++)
            for (int c = 0; c < gl.w; c++)
                gl.a[(size_t)r * gl.w + c] = g->bitmap.buffer[r * g->bitmap.pitch + c];
        if (gl.w > 0 && gl.h > 0) {
            minX = std::min(minX, gl.x);
            minY = std::min(minY, gl.y);
            maxX = std::max(maxX, gl.x + gl.w);
            maxY = std::max(maxY, gl.y + gl.h);
        }
        penX += g->advance.x;
        prev = gi;
        glyphs.push_back(std::move(gl));
    }
    if (maxX <= minX) return false;
    out.img = Image(maxX - minX + 2 * pad, maxY - minY + 2 * pad);
    out.baseline = pad - minY;
    for (const Glyph& gl : glyphs)
        for (int r = 0; r < gl.h; r++)
            for (int c = 0; c < gl.w; c++) {
                int x = gl.x - minX + pad + c, y = gl.y - minY + pad + r;
                RGBA& p = out.img.at(x, y);
                float a = gl.a[(size_t)r * gl.w + c] / 255.0f;
                p = {1, 1, 1, std::max(p.a, a)};
            }
    return true;
}

Image Dilate(const Image& src, int radius) {
    Image out(src.w, src.h);
    for (int y = 0; y < src.h; y++)
        for (int x = 0; x < src.w; x++) {
            float m = 0;
            for (int j = -radius; j <= radius; j++)
                for (int i = -radius; i <= radius; i++) {
                    int sx = x + i, sy = y + j;
                    if (sx < 0 || sy < 0 || sx >= src.w || sy >= src.h) continue;
                    float d = std::hypot((float)i, (float)j);
                    float w = Clamp01(radius + 0.5f - d);
                    m = std::max(m, src.at(sx, sy).a * w);
                }
            out.at(x, y) = {1, 1, 1, m};
        }
    return out;
}

}  // namespace assetgen

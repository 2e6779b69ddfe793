// Test pictures made in code: PNG files with or without an alpha channel,
// written with libpng directly so the loader is tested against an
// independent writer.
#pragma once

#include <png.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string GfxTempPath(const std::string& name) {
    return "/tmp/gfx_test_" + std::to_string(getpid()) + "_" + name;
}

// rgba holds 4 bytes per pixel; with alpha false the alpha bytes are dropped
// and the file is plain RGB.
inline bool GfxWritePng(const std::string& path, const std::vector<uint8_t>& rgba, int w, int h,
                        bool alpha) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((size_t)w * 4);
    for (int y = 0; y < h; ++y) {
        size_t n = 0;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < (alpha ? 4 : 3); ++c) row[n++] = rgba[((size_t)y * w + x) * 4 + c];
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// A w x h picture filled with one colour.
inline std::vector<uint8_t> GfxFill(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> px((size_t)w * h * 4);
    for (size_t i = 0; i < (size_t)w * h; ++i) px[i * 4] = r, px[i * 4 + 1] = g, px[i * 4 + 2] = b, px[i * 4 + 3] = a;
    return px;
}

inline void GfxSet(std::vector<uint8_t>& px, int w, int x, int y, uint8_t r, uint8_t g, uint8_t b,
                   uint8_t a) {
    uint8_t* p = &px[((size_t)y * w + x) * 4];
    p[0] = r, p[1] = g, p[2] = b, p[3] = a;
}

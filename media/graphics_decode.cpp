// Picture decoding (PNG through libpng, uncompressed and RLE TGA, BMP), the
// mask-colour rule, and PNG writing for screenshots. Every decoder checks
// sizes and offsets against the buffer it was given: a corrupt or hostile
// file yields false, never a read outside the buffer or a huge allocation.
#include "media/graphics_internal.h"

#include <png.h>
#ifdef WORMLOB_HAVE_JPEG
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <jpeglib.h>
#endif

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace gfx {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    // A regular file too big is refused without reading it.
    bool ok = std::fseek(f, 0, SEEK_END) != 0 || (unsigned long)std::ftell(f) <= maxBytes;
    std::rewind(f);
    // Read in blocks and stop past the limit: a file that is not regular
    // (a pipe, a device) has no size to ask for beforehand.
    while (ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (out.size() + n > maxBytes) ok = false;
        else out.insert(out.end(), buf, buf + n);
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    if (!ok) out.clear();
    return ok;
}

static bool SizeAcceptable(long w, long h) {
    return w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide &&
           w * h <= kMaxImagePixels;
}

// ------------------------------------------------------------------ PNG ---

namespace {
struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}
void PngQuietWarning(png_structp, png_const_charp) {}
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
}  // namespace

bool DecodePng(const uint8_t* data, size_t size, Decoded& out) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError,
                                             PngQuietWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngSource src{data, size, 0};
    // Declared before setjmp so that a longjmp leaves them in a known state.
    std::vector<png_bytep> rows;
    out.rgba.clear();
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        out.rgba.clear();
        return false;
    }
    png_set_read_fn(png, &src, PngRead);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_malloc_max(png, 8 * 1024 * 1024);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, ctype = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &ctype, nullptr, nullptr, nullptr);
    if (!SizeAcceptable(w, h)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    bool alpha = (ctype & PNG_COLOR_MASK_ALPHA) != 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        alpha = true;
    }
    if (ctype == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (ctype == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (ctype == PNG_COLOR_TYPE_GRAY || ctype == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (depth == 16) png_set_strip_16(png);
    if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)w * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    out.rgba.resize((size_t)w * h * 4);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.rgba.data() + (size_t)y * w * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    out.width = (int)w;
    out.height = (int)h;
    out.hasAlpha = alpha;
    return true;
}

// ------------------------------------------------------------------ BMP ---

static uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
static uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

namespace {
// One colour channel of a 16- or 32-bit BMP pixel, given by its bit mask.
struct BmpChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // the mask shifted down: the channel's full value
};

BmpChannel BmpMask(uint32_t mask) {
    BmpChannel c;
    c.mask = mask;
    if (!mask) return c;
    while (!((mask >> c.shift) & 1)) ++c.shift;
    c.max = mask >> c.shift;
    return c;
}

uint8_t BmpValue(uint32_t px, const BmpChannel& c) {
    if (!c.mask) return 0;
    return (uint8_t)(((uint64_t)((px & c.mask) >> c.shift) * 255 + c.max / 2) / c.max);
}
}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Decoded& out) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M') return false;
    uint32_t pixOffset = Le32(data + 10);
    uint32_t hdrSize = Le32(data + 14);
    if (hdrSize < 40 || 14 + (size_t)hdrSize > size) return false;
    int32_t w = (int32_t)Le32(data + 18);
    int32_t hRaw = (int32_t)Le32(data + 22);
    uint32_t bpp = Le16(data + 28);
    uint32_t comp = Le32(data + 30);
    uint32_t colours = Le32(data + 46);
    if (hRaw == INT32_MIN) return false;
    bool topDown = hRaw < 0;
    int32_t h = topDown ? -hRaw : hRaw;
    if (!SizeAcceptable(w, h)) return false;
    // Uncompressed only: BI_RGB, or for 16 and 32 bits BI_BITFIELDS (3) and
    // BI_ALPHABITFIELDS (6), whose masks say where each channel sits.
    bool fields = comp == 3 || comp == 6;
    if (comp != 0 && !(fields && (bpp == 16 || bpp == 32))) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    size_t rowBytes = (((size_t)w * bpp + 31) / 32) * 4;
    if (pixOffset > size || rowBytes * (size_t)h > size - pixOffset) return false;
    const uint8_t* palette = data + 14 + hdrSize;
    uint32_t palCount = 0;
    if (bpp <= 8) {
        palCount = colours ? colours : (1u << bpp);
        if (palCount > 256 || palette + (size_t)palCount * 4 > data + size) return false;
    }
    // The masks: inside a header of 52 bytes or more, else right after the
    // 40-byte one. Without them: 5-5-5 for 16 bits, B G R and a fourth byte
    // for 32 bits, which is alpha when any pixel sets it (many writers
    // leave it 0 for an opaque picture).
    BmpChannel r, g, b, a;
    bool alphaByte = false;
    if (fields) {
        size_t at = 14 + 40, count = hdrSize >= 56 || comp == 6 ? 4 : 3;
        if (at + count * 4 > size) return false;
        r = BmpMask(Le32(data + at)), g = BmpMask(Le32(data + at + 4)), b = BmpMask(Le32(data + at + 8));
        if (count == 4) a = BmpMask(Le32(data + at + 12));
    } else if (bpp == 16) {
        r = BmpMask(0x7C00), g = BmpMask(0x03E0), b = BmpMask(0x001F);
    } else if (bpp == 32) {
        r = BmpMask(0x00FF0000), g = BmpMask(0x0000FF00), b = BmpMask(0x000000FF);
        for (int32_t y = 0; y < h && !alphaByte; ++y) {
            const uint8_t* row = data + pixOffset + rowBytes * (size_t)y;
            for (int32_t x = 0; x < w && !alphaByte; ++x) alphaByte = row[(size_t)x * 4 + 3] != 0;
        }
        if (alphaByte) a = BmpMask(0xFF000000);
    }
    out.rgba.assign((size_t)w * h * 4, 0);
    out.width = w;
    out.height = h;
    out.hasAlpha = a.mask != 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = data + pixOffset + rowBytes * (size_t)(topDown ? y : h - 1 - y);
        uint8_t* dst = out.rgba.data() + (size_t)y * w * 4;
        for (int32_t x = 0; x < w; ++x, dst += 4) {
            if (bpp <= 8) {
                uint32_t bit = (uint32_t)x * bpp;
                uint32_t idx = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                if (idx >= palCount) idx = 0;
                const uint8_t* c = palette + idx * 4;
                dst[0] = c[2], dst[1] = c[1], dst[2] = c[0], dst[3] = 255;
            } else if (bpp == 24) {
                const uint8_t* c = row + (size_t)x * 3;
                dst[0] = c[2], dst[1] = c[1], dst[2] = c[0], dst[3] = 255;
            } else {
                uint32_t px = bpp == 16 ? Le16(row + (size_t)x * 2) : Le32(row + (size_t)x * 4);
                dst[0] = BmpValue(px, r), dst[1] = BmpValue(px, g), dst[2] = BmpValue(px, b);
                dst[3] = a.mask ? BmpValue(px, a) : 255;
            }
        }
    }
    return true;
}

// ------------------------------------------------------------------ TGA ---

bool DecodeTga(const uint8_t* data, size_t size, Decoded& out) {
    if (size < 18) return false;
    int idLen = data[0], cmapType = data[1], type = data[2];
    int w = (int)Le16(data + 12), h = (int)Le16(data + 14);
    int bpp = data[16], desc = data[17];
    bool rle = type == 10 || type == 11;
    int base = rle ? type - 8 : type;
    if (cmapType != 0 || (base != 2 && base != 3)) return false;
    if (base == 2 && bpp != 24 && bpp != 32) return false;
    if (base == 3 && bpp != 8) return false;
    if (!SizeAcceptable(w, h)) return false;
    size_t pos = 18 + (size_t)idLen;
    size_t cmapLen = (size_t)Le16(data + 5) * ((data[7] + 7) / 8);
    pos += cmapLen;
    if (pos > size) return false;
    int bytes = bpp / 8;
    size_t count = (size_t)w * h;
    // Refuse a size the bytes left cannot fill before allocating for it:
    // a run packet covers at most 128 pixels with a header byte and one
    // pixel, a plain image one pixel per pixel's bytes. Otherwise a header
    // of a few dozen bytes claiming 16384 x 4096 costs 256 MB twice over.
    size_t left = size - pos;
    size_t most = rle ? left / (size_t)(1 + bytes) * 128 : left / (size_t)bytes;
    if (count > most) return false;
    std::vector<uint8_t> px(count * 4);
    auto put = [&](size_t i, const uint8_t* c) {
        uint8_t* d = &px[i * 4];
        if (bytes == 1) d[0] = d[1] = d[2] = c[0], d[3] = 255;
        else d[0] = c[2], d[1] = c[1], d[2] = c[0], d[3] = bytes == 4 ? c[3] : 255;
    };
    size_t i = 0;
    while (i < count) {
        if (!rle) {
            if (pos + bytes > size) return false;
            put(i++, data + pos);
            pos += bytes;
            continue;
        }
        if (pos >= size) return false;
        int head = data[pos++];
        size_t n = (size_t)(head & 0x7F) + 1;
        if (n > count - i) return false;
        if (head & 0x80) {
            if (pos + bytes > size) return false;
            for (size_t k = 0; k < n; ++k) put(i++, data + pos);
            pos += bytes;
        } else {
            if (pos + n * bytes > size) return false;
            for (size_t k = 0; k < n; ++k, pos += bytes) put(i++, data + pos);
        }
    }
    // Rows are stored bottom-up unless the descriptor says top-down; the
    // right-to-left flag is honoured too.
    bool topDown = (desc & 0x20) != 0, rightLeft = (desc & 0x10) != 0;
    out.rgba.resize(count * 4);
    for (int y = 0; y < h; ++y) {
        int sy = topDown ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            int sx = rightLeft ? w - 1 - x : x;
            std::memcpy(&out.rgba[((size_t)y * w + x) * 4], &px[((size_t)sy * w + sx) * 4], 4);
        }
    }
    out.width = w;
    out.height = h;
    out.hasAlpha = bytes == 4 && (desc & 0x0F) != 0;
    return true;
}

// ----------------------------------------------------------------- JPEG ---

#ifdef WORMLOB_HAVE_JPEG
namespace {
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
void JpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void JpegQuiet(j_common_ptr, int) {}
}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, Decoded& out) {
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return false;
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    err.mgr.emit_message = JpegQuiet;
    out.rgba.clear();
    std::vector<uint8_t> row;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out.rgba.clear();
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, (unsigned long)size);
    jpeg_read_header(&cinfo, TRUE);
    if (!SizeAcceptable(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    int w = (int)cinfo.output_width, h = (int)cinfo.output_height;
    if (cinfo.output_components != 3 || !SizeAcceptable(w, h)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    out.rgba.resize((size_t)w * h * 4);
    row.resize((size_t)w * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rp = row.data();
        int y = (int)cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, &rp, 1) != 1) break;
        uint8_t* dst = &out.rgba[(size_t)y * w * 4];
        for (int x = 0; x < w; ++x)
            dst[x * 4] = row[x * 3], dst[x * 4 + 1] = row[x * 3 + 1], dst[x * 4 + 2] = row[x * 3 + 2],
            dst[x * 4 + 3] = 255;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out.width = w;
    out.height = h;
    out.hasAlpha = false;
    return true;
}
#else
bool DecodeJpeg(const uint8_t*, size_t, Decoded&) { return false; }
#endif

bool DecodeImage(const uint8_t* data, size_t size, Decoded& out) {
    if (!data || size == 0) return false;
    if (DecodePng(data, size, out)) return true;
    if (DecodeJpeg(data, size, out)) return true;
    if (DecodeBmp(data, size, out)) return true;
    // TGA has no signature; try it last.
    return DecodeTga(data, size, out);
}

// -------------------------------------------------------------- masking ---

void ApplyMask(uint8_t* rgba, int width, int height, int mr, int mg, int mb) {
    auto isMask = [&](const uint8_t* p) { return p[0] == mr && p[1] == mg && p[2] == mb; };
    // First pass decides which pixels are mask pixels, from the untouched
    // colours, so that recolouring one pixel does not affect its neighbours.
    std::vector<uint8_t> mask((size_t)width * height);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = isMask(rgba + i * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            size_t i = (size_t)y * width + x;
            uint8_t* p = rgba + i * 4;
            if (!mask[i]) {
                p[3] = 255;
                continue;
            }
            // A transparent pixel takes the average colour of its solid
            // neighbours, so bilinear filtering at the outline does not pull
            // in the mask colour as a dark fringe.
            int sr = 0, sg = 0, sb = 0, n = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
                    size_t j = (size_t)ny * width + nx;
                    if (mask[j]) continue;
                    const uint8_t* q = rgba + j * 4;
                    sr += q[0], sg += q[1], sb += q[2], ++n;
                }
            }
            if (n) p[0] = (uint8_t)(sr / n), p[1] = (uint8_t)(sg / n), p[2] = (uint8_t)(sb / n);
            else p[0] = p[1] = p[2] = 0;
            p[3] = 0;
        }
    }
}

}  // namespace gfx

// ------------------------------------------------------------ PNG output ---

bool SavePixmapAsPng(const TPixmap& pm, const std::string& path, int level) {
    if (pm.width <= 0 || pm.height <= 0 || pm.format != 4) return false;
    int pitch = pm.pitch ? pm.pitch : pm.width * 4;
    if (pitch < pm.width * 4 || pm.pixels.size() < (size_t)pitch * (pm.height - 1) + pm.width * 4)
        return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, gfx::PngError,
                                              gfx::PngQuietWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        if (png) png_destroy_write_struct(&png, nullptr);
        std::fclose(f);
        std::remove(path.c_str());
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        std::remove(path.c_str());
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, level < 0 ? 0 : level > 9 ? 9 : level);
    png_set_IHDR(png, info, pm.width, pm.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < pm.height; ++y)
        png_write_row(png, const_cast<png_bytep>(pm.pixels.data() + (size_t)y * pitch));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) std::remove(path.c_str());
    return ok;
}

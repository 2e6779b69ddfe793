// Image fonts: TrueType faces rasterised by FreeType into glyph images on
// first use, and the built-in 8 x 16 bitmap font. Strings are 8-bit; a
// character code 0..255 is taken as the Latin-1 character, which is the
// Unicode code point of the same number.
#include "media/graphics_internal.h"
#include "media/system.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
FT_Library g_ft = nullptr;

bool EnsureFreeType() {
    if (!g_ft && FT_Init_FreeType(&g_ft) != 0) g_ft = nullptr;
    return g_ft != nullptr;
}

// Glyph images are placed by their top-left corner, whatever the
// auto-centre setting says for the program's own images.
ImageRef MakeGlyphImage(const uint8_t* rgba, int w, int h, int flags) {
    auto img = std::make_shared<TImage>();
    img->width = w;
    img->height = h;
    img->flags = flags;
    img->frames.push_back(std::make_unique<TImageFrame>());
    TPixmap& pm = img->frames[0]->pixels;
    pm.width = w;
    pm.height = h;
    pm.pitch = w * 4;
    pm.format = 4;
    pm.pixels.assign(rgba, rgba + (size_t)w * h * 4);
    pm.capacity = (int)pm.pixels.size();
    return img;
}

// Doubles the atlas's height. Glyphs placed so far keep their texels, so
// only their v coordinates shrink; the texture is remade at the new size.
void GrowAtlas(TImageFont& font) {
    const int oldH = font.atlasH;
    font.atlasH *= 2;
    font.atlasPx.resize((size_t)font.atlasW * font.atlasH * 4, 0);
    for (size_t i = (size_t)font.atlasW * oldH * 4; i < font.atlasPx.size(); i += 4)
        font.atlasPx[i] = font.atlasPx[i + 1] = font.atlasPx[i + 2] = 255;
    const float k = (float)oldH / (float)font.atlasH;
    for (TImageGlyph& g : font.glyphs) {
        if (!g.image || g.image->frames.empty()) continue;
        TImageFrame& f = *g.image->frames[0];
        if (f.atlas != &font) continue;
        f.v0 *= k;
        f.v1 *= k;
    }
    if (font.atlasTex && font.atlasSeq == gfx::DisplaySequence() && gfx::GlIsOpen())
        gfx::GlDeleteTexture(font.atlasTex);  // queued quads using it go first
    font.atlasTex = 0;
    font.atlasSeq = -1;
}

// Puts a glyph image's pixels into the font's atlas and points its frame
// there. A glyph that no longer fits keeps a texture of its own.
void PlaceInAtlas(TImageFont& font, TImage& img) {
    const int w = img.width, h = img.height, gap = gfx::kAtlasGap;
    if (font.atlasPx.empty()) {
        // Eight cells wide and two rows high to begin with, growing in height
        // as glyphs arrive: a large font that shows a few words (the
        // title's) holds a few megabytes, not a 2048 x 2048 picture here and
        // again in GL.
        int cell = std::max(font.lineHeight, font.size) + 2 + gap;
        int width = 128, height = 32;
        while (width < gfx::kAtlasMaxSide && width < 8 * cell) width *= 2;
        while (height < gfx::kAtlasMaxSide && height < 2 * cell) height *= 2;
        font.atlasW = width, font.atlasH = height;
        font.atlasPx.assign((size_t)width * height * 4, 0);
        // Empty texels are white and clear, like the glyphs' own borders,
        // so filtering next to a glyph fades its alpha, not its colour.
        for (size_t i = 0; i < font.atlasPx.size(); i += 4)
            font.atlasPx[i] = font.atlasPx[i + 1] = font.atlasPx[i + 2] = 255;
        font.shelfX = font.shelfY = gap;
        font.shelfH = 0;
    }
    if (font.shelfX + w + gap > font.atlasW) {
        font.shelfX = gap;
        font.shelfY += font.shelfH + gap;
        font.shelfH = 0;
    }
    if (font.shelfX + w + gap > font.atlasW) return;
    while (font.shelfY + h + gap > font.atlasH && font.atlasH < gfx::kAtlasMaxSide) GrowAtlas(font);
    if (font.shelfY + h + gap > font.atlasH) return;
    int x = font.shelfX, y = font.shelfY;
    font.shelfX += w + gap;
    font.shelfH = std::max(font.shelfH, h);
    const TPixmap& pm = img.frames[0]->pixels;
    for (int row = 0; row < h; ++row)
        std::memcpy(&font.atlasPx[((size_t)(y + row) * font.atlasW + x) * 4],
                    &pm.pixels[(size_t)row * w * 4], (size_t)w * 4);
    TImageFrame& f = *img.frames[0];
    f.atlas = &font;
    f.u0 = (float)x / font.atlasW, f.v0 = (float)y / font.atlasH;
    f.u1 = (float)(x + w) / font.atlasW, f.v1 = (float)(y + h) / font.atlasH;
    if (font.dirtyX1 <= font.dirtyX0) {
        font.dirtyX0 = x, font.dirtyY0 = y, font.dirtyX1 = x + w, font.dirtyY1 = y + h;
    } else {
        font.dirtyX0 = std::min(font.dirtyX0, x), font.dirtyY0 = std::min(font.dirtyY0, y);
        font.dirtyX1 = std::max(font.dirtyX1, x + w), font.dirtyY1 = std::max(font.dirtyY1, y + h);
    }
}
}  // namespace

TImageFont::~TImageFont() {
    if (atlasTex && atlasSeq == gfx::DisplaySequence() && gfx::GlIsOpen() && !builtin)
        gfx::GlDeleteTexture(atlasTex);
    if (face) FT_Done_Face(static_cast<FT_Face>(face));
}

namespace gfx {

FontRef DefaultFont() {
    static FontRef font = [] {
        auto f = std::make_shared<TImageFont>();
        f->builtin = true;
        f->size = 16;
        f->lineHeight = 16;
        f->ascent = 12;
        f->imageFlags = 0;
        return f;
    }();
    return font;
}

const TImageGlyph* FontGlyph(TImageFont& font, int c) {
    if (c < 0 || c > 255) return nullptr;
    if (font.loaded[c]) return font.present[c] ? &font.glyphs[c] : nullptr;
    font.loaded[c] = true;
    TImageGlyph& g = font.glyphs[c];
    if (font.builtin) {
        if (c < 32 || c > 127) return nullptr;
        uint8_t rgba[8 * 16 * 4];
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 8; ++x) {
                bool on = (kFont8x16[c - 32][y] >> (7 - x)) & 1;
                uint8_t* p = rgba + (y * 8 + x) * 4;
                p[0] = p[1] = p[2] = 255;
                p[3] = on ? 255 : 0;
            }
        }
        g.image = MakeGlyphImage(rgba, 8, 16, font.imageFlags);
        PlaceInAtlas(font, *g.image);
        g._advance = 8;
        g._x = 0, g._y = 0, g._w = 8, g._h = 16;
        font.present[c] = true;
        return &g;
    }
    FT_Face face = static_cast<FT_Face>(font.face);
    if (!face) return nullptr;
    FT_UInt index = FT_Get_Char_Index(face, (FT_ULong)c);
    if (index == 0) return nullptr;
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0) return nullptr;
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) return nullptr;
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    g._advance = (float)std::floor(slot->advance.x / 64.0);
    g._x = slot->bitmap_left;
    g._y = font.ascent - slot->bitmap_top;
    g._w = (int)bm.width;
    g._h = (int)bm.rows;
    bool smooth = (font.style & FONT_SMOOTH) != 0;
    int border = smooth ? 1 : 0;
    if (bm.width > 0 && bm.rows > 0 && bm.buffer) {
        int w = (int)bm.width + 2 * border, h = (int)bm.rows + 2 * border;
        std::vector<uint8_t> rgba((size_t)w * h * 4, 0);
        for (size_t i = 0; i < (size_t)w * h; ++i) rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = 255;
        for (unsigned y = 0; y < bm.rows; ++y) {
            const uint8_t* row = bm.buffer + (ptrdiff_t)y * bm.pitch;
            for (unsigned x = 0; x < bm.width; ++x) {
                uint8_t cov;
                if (bm.pixel_mode == FT_PIXEL_MODE_MONO) cov = ((row[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
                else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) cov = row[x];
                else cov = 255;
                rgba[(((size_t)y + border) * w + x + border) * 4 + 3] = cov;
            }
        }
        g._x -= border;
        g._y -= border;
        g._w = w;
        g._h = h;
        g.image = MakeGlyphImage(rgba.data(), w, h, font.imageFlags);
        PlaceInAtlas(font, *g.image);
    }
    font.present[c] = true;
    return &g;
}

}  // namespace gfx

namespace {
FontRef ReadImageFont(const std::string& path, int size, int style) {
    if (!EnsureFreeType()) return nullptr;
    auto font = std::make_shared<TImageFont>();
    if (!gfx::ReadWholeFile(path, font->fileData, gfx::kMaxFontFileBytes) || font->fileData.empty()) return nullptr;
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(g_ft, font->fileData.data(), (FT_Long)font->fileData.size(), 0, &face) != 0)
        return nullptr;
    font->face = face;  // freed by the font from here on
    // Bitmap-only faces accept just their stored sizes: walk down to the
    // largest accepted one.
    int s = size;
    while (s >= 1 && FT_Set_Pixel_Sizes(face, 0, (FT_UInt)s) != 0) --s;
    if (s < 1) return nullptr;
    font->size = s;
    font->style = style;
    font->ascent = (int)(face->size->metrics.ascender >> 6);
    font->lineHeight = (int)(face->size->metrics.height >> 6);
    font->imageFlags = (style & FONT_SMOOTH) ? (IMAGE_FILTERED | IMAGE_MIPMAPPED) : 0;
    return font;
}
}  // namespace

FontRef LoadImageFont(const std::string& path, int size, int style) {
    if (size < 1) return nullptr;
    FontRef font = ReadImageFont(path, size, style);
    if (!font) ReportLoadFailure(path);
    return font;
}

int TextWidth(const std::string& text) {
    const DrawingState& st = GetDrawingState();
    TImageFont& font = st.image_font ? *st.image_font : *gfx::DefaultFont();
    float width = 0;
    for (unsigned char ch : text) {
        const TImageGlyph* g = gfx::FontGlyph(font, ch);
        if (g) width = std::floor(width + g->_advance);
    }
    return (int)width;
}

int TextHeight() {
    const DrawingState& st = GetDrawingState();
    return st.image_font ? st.image_font->lineHeight : gfx::DefaultFont()->lineHeight;
}

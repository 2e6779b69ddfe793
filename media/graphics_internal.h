// Internal pieces shared by the drawing service's source files: the frame and
// font records behind the opaque public types, the decoders, and the OpenGL
// back end's entry points. Not for use outside media/.
#pragma once

#include "media/graphics.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One frame of an image: its stored RGBA pixels (after masking) and the
// texture made from them on first draw.
struct TImageFrame {
    TPixmap pixels;          // empty until loaded or captured
    unsigned tex = 0;        // GL texture name, valid while texSeq is current
    int texSeq = -1;         // display sequence the texture belongs to
    bool dirty = true;       // pixels changed since the texture was made
    int texW = 0, texH = 0;  // texture size (powers of two)
    float u0 = 0, v0 = 0;    // texture coordinates of the frame's near corner
    float u1 = 0, v1 = 0;    // and of its far corner
    // Glyph frames live in their font's shared texture (so a line of text
    // is one batch); null for every other frame.
    TImageFont* atlas = nullptr;
    ~TImageFrame();
};

struct TImageGlyph {
    ImageRef image;          // null for glyphs without pixels (the blank)
    float _advance = 0;
    int _x = 0, _y = 0, _w = 0, _h = 0;
};

struct TImageFont {
    bool builtin = false;
    int style = 0;
    int size = 0;
    int lineHeight = 16;
    int ascent = 0;
    int imageFlags = 0;                  // flags of the glyph images
    std::vector<uint8_t> fileData;       // the face reads from this buffer
    void* face = nullptr;                // FT_Face
    std::array<bool, 256> loaded{};
    std::array<bool, 256> present{};
    std::array<TImageGlyph, 256> glyphs;
    // Glyph atlas: glyph pixels packed on shelves into one RGBA picture,
    // uploaded as one texture. Regions added since the last upload are
    // tracked so only they are sent again.
    std::vector<uint8_t> atlasPx;
    int atlasW = 0, atlasH = 0;
    int shelfX = 0, shelfY = 0, shelfH = 0;
    unsigned atlasTex = 0;
    int atlasSeq = -1;
    // The atlas's smaller mipmap levels (1 down to 1 x 1) as last sent, so
    // a change recomputes only the texels it touches. Empty without mipmaps.
    std::vector<std::vector<uint8_t>> atlasMips;
    int dirtyX0 = 0, dirtyY0 = 0, dirtyX1 = 0, dirtyY1 = 0;  // empty when x1 <= x0
    ~TImageFont();
};

namespace gfx {

// ------------------------------------------------------------ decoding ---
// A decoded picture: RGBA top row first, and whether the source carried
// alpha (an alpha channel or a transparency chunk).
struct Decoded {
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    bool hasAlpha = false;
};
// Largest side and pixel count accepted from a file: larger pictures are
// refused rather than allocated.
constexpr int kMaxImageSide = 16384;
constexpr long kMaxImagePixels = 64L * 1024 * 1024;

bool DecodeImage(const uint8_t* data, size_t size, Decoded& out);
bool DecodePng(const uint8_t* data, size_t size, Decoded& out);
// JPEG needs the build to define WORMLOB_HAVE_JPEG and link libjpeg;
// without it JPEG files are refused like any unknown format.
bool DecodeJpeg(const uint8_t* data, size_t size, Decoded& out);
bool DecodeBmp(const uint8_t* data, size_t size, Decoded& out);
bool DecodeTga(const uint8_t* data, size_t size, Decoded& out);
// Reads a file into memory; false (and nothing kept) when it cannot be read
// or holds more than maxBytes.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes);
// Biggest image and font files read: far above any real asset, well below
// what would strain memory.
constexpr size_t kMaxImageFileBytes = size_t(64) << 20;
constexpr size_t kMaxFontFileBytes = size_t(32) << 20;

// Applies the mask-colour rule to RGBA pixels whose source had no alpha.
void ApplyMask(uint8_t* rgba, int width, int height, int mr, int mg, int mb);

// Makes a frame from pixels, masking when the image asks for it.
void StoreFramePixels(TImage& image, TImageFrame& frame, const uint8_t* rgba,
                      int width, int height, int pitch, bool hasAlpha);

// The current display sequence: bumped on every OpenDisplay so that textures
// made for an earlier display are rebuilt.
int DisplaySequence();

// -------------------------------------------------------------- fonts ---
FontRef DefaultFont();
// Fills the glyph entry of code c (0..255) on first use; false when the font
// has no glyph for it.
const TImageGlyph* FontGlyph(TImageFont& font, int c);
// Glyph atlas spacing: glyphs sit this many pixels apart, so the first two
// mip levels of the atlas (text down to a quarter of its size) do not mix
// neighbouring glyphs.
constexpr int kAtlasGap = 4;
constexpr int kAtlasMaxSide = 2048;  // the atlas grows in height up to this
// The built-in font's bitmap: 16 bytes per character 32..127, one byte per
// row, bit 7 the leftmost pixel.
extern const uint8_t kFont8x16[96][16];

// ------------------------------------------------------ OpenGL back end ---
struct GlVertex {
    float x, y, u, v;
    uint32_t rgba;  // bytes in memory order r, g, b, a
};

bool GlOpen(int width, int height, int depth, int hertz, std::string& error);
void GlClose();
bool GlIsOpen();
void GlGetWindowSize(int& w, int& h);
void GlSetTitle(const std::string& title);
void GlSetProjection(float vw, float vh);
void GlClear(int r, int g, int b);
void GlSwap();
void GlSetSwapInterval(int interval);
void GlSetBlend(int mode);
void GlFlush();
// GlFlush, then glFlush: the queued commands start executing now.
void GlSubmit();
// Makes (or refreshes) the frame's texture; returns its name, 0 on failure.
unsigned GlFrameTexture(TImageFrame& frame, int imageFlags);
unsigned GlWhiteTexture();
// The font's glyph atlas texture, made or brought up to date; 0 on failure.
unsigned GlAtlasTexture(TImageFont& font);
// Queues one quad (corners in order top-left, top-right, bottom-right,
// bottom-left). Flushes first when the texture differs from the batch's.
void GlQuad(unsigned tex, const float* xy, float u0, float v0, float u1, float v1, uint32_t rgba);
void GlReadPixels(int x, int y, int w, int h, uint8_t* out);  // top row first
void GlDeleteTexture(unsigned tex);
long GlDrawCalls();
// Whether the open display's shaders keep quad colours flat (GLSL 1.30 /
// GLSL ES 3.00, wherever the context compiles them). GlUseClassicShaders
// makes later displays compile the classic dialect, so tests can draw the
// same scene both ways.
bool GlFlatShading();
void GlUseClassicShaders(bool classic);
void* GlWindow();        // SDL_Window*
uint32_t GlWindowId();

// ----------------------------------------------------- platform layer ---
// Initialises SDL's video subsystem once (never shut down: audio and
// joysticks share SDL).
bool EnsureSdlVideo();
void InstallSdlInputHooks();
void RemoveSdlInputHooks();
// Maps an SDL key (scancode, keycode) to the Windows virtual-key code; 0 if
// the key has none.
int VirtualKeyFromSdl(int scancode, int keycode);

}  // namespace gfx

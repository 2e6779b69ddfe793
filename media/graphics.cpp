// The drawing service's front end: back-end choice, the display and its
// drawing state, images, shapes, text, capture and pixel collision. Geometry
// is worked out here once for both back ends; the OpenGL back end only
// receives finished quads, and the null back end receives nothing, so every
// answer that game logic reads (sizes, widths, collisions) is the same
// whichever back end runs.
#include "media/graphics_internal.h"
#include "media/system.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

struct TGraphicsBackend {
    enum Kind { OpenGL, Null } kind;
};
struct TDisplay {
    int width = 0, height = 0, depth = 0, hertz = 0;
};

namespace {
TGraphicsBackend g_openGL{TGraphicsBackend::OpenGL};
TGraphicsBackend g_null{TGraphicsBackend::Null};
TGraphicsBackend* g_selected = &g_openGL;
int g_defaultFlags = 2;
bool g_forceNull = false;
int g_nullW = 1280, g_nullH = 960;

bool g_open = false;
bool g_gl = false;  // the open display is drawn by OpenGL
TDisplay g_display;
std::string g_error;
int g_seq = 0;
int g_winW = 0, g_winH = 0;

DrawingState g_state;
uint32_t g_rgba = 0xFFFFFFFFu;  // colour and clamped alpha packed for vertices
bool g_autoCentre = false;

// Software pacing (window with a refresh rate).
bool g_pacing = false;
int g_hertz = 0, g_period = 0, g_remainder = 0, g_nextFrame = 0, g_acc = 0;
int g_vsync = 0;  // the swap interval chosen at opening

int ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The alpha a drawing uses: SetAlpha keeps the value as given, the clamp
// to 0..1 happens here, and the byte is the integer part of a * 255.
int AlphaByte(float a) {
    if (!(a > 0.0f)) return 0;  // also catches NaN
    if (a > 1.0f) a = 1.0f;
    return (int)(a * 255.0f);
}

void UpdatePackedColour() {
    uint32_t r = ClampByte(g_state.color_red), g = ClampByte(g_state.color_green),
             b = ClampByte(g_state.color_blue), a = AlphaByte(g_state.color_alpha);
    // Memory order r, g, b, a on a little-endian machine.
    g_rgba = r | (g << 8) | (b << 16) | (a << 24);
}

void UpdateMatrix() {
    double rad = g_state.tform_rot * M_PI / 180.0;
    double c = std::cos(rad), s = std::sin(rad);
    g_state.tform_ix = (float)(c * g_state.tform_scale_x);
    g_state.tform_iy = (float)(-s * g_state.tform_scale_y);
    g_state.tform_jx = (float)(s * g_state.tform_scale_x);
    g_state.tform_jy = (float)(c * g_state.tform_scale_y);
}

bool UseNull() { return g_forceNull || g_selected == &g_null; }

// Transforms the four corners of the box (x0, y0)-(x1, y1) by the current
// matrix and offsets them by (tx, ty), in the order top-left, top-right,
// bottom-right, bottom-left.
inline void TransformBox(float x0, float y0, float x1, float y1, float tx, float ty, float* xy) {
    const float ix = g_state.tform_ix, iy = g_state.tform_iy;
    const float jx = g_state.tform_jx, jy = g_state.tform_jy;
    xy[0] = x0 * ix + y0 * iy + tx, xy[1] = x0 * jx + y0 * jy + ty;
    xy[2] = x1 * ix + y0 * iy + tx, xy[3] = x1 * jx + y0 * jy + ty;
    xy[4] = x1 * ix + y1 * iy + tx, xy[5] = x1 * jx + y1 * jy + ty;
    xy[6] = x0 * ix + y1 * iy + tx, xy[7] = x0 * jx + y1 * jy + ty;
}

TImageFrame* FrameOf(const ImageRef& image, int frame) {
    if (!image || frame < 0 || frame >= (int)image->frames.size()) return nullptr;
    return image->frames[frame].get();
}

// Draws one frame's texture over the box (x0, y0)-(x1, y1) offset by (tx, ty).
inline void DrawFrameBox(TImageFrame& f, int flags, float x0, float y0, float x1, float y1,
                         float tx, float ty) {
    if (f.pixels.pixels.empty()) return;
    unsigned tex;
    if (f.atlas) tex = gfx::GlAtlasTexture(*f.atlas);
    else tex = (f.texSeq == g_seq && !f.dirty) ? f.tex : gfx::GlFrameTexture(f, flags);
    if (!tex) return;
    float xy[8];
    TransformBox(x0, y0, x1, y1, tx, ty, xy);
    gfx::GlQuad(tex, xy, f.u0, f.v0, f.u1, f.v1, g_rgba);
}

std::shared_ptr<TImage> NewImage(int w, int h, int flags) {
    auto img = std::make_shared<TImage>();
    img->width = w;
    img->height = h;
    img->flags = flags;
    if (g_autoCentre) {
        img->handle_x = w * 0.5f;
        img->handle_y = h * 0.5f;
    }
    return img;
}
}  // namespace

TImage::~TImage() = default;

TImageFrame::~TImageFrame() {
    // A texture from an earlier display died with that display's context.
    if (tex && texSeq == g_seq && g_open && g_gl) gfx::GlDeleteTexture(tex);
}

namespace gfx {
int DisplaySequence() { return g_seq; }

void StoreFramePixels(TImage& image, TImageFrame& frame, const uint8_t* rgba, int width,
                      int height, int pitch, bool hasAlpha) {
    TPixmap& pm = frame.pixels;
    pm.width = width;
    pm.height = height;
    pm.pitch = width * 4;
    pm.format = 4;
    pm.pixels.resize((size_t)width * height * 4);
    for (int y = 0; y < height; ++y)
        std::memcpy(pm.pixels.data() + (size_t)y * width * 4, rgba + (size_t)y * pitch, (size_t)width * 4);
    pm.capacity = (int)pm.pixels.capacity();
    if (!hasAlpha) {
        if (image.flags & IMAGE_MASKED) {
            ApplyMask(pm.pixels.data(), width, height, image.mask_r, image.mask_g, image.mask_b);
        } else {
            for (size_t i = 3; i < pm.pixels.size(); i += 4) pm.pixels[i] = 255;
        }
    }
    frame.dirty = true;
}
}  // namespace gfx

// ---------------------------------------------------------- back ends ---

TGraphicsBackend* OpenGLBackend() { return &g_openGL; }
TGraphicsBackend* Direct3D9Backend() { return nullptr; }
TGraphicsBackend* Direct3D7Backend() { return nullptr; }
TGraphicsBackend* NullGraphicsBackend() { return &g_null; }
void ForceNullGraphics(bool on) { g_forceNull = on; }
bool NullGraphicsForced() { return g_forceNull; }
void SetNullDisplayMode(int width, int height) {
    if (width > 0 && height > 0) g_nullW = width, g_nullH = height;
}

void SelectGraphicsBackend(TGraphicsBackend* backend, int defaultFlags) {
    // Direct3D is not available here; a request for it (null) is served by
    // OpenGL.
    g_selected = backend ? backend : &g_openGL;
    g_defaultFlags = defaultFlags;
}

TDisplay* OpenDisplay(int width, int height, int depth, int hertz, int flags) {
    (void)flags;  // double buffering is the only mode; flags change nothing else
    CloseDisplay();
    g_error.clear();
    if (width <= 0 || height <= 0) {
        g_error = "invalid display size " + std::to_string(width) + "x" + std::to_string(height);
        return nullptr;
    }
    if (UseNull()) {
        // Full screen is offered only in the listed mode, as on a real
        // screen, so a headless run takes the same fallback paths.
        if (depth != 0 && (width != g_nullW || height != g_nullH)) {
            g_error = "no full-screen mode " + std::to_string(width) + "x" + std::to_string(height);
            return nullptr;
        }
        g_gl = false;
        g_winW = width;
        g_winH = height;
        gfx::RemoveSdlInputHooks();
    } else {
        if (!gfx::GlOpen(width, height, depth, hertz, g_error)) return nullptr;
        g_gl = true;
        gfx::GlGetWindowSize(g_winW, g_winH);
    }
    g_open = true;
    ++g_seq;
    g_display = TDisplay{width, height, depth, hertz};
    g_state = DrawingState();
    g_state.viewport_w = width;
    g_state.viewport_h = height;
    g_state.vres_width = (float)width;
    g_state.vres_height = (float)height;
    UpdatePackedColour();
    SetMouseScale(1.0f, 1.0f);
    if (g_gl) {
        gfx::GlSetProjection((float)width, (float)height);
        gfx::GlSetBlend(g_state.blend_mode);
        gfx::InstallSdlInputHooks();
    }
    g_pacing = false;
    g_hertz = hertz;
    if (depth != 0) {
        g_vsync = hertz != 0 ? 1 : 0;
        MoveMousePos(width / 2, height / 2);
    } else {
        g_vsync = 0;
        if (hertz > 0) {
            g_pacing = true;
            g_period = 1000 / hertz;
            g_remainder = 1000 - g_period * hertz;
            g_nextFrame = PeekMillisecs();
            g_acc = 0;
        }
    }
    if (g_gl) gfx::GlSetSwapInterval(g_vsync);
    return &g_display;
}

void CloseDisplay() {
    if (!g_open) return;
    if (g_gl) {
        gfx::RemoveSdlInputHooks();
        gfx::GlClose();
    }
    g_open = false;
    g_gl = false;
}

std::string DisplayError() { return g_error; }
bool DisplayIsOpen() { return g_open; }
void SetWindowTitle(const std::string& title) {
    // Kept for the next window too when no window is open yet.
    gfx::GlSetTitle(title);
}

namespace {
struct Mode {
    int w, h, depth, hertz;
};
std::vector<Mode> ModeList() {
    std::vector<Mode> modes;
    if (UseNull()) {
        modes.push_back({g_nullW, g_nullH, 32, 60});
        return modes;
    }
    if (!gfx::EnsureSdlVideo()) return modes;
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
        // Depth is the bits each pixel occupies: the usual 24-bit RGB888
        // desktop format is stored in 32 bits.
        int depth = SDL_BYTESPERPIXEL(m.format) * 8;
        modes.push_back({m.w, m.h, depth, m.refresh_rate});
    }
#ifdef __EMSCRIPTEN__
    // A page's only display mode is the screen's size, but its full screen
    // scales the canvas to the screen whatever the canvas's size: the usual
    // sizes that fit the screen are modes too, and those up to 800 x 600
    // (the program's default) always are.
    int sw = modes.empty() ? 0 : modes[0].w, sh = modes.empty() ? 0 : modes[0].h;
    static const int kSizes[][2] = {{640, 480},   {800, 600},   {1024, 768},  {1280, 960},  {1600, 1200},
                                    {1280, 720},  {1600, 900},  {1920, 1080}, {2560, 1440}};
    for (const auto& size : kSizes)
        if (size[0] <= 800 || (size[0] <= sw && size[1] <= sh)) modes.push_back({size[0], size[1], 32, 0});
#endif
    return modes;
}
}  // namespace

bool DisplayModeExists(int width, int height, int depth, int hertz) {
    for (const Mode& m : ModeList())
        if (m.w == width && m.h == height && (depth == 0 || m.depth == depth) &&
            (hertz == 0 || m.hertz == hertz))
            return true;
    return false;
}

int CountDisplayModes() { return (int)ModeList().size(); }

void GetDisplayMode(int index, int& width, int& height, int& depth, int& hertz) {
    auto modes = ModeList();
    if (index < 0 || index >= (int)modes.size()) {
        width = height = depth = hertz = 0;
        return;
    }
    width = modes[index].w, height = modes[index].h;
    depth = modes[index].depth, hertz = modes[index].hertz;
}

void SetResolution(float width, float height) {
    if (!g_open || !(width > 0) || !(height > 0)) return;
    g_state.vres_width = width;
    g_state.vres_height = height;
    g_state.vres_mousexscale = width / (float)g_winW;
    g_state.vres_mouseyscale = height / (float)g_winH;
    SetMouseScale(g_state.vres_mousexscale, g_state.vres_mouseyscale);
    if (g_gl) gfx::GlSetProjection(width, height);
}

int WindowWidth() { return g_open ? g_winW : 0; }
int WindowHeight() { return g_open ? g_winH : 0; }

void ClearScreen() {
    if (g_gl) gfx::GlClear(g_state.clscolor_red, g_state.clscolor_green, g_state.clscolor_blue);
}

void Flip(int sync) {
    if (!g_open) return;
    if (g_gl) gfx::GlFlush();
    int interval = g_vsync;
    if (sync == 0) interval = 0;
    else if (sync == 1) interval = 1;
    else if (g_pacing) {
        // Clock readings wrap at 32 bits: step the frame time in unsigned
        // arithmetic so the wrap is defined, and compare by difference.
        uint32_t next = (uint32_t)g_nextFrame + (uint32_t)g_period;
        g_acc += g_remainder;
        if (g_acc >= g_hertz) {
            g_acc -= g_hertz;
            next += 1;
        }
        g_nextFrame = (int)next;
        int now = PeekMillisecs();
        int wait = MsDiff(g_nextFrame, now);
        // A late frame is not caught up. A frame time more than a period
        // ahead means the clock was set back (a test's virtual clock): the
        // schedule starts again from now rather than sleeping that long.
        if (wait <= 0 || wait > g_period + 1) g_nextFrame = now;
        else SleepMs(wait);
        interval = 0;
    }
    if (g_gl) {
        gfx::GlSetSwapInterval(interval);
        gfx::GlSwap();
        PlatformFramePresented();
    }
}

void SubmitDrawing() {
    if (!g_open || !g_gl) return;
    gfx::GlSubmit();
    PlatformFrameDrawn();
}

long GraphicsDrawCalls() { return gfx::GlDrawCalls(); }

// ------------------------------------------------------- drawing state ---

const DrawingState& GetDrawingState() { return g_state; }

void SetColor(int r, int g, int b) {
    g_state.color_red = r, g_state.color_green = g, g_state.color_blue = b;
    UpdatePackedColour();
}
void GetColor(int& r, int& g, int& b) {
    r = g_state.color_red, g = g_state.color_green, b = g_state.color_blue;
}
void SetAlpha(float a) {
    g_state.color_alpha = a;
    UpdatePackedColour();
}
float GetAlpha() { return g_state.color_alpha; }

void SetBlend(int mode) {
    if (mode == g_state.blend_mode) return;
    g_state.blend_mode = mode;
    if (g_gl) gfx::GlSetBlend(mode);
}
int GetBlend() { return g_state.blend_mode; }

void SetRotation(float degrees) {
    g_state.tform_rot = degrees;
    UpdateMatrix();
}
float GetRotation() { return g_state.tform_rot; }
void SetScale(float sx, float sy) {
    g_state.tform_scale_x = sx, g_state.tform_scale_y = sy;
    UpdateMatrix();
}
void GetScale(float& sx, float& sy) { sx = g_state.tform_scale_x, sy = g_state.tform_scale_y; }

void SetImageFont(const FontRef& font) { g_state.image_font = font; }
FontRef GetImageFont() { return g_state.image_font ? g_state.image_font : gfx::DefaultFont(); }

// -------------------------------------------------------------- images ---

void SetAutoCentreHandle(bool on) { g_autoCentre = on; }

static int EffectiveFlags(int flags) { return flags == -1 ? (IMAGE_MASKED | IMAGE_FILTERED) : flags; }

ImageRef LoadImageFromMemory(const uint8_t* data, size_t size, int flags) {
    gfx::Decoded d;
    if (!gfx::DecodeImage(data, size, d)) return nullptr;
    auto img = NewImage(d.width, d.height, EffectiveFlags(flags));
    img->frames.push_back(std::make_unique<TImageFrame>());
    gfx::StoreFramePixels(*img, *img->frames[0], d.rgba.data(), d.width, d.height, d.width * 4,
                          d.hasAlpha);
    return img;
}

ImageRef LoadImage(const std::string& path, int flags) {
    std::vector<uint8_t> bytes;
    ImageRef img;
    if (gfx::ReadWholeFile(path, bytes, gfx::kMaxImageFileBytes))
        img = LoadImageFromMemory(bytes.data(), bytes.size(), flags);
    if (!img) ReportLoadFailure(path);
    return img;
}

ImageRef LoadImageStrip(const std::string& path, int cellWidth, int cellHeight, int firstCell,
                        int cellCount, int flags) {
    if (cellWidth <= 0 || cellHeight <= 0 || firstCell < 0 || cellCount <= 0) return nullptr;
    std::vector<uint8_t> bytes;
    gfx::Decoded d;
    long perRow = 0, rows = 0;
    if (gfx::ReadWholeFile(path, bytes, gfx::kMaxImageFileBytes) && gfx::DecodeImage(bytes.data(), bytes.size(), d))
        perRow = d.width / cellWidth, rows = d.height / cellHeight;
    // Unread, or too small for the cells asked for.
    if (perRow * rows < (long)firstCell + cellCount) {
        ReportLoadFailure(path);
        return nullptr;
    }
    auto img = NewImage(cellWidth, cellHeight, EffectiveFlags(flags));
    for (int i = firstCell; i < firstCell + cellCount; ++i) {
        int cx = cellWidth * (int)(i % perRow), cy = cellHeight * (int)(i / perRow);
        img->frames.push_back(std::make_unique<TImageFrame>());
        const uint8_t* src = d.rgba.data() + ((size_t)cy * d.width + cx) * 4;
        gfx::StoreFramePixels(*img, *img->frames.back(), src, cellWidth, cellHeight, d.width * 4,
                              d.hasAlpha);
    }
    return img;
}

ImageRef CreateBlankImage(int width, int height, int frameCount, int flags) {
    if (width <= 0 || height <= 0 || frameCount <= 0 || (long)width * height > gfx::kMaxImagePixels)
        return nullptr;
    auto img = NewImage(width, height, EffectiveFlags(flags) | IMAGE_DYNAMIC);
    for (int i = 0; i < frameCount; ++i) img->frames.push_back(std::make_unique<TImageFrame>());
    return img;
}

int ImageWidth(const ImageRef& image) { return image ? image->width : 0; }
int ImageHeight(const ImageRef& image) { return image ? image->height : 0; }
int ImageFrameCount(const ImageRef& image) { return image ? (int)image->frames.size() : 0; }
const TPixmap* ImageFramePixels(const ImageRef& image, int frame) {
    TImageFrame* f = FrameOf(image, frame);
    return f ? &f->pixels : nullptr;
}

void DrawImage(const ImageRef& image, float x, float y, int frame) {
    if (!g_gl) return;
    TImageFrame* f = FrameOf(image, frame);
    if (!f) return;
    float x0 = -image->handle_x, y0 = -image->handle_y;
    DrawFrameBox(*f, image->flags, x0, y0, x0 + image->width, y0 + image->height,
                 x + g_state.origin_x, y + g_state.origin_y);
}

// ----------------------------------------------------- shapes and text ---

void DrawRect(float x, float y, float width, float height) {
    if (!g_gl) return;
    float xy[8];
    float hx = g_state.handle_x, hy = g_state.handle_y;
    TransformBox(hx, hy, hx + width, hy + height, x + g_state.origin_x, y + g_state.origin_y, xy);
    gfx::GlQuad(gfx::GlWhiteTexture(), xy, 0, 0, 1, 1, g_rgba);
}

void DrawLine(float x1, float y1, float x2, float y2, bool drawLastPixel) {
    if (!g_gl || g_winW <= 0 || g_winH <= 0) return;
    // The end points go through the matrix (relative to the start, plus
    // the state handle). The line itself is then built in window pixels:
    // its width is line_width pixels whatever the scale or the virtual
    // resolution, so a one-pixel line shrunk onto a smaller window still
    // lights one pixel per step instead of falling between pixel centres.
    const float ix = g_state.tform_ix, iy = g_state.tform_iy;
    const float jx = g_state.tform_jx, jy = g_state.tform_jy;
    const float hx = g_state.handle_x, hy = g_state.handle_y;
    const float dx = x2 - x1, dy = y2 - y1;
    const float tx = x1 + g_state.origin_x, ty = y1 + g_state.origin_y;
    // Drawing units per window pixel.
    const float kx = g_state.vres_width / (float)g_winW, ky = g_state.vres_height / (float)g_winH;
    if (!(kx > 0) || !(ky > 0)) return;
    // End points in window pixels, moved to pixel centres.
    float ax = (hx * ix + hy * iy + tx) / kx + 0.5f, ay = (hx * jx + hy * jy + ty) / ky + 0.5f;
    float bx = ((hx + dx) * ix + (hy + dy) * iy + tx) / kx + 0.5f;
    float by = ((hx + dx) * jx + (hy + dy) * jy + ty) / ky + 0.5f;
    float ux = bx - ax, uy = by - ay;
    float len = std::sqrt(ux * ux + uy * uy);
    if (len > 0) ux /= len, uy /= len;
    else ux = 1, uy = 0;
    float half = g_state.line_width * 0.5f;
    // Start at the start pixel's edge; end at the end pixel's far edge when
    // the last pixel is wanted, else at its near edge.
    float sx = ax - ux * 0.5f, sy = ay - uy * 0.5f;
    float ext = drawLastPixel ? 0.5f : -0.5f;
    float ex = bx + ux * ext, ey = by + uy * ext;
    float nx = -uy * half, ny = ux * half;
    float xy[8] = {(sx + nx) * kx, (sy + ny) * ky, (ex + nx) * kx, (ey + ny) * ky,
                   (ex - nx) * kx, (ey - ny) * ky, (sx - nx) * kx, (sy - ny) * ky};
    gfx::GlQuad(gfx::GlWhiteTexture(), xy, 0, 0, 1, 1, g_rgba);
}

void DrawText(const std::string& text, float x, float y) {
    if (!g_gl) {
        // Glyphs are still looked up so the font's cache fills the same way.
        TImageFont& font = g_state.image_font ? *g_state.image_font : *gfx::DefaultFont();
        for (unsigned char ch : text) gfx::FontGlyph(font, ch);
        return;
    }
    TImageFont& font = g_state.image_font ? *g_state.image_font : *gfx::DefaultFont();
    // New glyphs first, so the atlas is sent once for the whole line.
    for (unsigned char ch : text) gfx::FontGlyph(font, ch);
    const float ix = g_state.tform_ix, iy = g_state.tform_iy;
    const float jx = g_state.tform_jx, jy = g_state.tform_jy;
    float hx = g_state.handle_x, hy = g_state.handle_y;
    float penX = x + g_state.origin_x + hx * ix + hy * iy;
    float penY = y + g_state.origin_y + hx * jx + hy * jy;
    for (unsigned char ch : text) {
        const TImageGlyph* g = gfx::FontGlyph(font, ch);
        if (!g) continue;
        if (g->image) {
            TImage& gi = *g->image;
            DrawFrameBox(*gi.frames[0], gi.flags, (float)g->_x, (float)g->_y,
                         (float)(g->_x + gi.width), (float)(g->_y + gi.height), penX, penY);
        }
        penX += g->_advance * ix;
        penY += g->_advance * jx;
    }
}

// ------------------------------------------------ capture and collision ---

namespace {
// Reads window pixels (top row first) into out; parts outside the window
// read black.
void ReadWindow(int x, int y, int w, int h, uint8_t* out) {
    for (size_t i = 0; i < (size_t)w * h; ++i) out[i * 4] = out[i * 4 + 1] = out[i * 4 + 2] = 0, out[i * 4 + 3] = 255;
    if (!g_gl) return;
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + w, g_winW), y1 = std::min(y + h, g_winH);
    if (x1 <= x0 || y1 <= y0) return;
    std::vector<uint8_t> part((size_t)(x1 - x0) * (y1 - y0) * 4);
    gfx::GlReadPixels(x0, y0, x1 - x0, y1 - y0, part.data());
    for (int row = y0; row < y1; ++row) {
        uint8_t* dst = out + (((size_t)(row - y) * w) + (x0 - x)) * 4;
        const uint8_t* src = part.data() + (size_t)(row - y0) * (x1 - x0) * 4;
        std::memcpy(dst, src, (size_t)(x1 - x0) * 4);
    }
    // The back buffer's alpha is whatever blending left there; a picture of
    // the screen is opaque.
    for (size_t i = 3; i < (size_t)w * h * 4; i += 4) out[i] = 255;
}
}  // namespace

TPixmap GrabPixmap(int x, int y, int width, int height) {
    TPixmap pm;
    if (width <= 0 || height <= 0 || (long)width * height > gfx::kMaxImagePixels) return pm;
    pm.width = width;
    pm.height = height;
    pm.pitch = width * 4;
    pm.format = 4;
    pm.pixels.resize((size_t)width * height * 4);
    pm.capacity = (int)pm.pixels.size();
    ReadWindow(x, y, width, height, pm.pixels.data());
    return pm;
}

void CaptureIntoImage(const ImageRef& image, int x, int y, int frame) {
    TImageFrame* f = FrameOf(image, frame);
    if (!f) return;
    std::vector<uint8_t> px((size_t)image->width * image->height * 4);
    ReadWindow(x, y, image->width, image->height, px.data());
    gfx::StoreFramePixels(*image, *f, px.data(), image->width, image->height, image->width * 4, false);
}

namespace {
// One image as DrawImage would place it, with the inverse of its matrix for
// mapping screen points back to frame pixels.
struct Placed {
    const TPixmap* pm;
    float hx, hy, tx, ty;
    double a, b, c, d;  // inverse matrix
    float minX, minY, maxX, maxY;
};

bool Place(const ImageRef& image, float x, float y, int frame, float rot, float sx, float sy,
           Placed& p) {
    TImageFrame* f = FrameOf(image, frame);
    if (!f || f->pixels.pixels.empty()) return false;
    double rad = rot * M_PI / 180.0, cs = std::cos(rad), sn = std::sin(rad);
    double ix = cs * sx, iy = -sn * sy, jx = sn * sx, jy = cs * sy;
    double det = ix * jy - iy * jx;
    if (std::fabs(det) < 1e-12 || !std::isfinite(det)) return false;
    p.pm = &f->pixels;
    p.hx = image->handle_x, p.hy = image->handle_y;
    p.tx = x + g_state.origin_x, p.ty = y + g_state.origin_y;
    p.a = jy / det, p.b = -iy / det, p.c = -jx / det, p.d = ix / det;
    float cx[4] = {-p.hx, -p.hx + image->width, -p.hx + image->width, -p.hx};
    float cy[4] = {-p.hy, -p.hy, -p.hy + image->height, -p.hy + image->height};
    p.minX = p.minY = INFINITY, p.maxX = p.maxY = -INFINITY;
    for (int i = 0; i < 4; ++i) {
        float X = (float)(cx[i] * ix + cy[i] * iy) + p.tx;
        float Y = (float)(cx[i] * jx + cy[i] * jy) + p.ty;
        p.minX = std::min(p.minX, X), p.maxX = std::max(p.maxX, X);
        p.minY = std::min(p.minY, Y), p.maxY = std::max(p.maxY, Y);
    }
    return std::isfinite(p.minX) && std::isfinite(p.maxX) && std::isfinite(p.minY) && std::isfinite(p.maxY);
}

inline bool SolidAt(const Placed& p, double u, double v) {
    if (u < 0 || v < 0) return false;
    int iu = (int)u, iv = (int)v;
    if (iu >= p.pm->width || iv >= p.pm->height) return false;
    return p.pm->pixels[((size_t)iv * p.pm->width + iu) * 4 + 3] >= 128;
}
}  // namespace

bool ImagesOverlap(const ImageRef& image1, float x1, float y1, int frame1, float rot1, float sx1,
                   float sy1, const ImageRef& image2, float x2, float y2, int frame2, float rot2,
                   float sx2, float sy2) {
    // Cheapest test first: discs around each handle that hold the whole
    // image whatever the rotation. Most pairs the game asks about fail here.
    if (!image1 || !image2) return false;
    auto reach = [](const TImage& im, float sx, float sy) {
        float dx = std::max(im.handle_x, im.width - im.handle_x);
        float dy = std::max(im.handle_y, im.height - im.handle_y);
        return std::sqrt(dx * dx + dy * dy) * std::max(std::fabs(sx), std::fabs(sy));
    };
    float r = reach(*image1, sx1, sy1) + reach(*image2, sx2, sy2);
    if (std::fabs(x1 - x2) > r || std::fabs(y1 - y2) > r) return false;
    Placed p, q;
    if (!Place(image1, x1, y1, frame1, rot1, sx1, sy1, p)) return false;
    if (!Place(image2, x2, y2, frame2, rot2, sx2, sy2, q)) return false;
    // Bounding boxes first: most pairs the game asks about are far apart.
    float lx = std::max(p.minX, q.minX), hx = std::min(p.maxX, q.maxX);
    float ly = std::max(p.minY, q.minY), hy = std::min(p.maxY, q.maxY);
    if (!(lx < hx) || !(ly < hy)) return false;
    // Screen pixels whose centres lie in the shared box; each centre is
    // mapped back into both frames and must hit a solid pixel in each. An
    // absurd scale can make that box millions of pixels wide: beyond
    // kOverlapSamples pixels an even grid of about that many is tested
    // instead, which keeps one call under a few milliseconds.
    constexpr double kOverlapSamples = 1 << 18;
    constexpr float kFar = 1 << 24;  // positions beyond are clipped, not exact
    lx = std::max(lx, -kFar), hx = std::min(hx, kFar);
    ly = std::max(ly, -kFar), hy = std::min(hy, kFar);
    if (!(lx < hx) || !(ly < hy)) return false;
    double area = ((double)hx - lx + 1) * ((double)hy - ly + 1);
    int step = area > kOverlapSamples ? (int)std::ceil(std::sqrt(area / kOverlapSamples)) : 1;
    int px0 = (int)std::floor(lx - 0.5f), px1 = (int)std::ceil(hx - 0.5f);
    int py0 = (int)std::floor(ly - 0.5f), py1 = (int)std::ceil(hy - 0.5f);
    for (int py = py0; py <= py1; py += step) {
        double cy = py + 0.5;
        double pyr = cy - p.ty, qyr = cy - q.ty;
        double cx = px0 + 0.5;
        double pu = p.a * (cx - p.tx) + p.b * pyr + p.hx, pv = p.c * (cx - p.tx) + p.d * pyr + p.hy;
        double qu = q.a * (cx - q.tx) + q.b * qyr + q.hx, qv = q.c * (cx - q.tx) + q.d * qyr + q.hy;
        for (int px = px0; px <= px1; px += step) {
            if (SolidAt(p, pu, pv) && SolidAt(q, qu, qv)) return true;
            pu += p.a * step, pv += p.c * step, qu += q.a * step, qv += q.c * step;
        }
    }
    return false;
}

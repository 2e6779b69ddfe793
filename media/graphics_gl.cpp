// The OpenGL back end: an SDL2 window with a compatibility (fixed-function)
// GL context, textures for image frames, and a quad batch. Quads collect in
// one client-side vertex array and go to GL in a single draw call whenever
// the texture or the blend state changes, the array is full, or the frame
// is presented or read back; a sprite costs no GL call of its own.
#include "media/graphics_internal.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>

namespace {
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
std::string g_title = "Wormlob 2";
int g_winW = 0, g_winH = 0;
int g_swapInterval = -2;
int g_maxTexture = 0;

constexpr int kBatchQuads = 8192;
std::vector<gfx::GlVertex> g_batch;
unsigned g_batchTex = 0;
long g_drawCalls = 0;

unsigned g_white = 0;
int g_whiteSeq = -1;

// Quads of the white texture drawn fully opaque look the same without the
// texture and without blending (under alpha blending src * 1 + dst * 0 is
// src; the mask test passes). They batch under this pseudo texture name and
// are drawn plainly: a software rasteriser then neither samples nor reads
// back the buffer for them, which makes large filled rectangles (the
// striped backdrops) several times cheaper.
constexpr unsigned kPlainOpaque = ~0u;
int g_blend = BLEND_MASK;

int NextPow2(int v) {
    int p = 1;
    while (p < v && p < (1 << 30)) p <<= 1;
    return p;
}

bool TextureSizeAccepted(int w, int h) {
    if (w > g_maxTexture || h > g_maxTexture) return false;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint got = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &got);
    return got != 0;
}

// Halves an RGBA picture (box filter); odd sides keep their last texel.
void HalveInto(const std::vector<uint8_t>& src, int w, int h, std::vector<uint8_t>& dst, int& nw,
               int& nh) {
    nw = std::max(1, w / 2), nh = std::max(1, h / 2);
    dst.resize((size_t)nw * nh * 4);
    for (int y = 0; y < nh; ++y) {
        int y0 = std::min(y * 2, h - 1), y1 = std::min(y * 2 + 1, h - 1);
        for (int x = 0; x < nw; ++x) {
            int x0 = std::min(x * 2, w - 1), x1 = std::min(x * 2 + 1, w - 1);
            for (int c = 0; c < 4; ++c) {
                int s = src[((size_t)y0 * w + x0) * 4 + c] + src[((size_t)y0 * w + x1) * 4 + c] +
                        src[((size_t)y1 * w + x0) * 4 + c] + src[((size_t)y1 * w + x1) * 4 + c];
                dst[((size_t)y * nw + x) * 4 + c] = (uint8_t)((s + 2) / 4);
            }
        }
    }
}

void ApplyBlendState(int mode) {
    switch (mode) {
        case BLEND_MASK:
            glDisable(GL_BLEND);
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(GL_GEQUAL, 0.5f);
            break;
        case BLEND_ALPHA:
            glDisable(GL_ALPHA_TEST);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            break;
        case BLEND_LIGHT:
            glDisable(GL_ALPHA_TEST);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);
            break;
        case BLEND_SHADE:
            glDisable(GL_ALPHA_TEST);
            glEnable(GL_BLEND);
            glBlendFunc(GL_DST_COLOR, GL_ZERO);
            break;
        default:  // BLEND_SOLID and any unknown mode
            glDisable(GL_ALPHA_TEST);
            glDisable(GL_BLEND);
            break;
    }
}
}  // namespace

namespace gfx {

bool GlOpen(int width, int height, int depth, int hertz, std::string& error) {
    if (!EnsureSdlVideo()) {
        error = std::string("video init failed: ") + SDL_GetError();
        return false;
    }
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    Uint32 wflags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (depth != 0) wflags |= SDL_WINDOW_FULLSCREEN;
    g_window = SDL_CreateWindow(g_title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                width, height, wflags);
    if (!g_window) {
        error = std::string("window creation failed: ") + SDL_GetError();
        return false;
    }
    if (depth != 0) {
        SDL_DisplayMode want{}, got{};
        want.w = width, want.h = height, want.refresh_rate = hertz;
        if (!SDL_GetClosestDisplayMode(0, &want, &got) || got.w != width || got.h != height ||
            SDL_SetWindowDisplayMode(g_window, &got) != 0) {
            error = "no full-screen mode " + std::to_string(width) + "x" + std::to_string(height);
            SDL_DestroyWindow(g_window);
            g_window = nullptr;
            return false;
        }
    }
    g_context = SDL_GL_CreateContext(g_window);
    if (!g_context) {
        error = std::string("OpenGL context creation failed: ") + SDL_GetError();
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(g_window, g_context);
    SDL_GL_GetDrawableSize(g_window, &g_winW, &g_winH);
    g_swapInterval = -2;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &g_maxTexture);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, g_winW, g_winH);
    // Every quad carries one colour at all four corners, so flat shading
    // fills the same pixels; it spares a software rasteriser interpolating
    // four colour channels per pixel (about a millisecond per frame of the
    // start-up performance test on llvmpipe).
    glShadeModel(GL_FLAT);
    // The batch array is sized once; it never grows, so drawing allocates
    // nothing.
    g_batch.clear();
    g_batch.reserve(kBatchQuads * 4);
    g_batchTex = 0;
    g_drawCalls = 0;
    g_whiteSeq = -1;
    g_white = 0;  // the name may be handed out again in a new context
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

void GlClose() {
    g_batch.clear();
    g_batchTex = 0;
    if (g_context) SDL_GL_DeleteContext(g_context);
    if (g_window) SDL_DestroyWindow(g_window);
    g_context = nullptr;
    g_window = nullptr;
    g_whiteSeq = -1;
    g_white = 0;  // the name may be handed out again in a new context
}

bool GlIsOpen() { return g_window != nullptr; }
void GlGetWindowSize(int& w, int& h) { w = g_winW, h = g_winH; }
void* GlWindow() { return g_window; }
uint32_t GlWindowId() { return g_window ? SDL_GetWindowID(g_window) : 0; }
long GlDrawCalls() { return g_drawCalls; }

void GlSetTitle(const std::string& title) {
    g_title = title;
    if (g_window) SDL_SetWindowTitle(g_window, title.c_str());
}

void GlFlush() {
    if (g_batch.empty()) return;
    const bool plain = g_batchTex == kPlainOpaque;
    if (plain) {
        glDisable(GL_TEXTURE_2D);
        ApplyBlendState(BLEND_SOLID);
    } else {
        glBindTexture(GL_TEXTURE_2D, g_batchTex);
    }
    const GlVertex* v = g_batch.data();
    glVertexPointer(2, GL_FLOAT, sizeof(GlVertex), &v->x);
    glTexCoordPointer(2, GL_FLOAT, sizeof(GlVertex), &v->u);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GlVertex), &v->rgba);
    glDrawArrays(GL_QUADS, 0, (GLsizei)g_batch.size());
    if (plain) {
        glEnable(GL_TEXTURE_2D);
        ApplyBlendState(g_blend);
    }
    ++g_drawCalls;
    g_batch.clear();
}

void GlSubmit() {
    GlFlush();
    if (g_window) glFlush();
}

void GlQuad(unsigned tex, const float* xy, float u0, float v0, float u1, float v1, uint32_t rgba) {
    const uint8_t alpha = reinterpret_cast<const uint8_t*>(&rgba)[3];
    if (tex == g_white && alpha == 255 && (g_blend == BLEND_ALPHA || g_blend == BLEND_MASK || g_blend == BLEND_SOLID))
        tex = kPlainOpaque;
    if (tex != g_batchTex || g_batch.size() + 4 > (size_t)kBatchQuads * 4) {
        GlFlush();
        g_batchTex = tex;
    }
    g_batch.push_back({xy[0], xy[1], u0, v0, rgba});
    g_batch.push_back({xy[2], xy[3], u1, v0, rgba});
    g_batch.push_back({xy[4], xy[5], u1, v1, rgba});
    g_batch.push_back({xy[6], xy[7], u0, v1, rgba});
}

void GlSetProjection(float vw, float vh) {
    GlFlush();
    glViewport(0, 0, g_winW, g_winH);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, vw, vh, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
}

void GlClear(int r, int g, int b) {
    GlFlush();
    glClearColor(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void GlSwap() {
    GlFlush();
    if (g_window) SDL_GL_SwapWindow(g_window);
}

void GlSetSwapInterval(int interval) {
    if (interval == g_swapInterval) return;
    g_swapInterval = interval;
    SDL_GL_SetSwapInterval(interval);
}

void GlSetBlend(int mode) {
    GlFlush();
    g_blend = mode;
    ApplyBlendState(mode);
}

unsigned GlWhiteTexture() {
    if (g_whiteSeq != DisplaySequence() || !g_white) {
        const uint8_t px[4] = {255, 255, 255, 255};
        glGenTextures(1, &g_white);
        glBindTexture(GL_TEXTURE_2D, g_white);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
        g_whiteSeq = DisplaySequence();
    }
    return g_white;
}

unsigned GlFrameTexture(TImageFrame& f, int flags) {
    if (!g_window) return 0;
    const TPixmap& pm = f.pixels;
    if (pm.width <= 0 || pm.height <= 0 || pm.pixels.empty()) return 0;
    if (f.tex && f.texSeq == DisplaySequence()) {
        // Replacing a texture that queued quads may still use.
        GlFlush();
        glDeleteTextures(1, &f.tex);
    }
    f.tex = 0;
    int tw = NextPow2(pm.width), th = NextPow2(pm.height);
    while ((tw > 1 || th > 1) && !TextureSizeAccepted(tw, th)) {
        tw = std::max(1, tw / 2);
        th = std::max(1, th / 2);
    }
    // The frame's own area in the texture: the whole frame, or the frame
    // scaled down when the hardware refused a texture that large.
    int fw = std::min(pm.width, tw), fh = std::min(pm.height, th);
    std::vector<uint8_t> tex((size_t)tw * th * 4, 0);
    for (int y = 0; y < fh; ++y) {
        int sy = fh == pm.height ? y : (int)((long)y * pm.height / fh);
        for (int x = 0; x < fw; ++x) {
            int sx = fw == pm.width ? x : (int)((long)x * pm.width / fw);
            std::memcpy(&tex[((size_t)y * tw + x) * 4], &pm.pixels[((size_t)sy * pm.width + sx) * 4], 4);
        }
    }
    // Edge repeat: one column right, one row below and the corner, so that
    // filtering at the frame's edge reads the frame's own border.
    if (fw < tw)
        for (int y = 0; y < fh; ++y)
            std::memcpy(&tex[((size_t)y * tw + fw) * 4], &tex[((size_t)y * tw + fw - 1) * 4], 4);
    if (fh < th)
        std::memcpy(&tex[(size_t)fh * tw * 4], &tex[(size_t)(fh - 1) * tw * 4], (size_t)fw * 4);
    if (fw < tw && fh < th)
        std::memcpy(&tex[((size_t)fh * tw + fw) * 4], &tex[((size_t)(fh - 1) * tw + fw - 1) * 4], 4);

    glGenTextures(1, &f.tex);
    glBindTexture(GL_TEXTURE_2D, f.tex);
    bool filtered = (flags & IMAGE_FILTERED) != 0, mip = (flags & IMAGE_MIPMAPPED) != 0;
    GLint mag = filtered ? GL_LINEAR : GL_NEAREST;
    GLint min = mip ? (filtered ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST) : mag;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, tex.data());
    if (mip) {
        std::vector<uint8_t> cur = std::move(tex), next;
        int w = tw, h = th, level = 0;
        while (w > 1 || h > 1) {
            int nw, nh;
            HalveInto(cur, w, h, next, nw, nh);
            glTexImage2D(GL_TEXTURE_2D, ++level, GL_RGBA8, nw, nh, 0, GL_RGBA, GL_UNSIGNED_BYTE, next.data());
            cur.swap(next);
            w = nw, h = nh;
        }
    }
    f.texW = tw, f.texH = th;
    f.u1 = (float)fw / tw, f.v1 = (float)fh / th;
    f.texSeq = DisplaySequence();
    f.dirty = false;
    return f.tex;
}

unsigned GlAtlasTexture(TImageFont& font) {
    if (!g_window || font.atlasPx.empty()) return 0;
    bool mip = (font.imageFlags & IMAGE_MIPMAPPED) != 0;
    bool filtered = (font.imageFlags & IMAGE_FILTERED) != 0;
    int levels = mip ? kAtlasMipLevels : 0;
    if (font.atlasSeq != DisplaySequence() || !font.atlasTex) {
        // New display (or first use): the whole atlas goes up.
        glGenTextures(1, &font.atlasTex);
        glBindTexture(GL_TEXTURE_2D, font.atlasTex);
        GLint mag = filtered ? GL_LINEAR : GL_NEAREST;
        GLint min = mip ? (filtered ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST) : mag;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels);
        for (int l = 0; l <= levels; ++l)
            glTexImage2D(GL_TEXTURE_2D, l, GL_RGBA8, font.atlasW >> l, font.atlasH >> l, 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, nullptr);
        font.atlasSeq = DisplaySequence();
        font.dirtyX0 = font.dirtyY0 = 0;
        font.dirtyX1 = font.atlasW, font.dirtyY1 = font.atlasH;
    }
    if (font.dirtyX1 > font.dirtyX0 && font.dirtyY1 > font.dirtyY0) {
        // Send the changed region, widened to whole blocks of the coarsest
        // level so each mip level's part is an exact box filter of it.
        int a = 1 << levels;
        int x0 = font.dirtyX0 / a * a, y0 = font.dirtyY0 / a * a;
        int x1 = std::min(font.atlasW, (font.dirtyX1 + a - 1) / a * a);
        int y1 = std::min(font.atlasH, (font.dirtyY1 + a - 1) / a * a);
        int w = x1 - x0, h = y1 - y0;
        std::vector<uint8_t> cur((size_t)w * h * 4), next;
        for (int y = 0; y < h; ++y)
            std::memcpy(&cur[(size_t)y * w * 4], &font.atlasPx[((size_t)(y0 + y) * font.atlasW + x0) * 4],
                        (size_t)w * 4);
        glBindTexture(GL_TEXTURE_2D, font.atlasTex);
        glTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, cur.data());
        for (int l = 1; l <= levels; ++l) {
            int nw, nh;
            HalveInto(cur, w, h, next, nw, nh);
            glTexSubImage2D(GL_TEXTURE_2D, l, x0 >> l, y0 >> l, nw, nh, GL_RGBA, GL_UNSIGNED_BYTE, next.data());
            cur.swap(next);
            w = nw, h = nh;
        }
        font.dirtyX0 = font.dirtyX1 = font.dirtyY0 = font.dirtyY1 = 0;
    }
    return font.atlasTex;
}

void GlDeleteTexture(unsigned tex) {
    if (!g_window || !tex) return;
    if (tex == g_batchTex) GlFlush();
    glDeleteTextures(1, &tex);
    if (tex == g_batchTex) g_batchTex = 0;
}

void GlReadPixels(int x, int y, int w, int h, uint8_t* out) {
    GlFlush();
    std::vector<uint8_t> tmp((size_t)w * h * 4);
    glReadBuffer(GL_BACK);
    glReadPixels(x, g_winH - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, tmp.data());
    // GL rows run bottom-up; callers want the top row first.
    for (int row = 0; row < h; ++row)
        std::memcpy(out + (size_t)row * w * 4, tmp.data() + (size_t)(h - 1 - row) * w * 4, (size_t)w * 4);
}

}  // namespace gfx

// The OpenGL back end: an SDL2 window with a GL context, textures for image
// frames, and a quad batch drawn by small shader programs. The code keeps to
// what desktop OpenGL 2.1 and OpenGL ES 2.0 / WebGL 1 have in common, so the
// same file draws on the desktop and in a browser page; where the context
// offers GLSL 1.30 / GLSL ES 3.00 (OpenGL 3, WebGL 2) the same shaders are
// compiled in that dialect, which keeps a quad's one colour flat instead of
// interpolating it for every pixel. Quads collect in one vertex array and go
// to GL in a single draw call whenever the texture or the blend state
// changes, the array is full, or the frame is presented or read back; a
// sprite costs no GL call of its own.
#include "media/graphics_internal.h"

#include <SDL.h>
#if defined(__EMSCRIPTEN__) || defined(WORMLOB_GLES2)
#include <SDL_opengles2.h>
#define WORMLOB_GL_ES 1
#else
// Mesa and the other desktop libGLs export the GL 2.0 entry points, so they
// are declared and linked directly rather than fetched at run time.
#define GL_GLEXT_PROTOTYPES 1
#include <SDL_opengl.h>
#endif

#include <algorithm>
#include <cstring>

#ifdef __EMSCRIPTEN__
#include <emscripten/html5.h>
#endif

namespace {
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
std::string g_title = "Wormlob 2";
int g_winW = 0, g_winH = 0;
int g_swapInterval = -2;
int g_maxTexture = 0;

// Quads per draw call at most: 4 vertices each, so every vertex index fits
// in 16 bits (ES 2 has no 32-bit indices).
constexpr int kBatchQuads = 8192;
static_assert(kBatchQuads * 4 <= 65536, "vertex indices must fit in 16 bits");
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

// ------------------------------------------------------------ shaders ---
// The one place that picks the GLSL dialect. The shaders are written once
// with a few macros and compiled either in the classic dialect (GLSL 1.10 on
// the desktop, GLSL ES 1.00 in a page or on ES 2) or, where the context
// takes it, in the newer one (GLSL 1.30, GLSL ES 3.00). The newer one has
// flat varyings: every quad has one colour at its four corners, so a flat
// colour is the same value a smooth one interpolates to, without a
// software rasteriser interpolating four components for every pixel.
// ES shaders ask for full float precision where the GPU has it (texture
// coordinates into a 2048-texel atlas need more than mediump's 10 bits).
#ifdef WORMLOB_GL_ES
const char* const kClassicPrefix =
    "#version 100\n"
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n";
const char* const kFlatPrefix = "#version 300 es\nprecision highp float;\n";
constexpr int kFlatGlsl = 300;  // GLSL ES 3.00
#else
const char* const kClassicPrefix = "#version 110\n";
const char* const kFlatPrefix = "#version 130\n";
constexpr int kFlatGlsl = 130;  // GLSL 1.30
#endif
const char* const kClassicVertex = "#define ATTRIBUTE attribute\n#define VARYING varying\n#define FLAT\n";
const char* const kClassicFragment =
    "#define VARYING varying\n#define FLAT\n#define TEXTURE2D texture2D\n#define FRAG_COLOUR gl_FragColor\n";
const char* const kFlatVertex = "#define ATTRIBUTE in\n#define VARYING out\n#define FLAT flat\n";
const char* const kFlatFragment =
    "#define VARYING in\n#define FLAT flat\n#define TEXTURE2D texture\n#define FRAG_COLOUR o_colour\n"
    "out vec4 o_colour;\n";

// Which dialect a display compiles: the newer one wherever the context
// takes it, unless a test asks for the classic one (or insists on the
// newer one) to draw the same scene both ways.
bool g_classicOnly = false;
bool g_flatShading = false;  // the programs in use are of the newer dialect

// Vertex attribute slots, bound by name before linking.
enum { kAttrPos = 0, kAttrUv = 1, kAttrColour = 2 };

// The projection is a full matrix applied as matrix times vector, the way
// fixed-function GL transformed vertices, so that every corner lands on the
// very same float position as it did there.
const char* const kVertexShader = R"(
ATTRIBUTE vec2 a_pos;
ATTRIBUTE vec2 a_uv;
ATTRIBUTE vec4 a_colour;
uniform mat4 u_projection;
VARYING vec2 v_uv;
FLAT VARYING vec4 v_colour;
void main() {
    v_uv = a_uv;
    v_colour = a_colour;
    gl_Position = u_projection * vec4(a_pos, 0.0, 1.0);
}
)";

// Texel times vertex colour: what the drawing state's colour and alpha do
// to an image.
const char* const kTexturedShader = R"(
uniform sampler2D u_texture;
VARYING vec2 v_uv;
FLAT VARYING vec4 v_colour;
void main() {
    FRAG_COLOUR = TEXTURE2D(u_texture, v_uv) * v_colour;
}
)";

// BLEND_MASK: no blending; a pixel is written whole where the result's alpha
// is at least one half and not at all elsewhere (the old alpha test).
const char* const kMaskShader = R"(
uniform sampler2D u_texture;
VARYING vec2 v_uv;
FLAT VARYING vec4 v_colour;
void main() {
    vec4 c = TEXTURE2D(u_texture, v_uv) * v_colour;
    if (c.a < 0.5)
        discard;
    FRAG_COLOUR = c;
}
)";

// The plain opaque quads: colour only, no texel read.
const char* const kPlainShader = R"(
FLAT VARYING vec4 v_colour;
void main() {
    FRAG_COLOUR = v_colour;
}
)";

struct Program {
    GLuint name = 0;
    GLint projection = -1;  // u_projection's location
};
Program g_textured, g_masked, g_plain;
GLuint g_currentProgram = 0;
GLuint g_vertexBuffer = 0, g_indexBuffer = 0;
float g_projection[16] = {};

GLuint CompileShader(GLenum type, const char* body, bool flat, std::string& error) {
    GLuint shader = glCreateShader(type);
    const bool vertex = type == GL_VERTEX_SHADER;
    const char* parts[3] = {flat ? kFlatPrefix : kClassicPrefix,
                            flat ? (vertex ? kFlatVertex : kFlatFragment)
                                 : (vertex ? kClassicVertex : kClassicFragment),
                            body};
    glShaderSource(shader, 3, parts, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    char log[1024] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    error = std::string(type == GL_VERTEX_SHADER ? "vertex" : "fragment") +
            " shader compilation failed: " + log;
    glDeleteShader(shader);
    return 0;
}

bool LinkProgram(Program& p, const char* fragmentBody, bool flat, std::string& error) {
    GLuint vs = CompileShader(GL_VERTEX_SHADER, kVertexShader, flat, error);
    if (!vs) return false;
    GLuint fs = CompileShader(GL_FRAGMENT_SHADER, fragmentBody, flat, error);
    if (!fs) {
        glDeleteShader(vs);
        return false;
    }
    p.name = glCreateProgram();
    glAttachShader(p.name, vs);
    glAttachShader(p.name, fs);
    glBindAttribLocation(p.name, kAttrPos, "a_pos");
    glBindAttribLocation(p.name, kAttrUv, "a_uv");
    glBindAttribLocation(p.name, kAttrColour, "a_colour");
    glLinkProgram(p.name);
    // The program keeps what it needs; the shaders go with it.
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[1024] = "";
        glGetProgramInfoLog(p.name, sizeof log, nullptr, log);
        error = std::string("shader program link failed: ") + log;
        glDeleteProgram(p.name);
        p.name = 0;
        return false;
    }
    p.projection = glGetUniformLocation(p.name, "u_projection");
    glUseProgram(p.name);
    GLint sampler = glGetUniformLocation(p.name, "u_texture");
    if (sampler >= 0) glUniform1i(sampler, 0);
    return true;
}

void UseProgram(GLuint name) {
    if (name == g_currentProgram) return;
    glUseProgram(name);
    g_currentProgram = name;
}

// Makes the programs and the two buffers: the vertex buffer the batch is
// streamed into, and a fixed index buffer that splits every quad into two
// triangles. The split runs along the top-right to bottom-left diagonal
// (corners 0 1 3 and 1 2 3), as desktop GL splits a GL_QUADS quad: where a
// texel edge falls exactly on a pixel centre, nearest sampling then picks
// the same texel as the quads it replaces did.
bool LinkPrograms(bool flat, std::string& error) {
    for (Program* p : {&g_textured, &g_masked, &g_plain}) {
        if (p->name) glDeleteProgram(p->name);
        *p = Program{};
    }
    return LinkProgram(g_textured, kTexturedShader, flat, error) && LinkProgram(g_masked, kMaskShader, flat, error) &&
           LinkProgram(g_plain, kPlainShader, flat, error);
}

// The GLSL version the context compiles, as major * 100 + minor (110,
// 130, 300 for GLSL ES 3.00), read from the first "N.NN" in its version
// text ("4.50 - build ...", "OpenGL ES GLSL ES 3.00 (WebGL GLSL ES 3.00)");
// 0 when there is none.
int ShadingLanguageVersion() {
    const char* s = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    if (!s) return 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9' || s[1] != '.' || s[2] < '0' || s[2] > '9') continue;
        const int minor = s[3] >= '0' && s[3] <= '9' ? (s[2] - '0') * 10 + (s[3] - '0') : (s[2] - '0') * 10;
        return (*s - '0') * 100 + minor;
    }
    return 0;
}

bool MakeDrawingObjects(std::string& error) {
    // The newer dialect where the context has it; should a driver refuse
    // those shaders all the same, the classic ones draw the same pictures.
    g_flatShading = !g_classicOnly && ShadingLanguageVersion() >= kFlatGlsl;
    std::string flatError;
    if (g_flatShading && !LinkPrograms(true, flatError)) g_flatShading = false;
    if (!g_flatShading && !LinkPrograms(false, error)) return false;
    g_currentProgram = g_plain.name;  // the last one linked is in use
    std::vector<GLushort> indices((size_t)kBatchQuads * 6);
    for (int q = 0; q < kBatchQuads; ++q) {
        const GLushort b = (GLushort)(q * 4);
        const GLushort tri[6] = {b, (GLushort)(b + 1), (GLushort)(b + 3),
                                 (GLushort)(b + 1), (GLushort)(b + 2), (GLushort)(b + 3)};
        std::memcpy(&indices[(size_t)q * 6], tri, sizeof tri);
    }
    glGenBuffers(1, &g_indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, g_indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, (GLsizeiptr)(indices.size() * sizeof(GLushort)), indices.data(),
                 GL_STATIC_DRAW);
    glGenBuffers(1, &g_vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, g_vertexBuffer);
    const GLsizei stride = sizeof(gfx::GlVertex);
    glVertexAttribPointer(kAttrPos, 2, GL_FLOAT, GL_FALSE, stride, (const void*)offsetof(gfx::GlVertex, x));
    glVertexAttribPointer(kAttrUv, 2, GL_FLOAT, GL_FALSE, stride, (const void*)offsetof(gfx::GlVertex, u));
    glVertexAttribPointer(kAttrColour, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          (const void*)offsetof(gfx::GlVertex, rgba));
    glEnableVertexAttribArray(kAttrPos);
    glEnableVertexAttribArray(kAttrUv);
    glEnableVertexAttribArray(kAttrColour);
    return true;
}

int NextPow2(int v) {
    int p = 1;
    while (p < v && p < (1 << 30)) p <<= 1;
    return p;
}

// Computes texels [x0, x1) x [y0, y1) of the next smaller mip level (dw x dh)
// from the level above it (sw x sh) with a box filter; a side of one texel
// pairs its only texel with itself.
void HalveRegion(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int x0, int y0, int x1,
                 int y1) {
    for (int y = y0; y < y1; ++y) {
        const int ya = std::min(y * 2, sh - 1), yb = std::min(y * 2 + 1, sh - 1);
        const uint8_t* ra = src + (size_t)ya * sw * 4;
        const uint8_t* rb = src + (size_t)yb * sw * 4;
        for (int x = x0; x < x1; ++x) {
            const int xa = std::min(x * 2, sw - 1) * 4, xb = std::min(x * 2 + 1, sw - 1) * 4;
            uint8_t* out = dst + ((size_t)y * dw + x) * 4;
            for (int c = 0; c < 4; ++c) out[c] = (uint8_t)((ra[xa + c] + ra[xb + c] + rb[xa + c] + rb[xb + c] + 2) / 4);
        }
    }
}

// Sends texels [x0, x1) x [y0, y1) of a w-texel-wide picture to a level of
// the bound texture. ES 2 cannot read a sub-rectangle out of a wider row, so
// a part narrower than the picture is copied out first.
void UploadRegion(int level, const uint8_t* px, int w, int x0, int y0, int x1, int y1,
                  std::vector<uint8_t>& scratch) {
    const int rw = x1 - x0, rh = y1 - y0;
    if (rw <= 0 || rh <= 0) return;
    const uint8_t* data = px + (size_t)y0 * w * 4;
    if (rw != w) {
        scratch.resize((size_t)rw * rh * 4);
        for (int y = 0; y < rh; ++y)
            std::memcpy(&scratch[(size_t)y * rw * 4], px + ((size_t)(y0 + y) * w + x0) * 4, (size_t)rw * 4);
        data = scratch.data();
    }
    glTexSubImage2D(GL_TEXTURE_2D, level, x0, y0, rw, rh, GL_RGBA, GL_UNSIGNED_BYTE, data);
}

void SetTextureFilters(int flags) {
    const bool filtered = (flags & IMAGE_FILTERED) != 0, mip = (flags & IMAGE_MIPMAPPED) != 0;
    const GLint mag = filtered ? GL_LINEAR : GL_NEAREST;
    const GLint min = mip ? (filtered ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST) : mag;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void ApplyBlendState(int mode) {
    switch (mode) {
        case BLEND_ALPHA:
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            break;
        case BLEND_LIGHT:
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);
            break;
        case BLEND_SHADE:
            glEnable(GL_BLEND);
            glBlendFunc(GL_DST_COLOR, GL_ZERO);
            break;
        default:  // BLEND_MASK (its test is in the shader), BLEND_SOLID, unknown modes
            glDisable(GL_BLEND);
            break;
    }
}
#ifdef __EMSCRIPTEN__
extern "C" {
// web/library.js: whether the context draws into an OffscreenCanvas of the
// page's own; handing the finished frame to the page's canvas (1 when it
// went, leaving the drawing buffer blank); and putting the picture the
// canvas shows into a texture.
int wormlob_gl_offscreen();
int wormlob_hand_over_frame();
void wormlob_shown_picture_into(unsigned texture);
}

// A page's canvas shows whatever was drawn into it whenever the program
// yields to the browser, and the program yields mid-frame (in the frame
// wait, before the on-screen messages are drawn; in nested screens). So
// the page draws into an OffscreenCanvas that nobody sees, and the present
// hands the finished frame to the canvas whole, without a copy. That
// leaves the drawing buffer blank: a frame that begins with a clear does
// not care, and one that draws over the previous picture (the game's
// trails), or reads pixels, first gets the picture back from the canvas
// (g_pictureGone). A browser without OffscreenCanvas gets the older way:
// every frame drawn into a texture and copied to the canvas at the present.
bool g_handOver = false;
bool g_pictureGone = false;
GLuint g_frameFbo = 0, g_frameTex = 0;

bool MakeFrameTarget(int w, int h, std::string& error) {
    glGenTextures(1, &g_frameTex);
    glBindTexture(GL_TEXTURE_2D, g_frameTex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    SetTextureFilters(0);
    if (g_handOver) return true;  // the texture takes the shown picture back when a frame needs it
    glGenFramebuffers(1, &g_frameFbo);
    glBindFramebuffer(GL_FRAMEBUFFER, g_frameFbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, g_frameTex, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "no off-screen frame of " + std::to_string(w) + "x" + std::to_string(h);
        return false;
    }
    return true;
}

// The page's full screen is the browser's: the canvas, at the size asked
// for, scaled to fill the screen. SDL is not told: its only display mode in
// a page is the screen's own size, and closing its window would leave full
// screen in the middle of a display change, losing the new window's request.
// A full-screen display asks the browser unless the page is full screen
// already (the request waits for the player's gesture if none is under
// way); a windowed one leaves full screen.
void WebFullScreen(bool on) {
    EmscriptenFullscreenChangeEvent status;
    bool full = emscripten_get_fullscreen_status(&status) == EMSCRIPTEN_RESULT_SUCCESS && status.isFullscreen;
    if (on && !full) {
        EmscriptenFullscreenStrategy strategy{};
        strategy.scaleMode = EMSCRIPTEN_FULLSCREEN_SCALE_ASPECT;
        strategy.canvasResolutionScaleMode = EMSCRIPTEN_FULLSCREEN_CANVAS_SCALE_NONE;
        strategy.filteringMode = EMSCRIPTEN_FULLSCREEN_FILTERING_DEFAULT;
        emscripten_request_fullscreen_strategy("#canvas", 1, &strategy);
    } else if (!on && full) {
        emscripten_exit_fullscreen();
    }
}

// Draws g_frameTex over the whole drawing buffer: one quad in clip space
// through the textured program, with blending off.
void DrawFrameTexture() {
    static const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const uint32_t white = 0xFFFFFFFFu;
    const gfx::GlVertex quad[4] = {{-1, 1, 0, 1, white}, {1, 1, 1, 1, white}, {1, -1, 1, 0, white},
                                   {-1, -1, 0, 0, white}};
    glDisable(GL_BLEND);
    UseProgram(g_textured.name);
    glUniformMatrix4fv(g_textured.projection, 1, GL_FALSE, kIdentity);
    glBindTexture(GL_TEXTURE_2D, g_frameTex);
    glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STREAM_DRAW);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
    glUniformMatrix4fv(g_textured.projection, 1, GL_FALSE, g_projection);
    ApplyBlendState(g_blend);
}

// The older present: the frame's texture copied to the canvas, then
// drawing returns to the texture.
void PresentFrameTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    DrawFrameTexture();
    glBindFramebuffer(GL_FRAMEBUFFER, g_frameFbo);
}

// Before anything is drawn over the drawing buffer or read from it: the
// picture handed over at the last present comes back from the canvas.
void EnsurePicture() {
    if (!g_pictureGone) return;
    g_pictureGone = false;
    wormlob_shown_picture_into(g_frameTex);
    DrawFrameTexture();
}
#endif

}  // namespace

namespace gfx {

bool GlOpen(int width, int height, int depth, int hertz, std::string& error) {
    if (!EnsureSdlVideo()) {
        error = std::string("video init failed: ") + SDL_GetError();
        return false;
    }
    SDL_GL_ResetAttributes();
#ifdef WORMLOB_GL_ES
    // ES 3 (WebGL 2 in a page) is asked for first, ES 2 when the context
    // cannot be made (see below).
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
#else
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
#endif
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
#ifdef __EMSCRIPTEN__
    // Nothing is depth-tested, and a page draws its frames off screen: the
    // canvas needs no depth buffer. (The desktop keeps SDL's default: its
    // window's visual, and with it the pictures, stay as they are.)
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
#endif
    Uint32 wflags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
#ifdef __EMSCRIPTEN__
    // SDL is not told of the page's full screen (see WebFullScreen).
    const bool sdlFullScreen = false;
#else
    const bool sdlFullScreen = depth != 0;
#endif
    if (sdlFullScreen) wflags |= SDL_WINDOW_FULLSCREEN;
    g_window = SDL_CreateWindow(g_title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                width, height, wflags);
    if (!g_window) {
        error = std::string("window creation failed: ") + SDL_GetError();
        return false;
    }
    if (sdlFullScreen) {
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
#ifdef WORMLOB_GL_ES
    if (!g_context) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        g_context = SDL_GL_CreateContext(g_window);
    }
#endif
    if (!g_context) {
        error = std::string("OpenGL context creation failed: ") + SDL_GetError();
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(g_window, g_context);
    if (!MakeDrawingObjects(error)) {
        GlClose();
        return false;
    }
    SDL_GL_GetDrawableSize(g_window, &g_winW, &g_winH);
    g_swapInterval = -2;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &g_maxTexture);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glActiveTexture(GL_TEXTURE0);
    glViewport(0, 0, g_winW, g_winH);
#ifdef __EMSCRIPTEN__
    g_handOver = wormlob_gl_offscreen() != 0;
    g_pictureGone = false;
    if (!MakeFrameTarget(g_winW, g_winH, error)) {
        GlClose();
        return false;
    }
    WebFullScreen(depth != 0);
#endif
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
    // The context takes its programs, buffers and textures with it.
    if (g_context) SDL_GL_DeleteContext(g_context);
    if (g_window) SDL_DestroyWindow(g_window);
    g_context = nullptr;
    g_window = nullptr;
#ifdef __EMSCRIPTEN__
    g_frameFbo = g_frameTex = 0;
    g_pictureGone = false;
#endif
    g_textured = g_masked = g_plain = Program{};
    g_currentProgram = 0;
    g_vertexBuffer = g_indexBuffer = 0;
    g_whiteSeq = -1;
    g_white = 0;  // the name may be handed out again in a new context
}

bool GlIsOpen() { return g_window != nullptr; }
void GlGetWindowSize(int& w, int& h) { w = g_winW, h = g_winH; }
void* GlWindow() { return g_window; }
uint32_t GlWindowId() { return g_window ? SDL_GetWindowID(g_window) : 0; }
long GlDrawCalls() { return g_drawCalls; }
bool GlFlatShading() { return g_window && g_flatShading; }
void GlUseClassicShaders(bool classic) { g_classicOnly = classic; }

void GlSetTitle(const std::string& title) {
    g_title = title;
    if (g_window) SDL_SetWindowTitle(g_window, title.c_str());
}

void GlFlush() {
    if (g_batch.empty()) return;
#ifdef __EMSCRIPTEN__
    EnsurePicture();
#endif
    const bool plain = g_batchTex == kPlainOpaque;
    if (plain) {
        UseProgram(g_plain.name);
        if (g_blend != BLEND_MASK && g_blend != BLEND_SOLID) glDisable(GL_BLEND);
    } else {
        UseProgram(g_blend == BLEND_MASK ? g_masked.name : g_textured.name);
        glBindTexture(GL_TEXTURE_2D, g_batchTex);
    }
    // A fresh store each time (the old one may still be read by the draw
    // before), filled with the batch in the same call.
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(g_batch.size() * sizeof(GlVertex)), g_batch.data(),
                 GL_STREAM_DRAW);
    glDrawElements(GL_TRIANGLES, (GLsizei)(g_batch.size() / 4 * 6), GL_UNSIGNED_SHORT, nullptr);
    if (plain && g_blend != BLEND_MASK && g_blend != BLEND_SOLID) ApplyBlendState(g_blend);
    ++g_drawCalls;
    g_batch.clear();
}

void GlSubmit() {
    GlFlush();
#ifdef __EMSCRIPTEN__
    // A browser draws in another process and lets the page run ahead, so
    // the frame is not over until it is drawn, or the frame hub would
    // measure (and the performance test size its budgets by) how fast
    // commands are queued rather than drawn, while the drawing fell further
    // behind every frame until the browser stalled the page for seconds.
    // The page waits for the drawing here, before the frame wait, so that
    // the wait absorbs it as a desktop rasteriser's work is absorbed, not
    // after the frame's time is up. glFinish does not wait in a
    // browser (WebGL's finish only flushes); reading a pixel back does.
    if (g_window) {
        uint8_t pixel[4];
        glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    }
#else
    if (g_window) glFlush();
#endif
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
    if (!g_window) return;
    glViewport(0, 0, g_winW, g_winH);
    // An orthographic projection of (0, 0)-(vw, vh) with y running down,
    // column by column, each term worked out as glOrtho works it out.
    const float left = 0, right = vw, top = 0, bottom = vh, nearZ = -1, farZ = 1;
    float* m = g_projection;
    std::fill(m, m + 16, 0.0f);
    m[0] = 2.0f / (right - left);
    m[5] = 2.0f / (top - bottom);
    m[10] = -2.0f / (farZ - nearZ);
    m[12] = -(right + left) / (right - left);
    m[13] = -(top + bottom) / (top - bottom);
    m[14] = -(farZ + nearZ) / (farZ - nearZ);
    m[15] = 1.0f;
    const GLuint inUse = g_currentProgram;
    for (const Program* p : {&g_textured, &g_masked, &g_plain}) {
        glUseProgram(p->name);
        glUniformMatrix4fv(p->projection, 1, GL_FALSE, m);
    }
    glUseProgram(inUse);
}

void GlClear(int r, int g, int b) {
    GlFlush();
#ifdef __EMSCRIPTEN__
    g_pictureGone = false;  // nothing of it would show
#endif
    glClearColor(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void GlSwap() {
    GlFlush();
#ifdef __EMSCRIPTEN__
    if (g_window && g_handOver) {
        // A present with nothing drawn since the last one shows the same
        // picture again, not a blank one.
        EnsurePicture();
        g_pictureGone = wormlob_hand_over_frame() != 0;
    } else if (g_window) {
        // The copy goes to the browser now, so that it is drawn while the
        // next frame is being made rather than added to that frame's wait.
        PresentFrameTarget();
        glFlush();
    }
#endif
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
        SetTextureFilters(0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
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
    // Power-of-two sides (WebGL 1 allows mipmaps on nothing else), no larger
    // than the GPU takes.
    int tw = NextPow2(pm.width), th = NextPow2(pm.height);
    while (tw > g_maxTexture || th > g_maxTexture) {
        if (tw == 1 && th == 1) return 0;
        tw = std::max(1, tw / 2);
        th = std::max(1, th / 2);
    }
    // The frame's own area in the texture: the whole frame, or the frame
    // scaled down when the GPU cannot hold a texture that large.
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
    SetTextureFilters(flags);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, tex.data());
    if (flags & IMAGE_MIPMAPPED) {
        // Every level down to 1 x 1: a shorter chain leaves the texture
        // incomplete under ES 2, and it samples black.
        std::vector<uint8_t> next;
        int w = tw, h = th, level = 0;
        while (w > 1 || h > 1) {
            const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
            next.resize((size_t)nw * nh * 4);
            HalveRegion(tex.data(), w, h, next.data(), nw, 0, 0, nw, nh);
            glTexImage2D(GL_TEXTURE_2D, ++level, GL_RGBA, nw, nh, 0, GL_RGBA, GL_UNSIGNED_BYTE, next.data());
            tex.swap(next);
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
    const bool mip = (font.imageFlags & IMAGE_MIPMAPPED) != 0;
    if (font.atlasSeq != DisplaySequence() || !font.atlasTex) {
        // New display, first use or a grown atlas: every level is made at
        // its size and the whole atlas goes up.
        if (font.atlasW > g_maxTexture || font.atlasH > g_maxTexture) return 0;
        glGenTextures(1, &font.atlasTex);
        glBindTexture(GL_TEXTURE_2D, font.atlasTex);
        SetTextureFilters(font.imageFlags);
        font.atlasMips.clear();
        int w = font.atlasW, h = font.atlasH, level = 0;
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        while (mip && (w > 1 || h > 1)) {
            w = std::max(1, w / 2), h = std::max(1, h / 2);
            font.atlasMips.emplace_back((size_t)w * h * 4);
            glTexImage2D(GL_TEXTURE_2D, ++level, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        }
        font.atlasSeq = DisplaySequence();
        font.dirtyX0 = font.dirtyY0 = 0;
        font.dirtyX1 = font.atlasW, font.dirtyY1 = font.atlasH;
    }
    if (font.dirtyX1 > font.dirtyX0 && font.dirtyY1 > font.dirtyY0) {
        // Send the changed region, and at each smaller level the texels
        // filtered from it, worked out from the level above as kept here.
        int x0 = font.dirtyX0, y0 = font.dirtyY0, x1 = font.dirtyX1, y1 = font.dirtyY1;
        std::vector<uint8_t> scratch;
        glBindTexture(GL_TEXTURE_2D, font.atlasTex);
        UploadRegion(0, font.atlasPx.data(), font.atlasW, x0, y0, x1, y1, scratch);
        const uint8_t* above = font.atlasPx.data();
        int w = font.atlasW, h = font.atlasH;
        for (size_t i = 0; i < font.atlasMips.size(); ++i) {
            const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
            x0 /= 2, y0 /= 2;
            x1 = std::min(nw, (x1 + 1) / 2), y1 = std::min(nh, (y1 + 1) / 2);
            uint8_t* level = font.atlasMips[i].data();
            HalveRegion(above, w, h, level, nw, x0, y0, x1, y1);
            UploadRegion((int)i + 1, level, nw, x0, y0, x1, y1, scratch);
            above = level;
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
#ifdef __EMSCRIPTEN__
    EnsurePicture();
#endif
    // A double-buffered context reads its back buffer: the frame being drawn.
    std::vector<uint8_t> tmp((size_t)w * h * 4);
    glReadPixels(x, g_winH - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, tmp.data());
    // GL rows run bottom-up; callers want the top row first.
    for (int row = 0; row < h; ++row)
        std::memcpy(out + (size_t)row * w * 4, tmp.data() + (size_t)(h - 1 - row) * w * 4, (size_t)w * 4);
}

}  // namespace gfx

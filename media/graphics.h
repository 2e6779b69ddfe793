// 2D drawing, images and fonts: the display, one drawing state, images,
// TrueType and built-in fonts, shapes, capture and pixel collision.
// Back ends: OpenGL (SDL2 window) and a null back end for headless runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum {
    BLEND_MASK = 1,
    BLEND_SOLID = 2,
    BLEND_ALPHA = 3,
    BLEND_LIGHT = 4,
    BLEND_SHADE = 5,
};
enum {
    IMAGE_MASKED = 1,
    IMAGE_FILTERED = 2,
    IMAGE_MIPMAPPED = 4,
    IMAGE_DYNAMIC = 8,
};
enum { FONT_SMOOTH = 4 };

struct TPixmap {
    std::vector<uint8_t> pixels;  // RGBA, 4 bytes per pixel, top row first
    int width = 0, height = 0;
    int pitch = 0;                // bytes per row
    int format = 4;               // bytes per pixel (4 = RGBA8888)
    int capacity = 0;
};

struct TImageFrame;  // defined by the drawing service
struct TImage {
    int width = 0, height = 0;
    int flags = 0;
    int mask_r = 0, mask_g = 0, mask_b = 0;
    float handle_x = 0, handle_y = 0;
    std::vector<std::unique_ptr<TImageFrame>> frames;
    ~TImage();
};
using ImageRef = std::shared_ptr<TImage>;

struct TImageFont;
using FontRef = std::shared_ptr<TImageFont>;

struct TGraphicsBackend;  // opaque
struct TDisplay;          // opaque

// The one drawing state of the open display. Fields and the values they take
// right after OpenDisplay are listed beside each one.
struct DrawingState {
    int color_red = 255, color_green = 255, color_blue = 255;
    float color_alpha = 1.0f;           // stored as given, clamped when drawing
    int clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
    float line_width = 1.0f;
    float tform_rot = 0.0f;             // degrees, clockwise on screen
    float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
    float tform_ix = 1.0f, tform_iy = 0.0f, tform_jx = 0.0f, tform_jy = 1.0f;
    int viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
    float origin_x = 0.0f, origin_y = 0.0f;
    float handle_x = 0.0f, handle_y = 0.0f;
    FontRef image_font;                 // null means the built-in default font
    int blend_mode = BLEND_MASK;
    float vres_width = 0.0f, vres_height = 0.0f;
    float vres_mousexscale = 1.0f, vres_mouseyscale = 1.0f;
};
// The current drawing state (read-only view, for tests and tools).
const DrawingState& GetDrawingState();

// ------------------------------------------------------ display, back end ---
TGraphicsBackend* OpenGLBackend();
TGraphicsBackend* Direct3D9Backend();  // null on this platform
TGraphicsBackend* Direct3D7Backend();  // null on this platform
// The headless back end: no window, no GL; images and fonts still load and
// answer every query exactly as with OpenGL; drawing puts no pixels anywhere.
TGraphicsBackend* NullGraphicsBackend();
// Makes every later OpenDisplay (and the mode list) use the null back end,
// whatever SelectGraphicsBackend chose (--headless). With the null back end
// Flip still paces on the program clock: use the virtual clock for runs at
// full speed.
void ForceNullGraphics(bool on);
bool NullGraphicsForced();
// The null back end's one display mode (1280 x 960 unless changed).
void SetNullDisplayMode(int width, int height);

// A null back end (a Direct3D request here) selects OpenGL.
void SelectGraphicsBackend(TGraphicsBackend* backend, int defaultFlags);
// depth 0: a window; otherwise full screen in a listed mode. Closes the
// display opened before and resets the drawing state. Null on failure, with
// DisplayError() saying why. Images and fonts survive a reopening.
TDisplay* OpenDisplay(int width, int height, int depth, int hertz, int flags);
// Closes the window and its GL context only: SDL stays initialised for audio
// and joysticks.
void CloseDisplay();
// Why the last OpenDisplay failed, for the log.
std::string DisplayError();
bool DisplayIsOpen();
void SetWindowTitle(const std::string& title);
// Full-screen modes; depth is the bits each pixel is stored in (the usual
// 24-bit desktop format reads 32). depth 0 and hertz 0 match any.
bool DisplayModeExists(int width, int height, int depth, int hertz);
int CountDisplayModes();
void GetDisplayMode(int index, int& width, int& height, int& depth, int& hertz);
// Drawing coordinates 0..width, 0..height over the whole window; also sets
// the pointer scale of the input tables.
void SetResolution(float width, float height);
// The open window's size in pixels (the mode's size in full screen).
int WindowWidth();
int WindowHeight();
void ClearScreen();
// sync 0: present now; 1: at the next retrace; -1: the window's software
// pacing (hertz given at opening) or the full-screen vertical sync.
void Flip(int sync);
// Hands everything drawn so far to the back end and tells it to start work
// on it, without presenting. A caller that waits before Flip (the frame
// hub's pacing) calls this first, so that the rasteriser fills pixels while
// the program sleeps instead of after the wait.
void SubmitDrawing();
// Number of GL draw calls issued since the display opened (batching check).
long GraphicsDrawCalls();

// --------------------------------------------------------- drawing state ---
void SetColor(int r, int g, int b);
void GetColor(int& r, int& g, int& b);
// Kept as given; clamped to 0..1 only when drawing (alpha byte int(a * 255)).
void SetAlpha(float a);
float GetAlpha();
// BLEND_MASK right after opening; an unknown value draws as BLEND_SOLID.
void SetBlend(int mode);
int GetBlend();
void SetRotation(float degrees);
float GetRotation();
void SetScale(float sx, float sy);
void GetScale(float& sx, float& sy);
// Null selects the built-in 8 x 16 font; GetImageFont then returns it.
void SetImageFont(const FontRef& font);
FontRef GetImageFont();

// ----------------------------------------------------------------- images ---
void SetAutoCentreHandle(bool on);
// Null for a missing, unreadable or corrupt file. flags -1 means
// IMAGE_MASKED | IMAGE_FILTERED.
ImageRef LoadImage(const std::string& path, int flags = -1);
ImageRef LoadImageStrip(const std::string& path, int cellWidth, int cellHeight,
                        int firstCell, int cellCount, int flags = -1);
// Decodes pixels from memory (PNG, BMP, TGA, JPEG when supported); used by
// LoadImage and by the fuzz target.
ImageRef LoadImageFromMemory(const uint8_t* data, size_t size, int flags = -1);
ImageRef CreateBlankImage(int width, int height, int frameCount, int flags);
// Window pixels; parts outside the window read black.
void CaptureIntoImage(const ImageRef& image, int x, int y, int frame);
int ImageWidth(const ImageRef& image);
int ImageHeight(const ImageRef& image);
int ImageFrameCount(const ImageRef& image);
// The stored RGBA pixels of one frame (after masking), for tests and tools.
const TPixmap* ImageFramePixels(const ImageRef& image, int frame);
// A null image or a frame it does not have draws nothing.
void DrawImage(const ImageRef& image, float x, float y, int frame = 0);

// ------------------------------------------------------- shapes and text ---
void DrawRect(float x, float y, float width, float height);
// The end points go through the matrix; the line is line_width window
// pixels wide whatever the scale or the virtual resolution.
void DrawLine(float x1, float y1, float x2, float y2, bool drawLastPixel = true);
// Null when the file is missing or not a font, or no size from size down to
// 1 is accepted. Character codes are Latin-1.
FontRef LoadImageFont(const std::string& path, int size, int style);
void DrawText(const std::string& text, float x, float y);
int TextWidth(const std::string& text);
int TextHeight();

// ------------------------------------------------ capture and collision ---
// Back-buffer pixels, top row first, always opaque (alpha 255); parts
// outside the window (and everything on the null back end) read black.
TPixmap GrabPixmap(int x, int y, int width, int height);
bool SavePixmapAsPng(const TPixmap& pixmap, const std::string& path, int level);
// Pixel-exact in drawing coordinates, on the stored pixels (alpha >= 128
// is solid); the drawing state is not touched. Where the two images share
// more than 2^18 screen pixels (absurd scales) an even grid of about that
// many is tested instead, so no call takes long.
bool ImagesOverlap(const ImageRef& image1, float x1, float y1, int frame1,
                   float rot1, float sx1, float sy1,
                   const ImageRef& image2, float x2, float y2, int frame2,
                   float rot2, float sx2, float sy2);

// --------------------------------------------- joysticks (platform side) ---
// Enumerates afresh on each call; ports are 0-based. Queries on a port
// that does not exist answer 0 ("" for the name, -1 for the hat).
int JoystickCount();
// From now on JoystickCount finds no devices and touches no joystick
// service (headless runs).
void IgnoreJoysticks();
// --virtual-pad: the input script's pad lines work an SDL virtual game
// controller (attached at the first of them) instead of reaching the input
// tables directly, so that a scripted game goes through the platform's pad
// path. Call before the window opens.
void UseVirtualPad();
std::string JoystickName(int port);
int JoystickButtonMask(int port);
int JoystickButtonDown(int button, int port);
float JoystickX(int port);
float JoystickY(int port);
float JoystickZ(int port);
float JoystickR(int port);
float JoystickU(int port);
float JoystickV(int port);
float JoystickHat(int port);

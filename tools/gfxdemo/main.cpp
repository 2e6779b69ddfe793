// Drawing-service demo: opens a window, draws text in the built-in and a
// TrueType font, glowing sprites, masked sprites, shapes, and writes a
// screenshot of the last frame.
//   gfxdemo [screenshot.png] [font.ttf]
#include "media/graphics.h"
#include "media/system.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {
// A soft white disc: additive drawing of it in a colour gives a glow.
ImageRef MakeGlow(const std::string& path) {
    TPixmap pm;
    pm.width = pm.height = 64, pm.pitch = 256, pm.format = 4;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            float d = std::hypot(x - 31.5f, y - 31.5f) / 32.0f;
            float a = d >= 1 ? 0 : (1 - d) * (1 - d);
            pm.pixels.insert(pm.pixels.end(), {255, 255, 255, (uint8_t)(a * 255)});
        }
    return SavePixmapAsPng(pm, path, 6) ? LoadImage(path, IMAGE_FILTERED | IMAGE_MIPMAPPED) : nullptr;
}

// A 16 x 16 pod: a coloured disc on a black (mask-colour) background, as a
// 24-bit BMP in memory: it has no alpha channel, so the mask rule cuts it out.
ImageRef MakePod() {
    const int w = 16, h = 16, rowBytes = w * 3;
    std::vector<uint8_t> bmp(54 + rowBytes * h, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = (uint8_t)(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    le32(2, (uint32_t)bmp.size());
    le32(10, 54);
    le32(14, 40);
    le32(18, w);
    le32(22, h);
    bmp[26] = 1, bmp[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool on = std::hypot(x - 7.5f, y - 7.5f) < 7.5f;
            uint8_t* p = &bmp[54 + (size_t)(h - 1 - y) * rowBytes + x * 3];  // rows bottom-up, BGR
            p[2] = on ? (uint8_t)(120 + 16 * (x % 8)) : 0;
            p[1] = on ? (uint8_t)(60 + 12 * y) : 0;
            p[0] = on ? 40 : 0;
        }
    return LoadImageFromMemory(bmp.data(), bmp.size(), -1);
}
}  // namespace

int main(int argc, char** argv) {
    std::string shot = argc > 1 ? argv[1] : "gfxdemo.png";
    std::string fontPath = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    SelectGraphicsBackend(OpenGLBackend(), 2);
    if (!OpenDisplay(800, 600, 0, 60, 0)) {
        std::fprintf(stderr, "gfxdemo: %s\n", DisplayError().c_str());
        return 1;
    }
    SetWindowTitle("gfxdemo");
    SetResolution(1280, 960);
    SetAutoCentreHandle(true);
    ImageRef glow = MakeGlow("/tmp/gfxdemo_glow.png");
    ImageRef pod = MakePod();
    FontRef font = LoadImageFont(fontPath, 48, FONT_SMOOTH);
    if (!glow || !pod) {
        std::fprintf(stderr, "gfxdemo: could not make the sprites\n");
        return 1;
    }
    const int frames = 45;
    TPixmap last;
    for (int f = 0; f < frames; ++f) {
        ClearScreen();
        // Background stripes, as the performance test draws them.
        SetBlend(BLEND_SOLID);
        SetRotation(-45);
        float c = 30;
        for (int i = 0; i <= 960; i += 10) {
            c += 0.4f;
            SetColor(0, 0, (int)c);
            DrawRect(-100, 3.0f * i, 1280 + 1800, 30);
        }
        SetRotation(0);
        // Glowing sprites circling the centre.
        SetBlend(BLEND_LIGHT);
        for (int i = 0; i < 24; ++i) {
            float a = (i * 15 + f * 4) * 3.14159f / 180;
            SetColor(i * 10 % 256, 255 - i * 9, 128 + i * 5);
            SetAlpha(0.8f);
            SetScale(1.5f + 0.5f * std::sin(a * 3), 1.5f + 0.5f * std::sin(a * 3));
            DrawImage(glow, 640 + 300 * std::cos(a), 520 + 250 * std::sin(a));
        }
        // Masked pods in the default mask mode.
        SetBlend(BLEND_MASK);
        SetAlpha(1);
        SetColor(255, 255, 255);
        for (int i = 0; i < 12; ++i) {
            SetRotation((float)(i * 30 + f * 6));
            SetScale(4, 4);
            DrawImage(pod, 220 + i * 75.0f, 880, 0);
        }
        SetRotation(0);
        SetScale(1, 1);
        // Text: a TrueType title and the built-in font.
        SetBlend(BLEND_ALPHA);
        if (font) {
            SetImageFont(font);
            SetColor(255, 220, 80);
            std::string title = "Wormlob 2 drawing demo";
            DrawText(title, 640 - TextWidth(title) / 2.0f, 60);
        }
        SetImageFont(nullptr);
        SetColor(255, 255, 255);
        SetScale(2, 2);
        DrawText("Built-in 8x16 font: ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", 40, 160);
        DrawText("abcdefghijklmnopqrstuvwxyz !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", 40, 200);
        SetScale(1, 1);
        SetColor(255, 80, 80);
        DrawLine(40, 250, 1240, 250);
        DrawText("frame " + std::to_string(f + 1) + " of " + std::to_string(frames), 40, 260);
        if (f == frames - 1) last = GrabPixmap(0, 0, WindowWidth(), WindowHeight());
        Flip(-1);
    }
    bool ok = SavePixmapAsPng(last, shot, 9);
    std::printf("gfxdemo: %s %s (%d draw calls over %d frames)\n", ok ? "saved" : "could not save",
                shot.c_str(), (int)GraphicsDrawCalls(), frames);
    CloseDisplay();
    std::remove("/tmp/gfxdemo_glow.png");
    return ok ? 0 : 1;
}

// Every image of the game and the framework. The game tints sprites with its
// drawing colour and adds an additive glow copy, so bodies are white or light
// grey with the shading in their brightness, and every glow is a white,
// blurred copy of its body's silhouette, the same size as the body.
//
// Collisions test pixels whose alpha is 128 or more, so every body is a crisp
// opaque shape; anything soft around it stays below alpha 0.5.
#include "assetgen.h"
#include "raster.h"
#include "shapes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace assetgen {

namespace {

constexpr float kDeg = 3.14159265f / 180.0f;

// Lighting of a sphere seen from the front, light from the upper left:
// returns brightness 0..1 for a point at (dx, dy) from the centre of a ball
// of radius r, plus a specular term.
struct SphereLight {
    float diffuse, specular;
};
SphereLight LightSphere(float dx, float dy, float r) {
    float nx = dx / r, ny = dy / r;
    float nn = nx * nx + ny * ny;
    float nz = nn < 1 ? std::sqrt(1 - nn) : 0;
    // Light direction (normalised (-0.5, -0.6, 0.62)).
    float lx = -0.5f, ly = -0.6f, lz = 0.62f;
    float ll = std::sqrt(lx * lx + ly * ly + lz * lz);
    lx /= ll; ly /= ll; lz /= ll;
    float d = std::max(0.0f, nx * lx + ny * ly + nz * lz);
    // Blinn half vector with the viewer at +z.
    float hx = lx, hy = ly, hz = lz + 1;
    float hl = std::sqrt(hx * hx + hy * hy + hz * hz);
    float s = std::max(0.0f, (nx * hx + ny * hy + nz * hz) / hl);
    return {d, std::pow(s, 40.0f)};
}

// A crack: a jittered polyline from (x, y) heading at angle `deg`.
void Crack(Image& img, Rng& rng, float x, float y, float deg, float length, float width,
           float shade, int depth) {
    float step = 6;
    int n = (int)(length / step);
    for (int i = 0; i < n; i++) {
        deg += rng.range(-18, 18);
        float nx = x + std::cos(deg * kDeg) * step, ny = y + std::sin(deg * kDeg) * step;
        float w = width * (1.0f - 0.6f * i / std::max(1, n));
        // Marks stay on the body, so they never thicken the soft rim.
        Paint(img, [=](float px, float py) {
                  return std::max(SdSegment(px, py, x, y, nx, ny, w), SdCircle(px, py, 64, 64, 51));
              },
              Grey(shade, 0.95f));
        if (depth > 0 && rng.unit() < 0.15f)
            Crack(img, rng, nx, ny, deg + rng.range(35, 60) * (rng.unit() < 0.5f ? -1 : 1),
                  length * 0.45f, w * 0.8f, shade, depth - 1);
        x = nx;
        y = ny;
    }
}

// A round glossy pod, worn by `health` 1 (fresh) to 5 (about to break).
Image MakePod(int health) {
    const float c = 64, R = 52;
    Image img(128, 128);
    // A faint rim light outside the body: soft, and well under alpha 0.5.
    Paint(img, [=](float x, float y) { return SdCircle(x, y, c, c, R + 7); },
          [=](float x, float y) {
              float d = std::hypot(x - c, y - c) - R;
              return Grey(1, 0.28f * Clamp01(1 - d / 7));
          });
    float wear = (health - 1) / 4.0f;  // 0..1
    Rng grain(100 + health);
    std::vector<float> mottling(128 * 128);
    for (float& m : mottling) m = grain.range(-1, 1);
    Paint(img, [=](float x, float y) { return SdCircle(x, y, c, c, R); },
          [=, &mottling](float x, float y) {
              float dx = x - c, dy = y - c;
              SphereLight l = LightSphere(dx, dy, R);
              float v = 0.44f + 0.52f * l.diffuse;
              // Two shell bands give the pod its segmented look.
              float r = std::hypot(dx, dy);
              float band = std::exp(-std::pow((r - 0.70f * R) / 2.2f, 2)) * 0.16f;
              v -= band;
              // Wear dulls the gloss and mottles the surface.
              v += l.specular * (0.55f - 0.45f * wear);
              int ix = std::min(127, std::max(0, (int)x)), iy = std::min(127, std::max(0, (int)y));
              v += mottling[iy * 128 + ix] * 0.05f * wear;
              // A darker edge keeps the outline readable when tinted.
              v -= 0.18f * SmoothStep(R - 6, R, r);
              return Grey(Clamp01(v));
          });
    // The highlight: a soft white oval in the upper left.
    Paint(img, [=](float x, float y) { return SdEllipse(x, y, c - 20, c - 24, 15, 9); },
          [=](float x, float y) {
              float d = std::hypot((x - (c - 20)) / 15, (y - (c - 24)) / 9);
              return Grey(1, (0.75f - 0.6f * wear) * Clamp01(1 - d));
          });

    Rng rng(7 * health + 3);
    // Scratches from health 2, cracks from 3, chips from 4.
    int scratches = health >= 2 ? 2 * (health - 1) : 0;
    for (int i = 0; i < scratches; i++) {
        float a = rng.range(0, 360), rr = rng.range(10, R - 14);
        float x0 = c + std::cos(a * kDeg) * rr, y0 = c + std::sin(a * kDeg) * rr;
        float b = rng.range(0, 360), len = rng.range(6, 14);
        float x1 = x0 + std::cos(b * kDeg) * len, y1 = y0 + std::sin(b * kDeg) * len;
        Paint(img, [=](float x, float y) { return std::max(SdSegment(x, y, x0, y0, x1, y1, 0.7f), SdCircle(x, y, c, c, R - 1)); },
              Grey(0.42f, 0.8f));
    }
    int cracks = health >= 3 ? health - 2 : 0;
    for (int i = 0; i < cracks; i++) {
        float a = 40 + i * 137.0f + rng.range(-20, 20);
        float x0 = c + std::cos(a * kDeg) * (R - 1), y0 = c + std::sin(a * kDeg) * (R - 1);
        Crack(img, rng, x0, y0, a + 180 + rng.range(-25, 25), 20 + 8.0f * health, 1.7f, 0.22f, 2);
    }
    if (health >= 4) {
        int chips = health == 4 ? 1 : 3;
        for (int i = 0; i < chips; i++) {
            float a = 200 + i * 115.0f + rng.range(-15, 15);
            float cx = c + std::cos(a * kDeg) * (R + 2), cy = c + std::sin(a * kDeg) * (R + 2);
            float cr = rng.range(6, 9);
            // A dark broken edge around the notch, then the notch itself.
            Paint(img, [=](float x, float y) {
                      return std::max(SdCircle(x, y, cx, cy, cr + 2.5f), SdCircle(x, y, c, c, R));
                  },
                  Grey(0.3f, 1));
            Erase(img, [=](float x, float y) { return SdCircle(x, y, cx, cy, cr); });
        }
    }
    return img;
}

// A mushroom: a spotted dome cap on a short stem. `bites` 0..3 progressively
// eat it away (images 1 to 4).
Image MakeMushroom(int stage) {
    Image img(128, 128);
    auto capSdf = [](float x, float y) {
        float dome = SdEllipse(x, y, 64, 64, 60, 54);
        return std::max(dome, y - 66.0f);
    };
    auto stemSdf = [](float x, float y) {
        // A stem that flares slightly toward its foot.
        float t = Clamp01((y - 60) / 58);
        float hw = 17 + 6 * t * t;
        return std::max(SdBox(x, y, 64, 90, 28, 29, 9), std::fabs(x - 64) - hw);
    };
    // Stem first, so the cap's underside overlaps it.
    Paint(img, stemSdf, [](float x, float y) {
        float v = 0.93f - 0.25f * std::pow(std::fabs(x - 60) / 24, 2) - 0.08f * Clamp01((y - 70) / 50);
        return Grey(Clamp01(v));
    });
    Paint(img, capSdf, [](float x, float y) {
        float dx = x - 64, dy = y - 64;
        float r = std::hypot(dx / 60, dy / 54);
        SphereLight l = LightSphere(dx * 0.9f, dy, 60);
        float v = 0.52f + 0.42f * l.diffuse + 0.35f * l.specular;
        v -= 0.2f * SmoothStep(0.86f, 1.0f, r);
        return Grey(Clamp01(v));
    });
    // Gills: a darker band under the cap's rim.
    Paint(img, [](float x, float y) { return std::max(SdEllipse(x, y, 64, 66, 54, 8), 60.0f - y); },
          Grey(0.45f, 1));
    // Spots: bright patches on the cap (the tint makes them the lightest
    // shade of the mushroom's colour).
    const float spots[][3] = {{64, 26, 11}, {34, 44, 9}, {94, 42, 10}, {48, 58, 5},
                              {82, 58, 6},  {20, 58, 5}, {110, 58, 4}, {72, 42, 4}};
    for (auto& s : spots) {
        float sx = s[0], sy = s[1], sr = s[2];
        Paint(img, [=](float x, float y) { return std::max(SdCircle(x, y, sx, sy, sr), capSdf(x, y) + 2); },
              Grey(1, 1));
    }
    // Bites: each a round mouthful with a darker chewed rim.
    const float bites[][3] = {{118, 34, 17}, {8, 48, 18}, {58, 4, 19}};
    const float stemBite[3] = {87, 102, 10};
    for (int i = 0; i < stage - 1 && i < 3; i++) {
        float bx = bites[i][0], by = bites[i][1], br = bites[i][2];
        Paint(img, [=](float x, float y) { return std::max(SdCircle(x, y, bx, by, br + 4), capSdf(x, y)); },
              Grey(0.5f, 1));
        Erase(img, [=](float x, float y) { return SdCircle(x, y, bx, by, br); });
        // A few tooth marks along the rim of the bite.
        for (int k = -2; k <= 2; k++) {
            float a = std::atan2(64 - by, 64 - bx) + k * 0.32f;
            float tx = bx + std::cos(a) * br, ty = by + std::sin(a) * br;
            Erase(img, [=](float x, float y) { return SdCircle(x, y, tx, ty, 3.2f); });
        }
    }
    if (stage >= 4)
        Erase(img, [&](float x, float y) { return SdCircle(x, y, stemBite[0], stemBite[1], stemBite[2]); });
    return img;
}

// A pod bristling with spikes; drawn white, so its look is all in the grey.
Image MakeSpike() {
    const float c = 64, R = 40;
    Image img(128, 128);
    const int spikes = 12;
    for (int i = 0; i < spikes; i++) {
        float a = (i * 360.0f / spikes + 15) * kDeg;
        float ca = std::cos(a), sa = std::sin(a);
        // Tips are rounded off by 1.5 pixels so each spike stays one solid,
        // connected point down to its end.
        float tip = 60.5f, base = R - 4, half = 9.0f;
        std::vector<float> tri = {c + ca * tip, c + sa * tip,
                                  c + ca * base - sa * half, c + sa * base + ca * half,
                                  c + ca * base + sa * half, c + sa * base - ca * half};
        Paint(img, [tri](float x, float y) { return SdPolygon(x, y, tri) - 1.5f; },
              [=](float x, float y) {
                  // Light falls on the upper-left side of each spike.
                  float side = ((x - c) * -sa + (y - c) * ca);
                  float lit = side * (-0.5f * -sa + -0.6f * ca) > 0 ? 0.95f : 0.7f;
                  float along = Clamp01((std::hypot(x - c, y - c) - base) / (tip - base));
                  return Grey(Clamp01(lit + 0.05f * along));
              });
    }
    Paint(img, [=](float x, float y) { return SdCircle(x, y, c, c, R); }, [=](float x, float y) {
        SphereLight l = LightSphere(x - c, y - c, R);
        float r = std::hypot(x - c, y - c);
        float v = 0.55f + 0.4f * l.diffuse + 0.5f * l.specular - 0.2f * SmoothStep(R - 5, R, r);
        // A ring of rivets marks it as dangerous.
        float ring = std::fabs(r - 0.62f * R);
        v -= 0.25f * Clamp01(1.5f - ring);
        return Grey(Clamp01(v));
    });
    return img;
}

Image MakeSquare() {
    Image img(64, 64);
    for (RGBA& p : img.px) p = {1, 1, 1, 1};
    return img;
}

Image MakeSquareGlow() {
    Image core(64, 64);
    Paint(core, [](float x, float y) { return SdBox(x, y, 32, 32, 18, 18, 4); }, Grey(1, 1));
    return GlowOf(core, 7, 0.9f);
}

// A round hoop with a diamond mesh.
Image MakeNet() {
    Image img(64, 64);
    const float c = 32, R = 28.5f;
    Paint(img, [=](float x, float y) {
              float u = (x - c + y - c) / std::sqrt(2.0f), v = (x - c - (y - c)) / std::sqrt(2.0f);
              float cell = 8.0f;
              float du = std::fabs(u - cell * std::round(u / cell));
              float dv = std::fabs(v - cell * std::round(v / cell));
              float mesh = std::min(du, dv) - 0.95f;
              return std::max(mesh, SdCircle(x, y, c, c, R - 1));
          },
          Grey(0.85f, 1));
    // Knots where the strands cross.
    for (int i = -6; i <= 6; i++)
        for (int j = -6; j <= 6; j++) {
            float u = i * 8.0f, v = j * 8.0f;
            float kx = c + (u + v) / std::sqrt(2.0f), ky = c + (u - v) / std::sqrt(2.0f);
            if (std::hypot(kx - c, ky - c) > R - 3) continue;
            Paint(img, [=](float x, float y) { return SdCircle(x, y, kx, ky, 1.6f); }, Grey(1, 1));
        }
    Paint(img, [=](float x, float y) { return std::fabs(SdCircle(x, y, c, c, R)) - 2.0f; },
          [=](float x, float y) {
              float v = 0.8f + 0.2f * Clamp01(((c - x) + (c - y)) / R);
              return Grey(v);
          });
    return img;
}

// --------------------------------------------------------------- icons ---

using CellPainter = std::function<void(Image&)>;

// A speaker with `waves` sound arcs.
void Speaker(Image& g, int waves) {
    Paint(g, [](float x, float y) {
              return std::min(SdBox(x, y, 3.5f, 8, 1.8f, 2.2f, 0.3f),
                              SdPolygon(x, y, {4.5f, 6.2f, 8.5f, 2.5f, 8.5f, 13.5f, 4.5f, 9.8f}));
          },
          Grey(1));
    for (int i = 0; i < waves; i++) {
        float r = 3.0f + 2.6f * i;
        Paint(g, [=](float x, float y) {
                  float ring = std::fabs(SdCircle(x, y, 8.5f, 8, r)) - 0.7f;
                  return std::max(ring, 9.6f - x + std::fabs(y - 8) * 0.3f);
              },
              Grey(1));
    }
}

void Bars(Image& g, int lit) {
    for (int i = 0; i < 3; i++) {
        float h = 3.5f + 3.5f * i;
        float x0 = 3 + i * 4.5f;
        bool on = i < lit;
        Paint(g, [=](float x, float y) { return SdBox(x, y, x0 + 1.5f, 14.5f - h / 2, 1.6f, h / 2, 0.5f); },
              on ? Grey(1) : Grey(0.6f, 0.45f));
    }
}

void Screen(Image& g, float hw, float hh) {
    float cy = 1.5f + hh;
    Paint(g, [=](float x, float y) { return std::fabs(SdBox(x, y, 8, cy, hw, hh, 1)) - 0.8f; }, Grey(1));
    Paint(g, [=](float x, float y) { return SdBox(x, y, 8, cy, hw - 1.6f, hh - 1.6f, 0.5f); }, Grey(0.7f, 0.45f));
    Paint(g, [=](float x, float y) { return SdBox(x, y, 8, cy + hh + 1.6f, 1.0f, 1.2f); }, Grey(0.9f));
    Paint(g, [=](float x, float y) { return SdBox(x, y, 8, cy + hh + 3.0f, 3.5f, 0.7f, 0.5f); }, Grey(0.9f));
}

Image MakeIcons() {
    Image sheet(128, 128);
    std::vector<CellPainter> cells(64);

    // Cell 0: the performance test's load sprite, a soft bright dot.
    cells[0] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 7); }, [](float x, float y) {
            float d = std::hypot(x - 8, y - 8) / 7;
            return Grey(1, Clamp01(1.2f - d));
        });
    };
    cells[1] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Ring, 8, 8, 7), Grey(1)); };
    cells[2] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Star, 8, 8, 7.5f), Grey(1)); };
    // Cell 3: the face of a binding button: a key cap the key name sits on.
    cells[3] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 8, 7.5f, 7.5f, 3); }, Grey(0.95f));
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 7.3f, 5.8f, 5.6f, 2.2f); },
              [](float, float y) { return Grey(0.3f + 0.08f * (y - 2) / 11, 0.92f); });
    };
    cells[4] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Diamond, 8, 8, 7.5f), Grey(1)); };
    cells[5] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Triangle, 8, 8.3f, 7.5f), Grey(1)); };
    cells[6] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Heart, 8, 8.2f, 7.5f), Grey(1)); };
    // Cell 7: a score-timeline dot with a soft rim.
    cells[7] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 7.5f); }, [](float x, float y) {
            float d = std::hypot(x - 8, y - 8);
            return Grey(1, 0.35f * Clamp01((7.5f - d) / 3));
        });
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 4.2f); }, [](float x, float y) {
            return Grey(0.85f + 0.15f * Clamp01(1 - std::hypot(x - 7, y - 7) / 4));
        });
    };
    // Cell 8: a joystick hat, a four-way pad.
    cells[8] = [](Image& g) {
        Paint(g, [](float x, float y) {
                  return std::min(SdBox(x, y, 8, 8, 7.5f, 2.8f, 1), SdBox(x, y, 8, 8, 2.8f, 7.5f, 1));
              },
              Grey(0.95f));
        for (int k = 0; k < 4; k++) {
            float a = k * 90 * kDeg, ca = std::cos(a), sa = std::sin(a);
            std::vector<float> tri = {8 + ca * 6.5f, 8 + sa * 6.5f, 8 + ca * 4 - sa * 1.6f,
                                      8 + sa * 4 + ca * 1.6f, 8 + ca * 4 + sa * 1.6f, 8 + sa * 4 - ca * 1.6f};
            Paint(g, [tri](float x, float y) { return SdPolygon(x, y, tri); }, Grey(0.35f));
        }
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 1.4f); }, Grey(0.5f));
    };
    // Cell 9: an axis, a stick tilted along a double-headed arrow.
    cells[9] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdSegment(x, y, 3.5f, 8, 12.5f, 8, 1.0f); }, Grey(1));
        Paint(g, [](float x, float y) { return SdPolygon(x, y, {0.5f, 8, 4.5f, 4.2f, 4.5f, 11.8f}); }, Grey(1));
        Paint(g, [](float x, float y) { return SdPolygon(x, y, {15.5f, 8, 11.5f, 4.2f, 11.5f, 11.8f}); }, Grey(1));
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 2.6f); }, Grey(0.7f));
    };
    // Cell 10: a round joystick button.
    cells[10] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 7.5f); }, Grey(0.55f));
        Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 7.4f, 5.6f); }, [](float x, float y) {
            SphereLight l = LightSphere(x - 8, y - 7.4f, 5.6f);
            return Grey(Clamp01(0.7f + 0.25f * l.diffuse + 0.4f * l.specular));
        });
    };
    cells[11] = [](Image& g) { Screen(g, 6.6f, 4.95f); };   // 4:3
    cells[12] = [](Image& g) { Screen(g, 7.6f, 4.3f); }; // 16:9
    // Cell 13: windowed, a small window with a title bar.
    cells[13] = [](Image& g) {
        Paint(g, [](float x, float y) { return std::fabs(SdBox(x, y, 8, 8.5f, 6.5f, 5.5f, 0.8f)) - 0.7f; }, Grey(1));
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 4.3f, 6.5f, 1.6f, 0.5f); }, Grey(1));
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 9.8f, 5.2f, 3.2f); }, Grey(0.7f, 0.4f));
    };
    // Cell 14: full screen, four corners pushed outward.
    cells[14] = [](Image& g) {
        for (int k = 0; k < 4; k++) {
            float sx = (k & 1) ? 1.f : -1.f, sy = (k & 2) ? 1.f : -1.f;
            float cx = 8 + sx * 6.3f, cy = 8 + sy * 6.3f;
            Paint(g, [=](float x, float y) {
                      return std::min(SdSegment(x, y, cx, cy, cx - sx * 4.5f, cy, 0.9f),
                                      SdSegment(x, y, cx, cy, cx, cy - sy * 4.5f, 0.9f));
                  },
                  Grey(1));
        }
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 8, 3.6f, 3.6f, 0.6f); }, Grey(0.8f, 0.6f));
    };
    cells[15] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Plus, 8, 8, 7), Grey(1)); };
    cells[16] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Cross, 8, 8, 7), Grey(1)); };
    cells[17] = [](Image& g) { Paint(g, SymbolSdf(Symbol::Hexagon, 8, 8, 7.5f), Grey(1)); };
    // Cells 18-20: option levels: best, alternative, fallback.
    cells[18] = [](Image& g) { Bars(g, 3); };
    cells[19] = [](Image& g) { Bars(g, 2); };
    cells[20] = [](Image& g) { Bars(g, 1); };
    // Cells 21 and 22: the left and right halves of the slider track; the
    // program stretches them wide, so the groove runs to the cell's inner edge.
    cells[21] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdBox(x, y, 12, 8, 11, 3.2f, 3.2f); }, Grey(0.9f));
        Paint(g, [](float x, float y) { return SdBox(x, y, 12.5f, 8, 9.5f, 1.2f, 1.2f); }, Grey(0.35f));
    };
    cells[22] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdBox(x, y, 4, 8, 11, 3.2f, 3.2f); }, Grey(0.9f));
        Paint(g, [](float x, float y) { return SdBox(x, y, 3.5f, 8, 9.5f, 1.2f, 1.2f); }, Grey(0.35f));
    };
    // Cell 23: the slider knob, an upright grip.
    cells[23] = [](Image& g) {
        Paint(g, [](float x, float y) { return SdBox(x, y, 8, 8, 4, 7.2f, 2.5f); }, [](float x, float) {
            return Grey(0.8f + 0.2f * Clamp01((9 - x) / 4));
        });
        for (int k = -1; k <= 1; k++)
            Paint(g, [=](float x, float y) { return SdSegment(x, y, 6.2f, 8 + k * 2.5f, 9.8f, 8 + k * 2.5f, 0.45f); },
                  Grey(0.45f));
    };
    // Cells 24 upward: audio back ends, speakers with more and more sound.
    cells[24] = [](Image& g) { Speaker(g, 1); };
    cells[25] = [](Image& g) { Speaker(g, 2); };
    cells[26] = [](Image& g) { Speaker(g, 3); };
    cells[27] = [](Image& g) { Speaker(g, 0); Paint(g, SymbolSdf(Symbol::Note, 12.5f, 8, 3.5f), Grey(1)); };
    cells[28] = [](Image& g) { Speaker(g, 0); Paint(g, SymbolSdf(Symbol::Plus, 12.5f, 8, 3.2f), Grey(1)); };
    cells[29] = [](Image& g) { Speaker(g, 0); Paint(g, SymbolSdf(Symbol::Star, 12.5f, 8, 3.5f), Grey(1)); };
    cells[30] = [](Image& g) { Speaker(g, 0); Paint(g, SymbolSdf(Symbol::Check, 12.5f, 8, 3.2f), Grey(1)); };
    cells[31] = [](Image& g) { Speaker(g, 0); Paint(g, SymbolSdf(Symbol::Cross, 12.5f, 8, 3.0f), Grey(1)); };
    // Spare cells: the symbol set, filled then outlined, then as pods.
    for (int i = 32; i < 63; i++) {
        Symbol s = (Symbol)((i - 32) % (int)Symbol::Count);
        int style = (i - 32) / (int)Symbol::Count;
        cells[i] = [s, style](Image& g) {
            if (style == 0) {
                Paint(g, SymbolSdf(s, 8, 8, 7), Grey(1));
            } else if (style == 1) {
                Sdf inner = SymbolSdf(s, 8, 8, 7);
                Paint(g, [inner](float x, float y) { return std::fabs(inner(x, y)) - 0.75f; }, Grey(1));
            } else {
                Paint(g, [](float x, float y) { return SdCircle(x, y, 8, 8, 7.5f); }, Grey(0.55f));
                Paint(g, SymbolSdf(s, 8, 8, 4.5f), Grey(1));
            }
        };
    }
    // Cell 63: the pointer. The program puts the cell's top-left corner on
    // the pointer position, so the arrow's tip is the cell's corner.
    cells[63] = [](Image& g) {
        std::vector<float> arrow = {0, 0, 0, 13.2f, 3.3f, 10.2f, 5.8f, 15.4f, 8.4f, 14.2f, 5.9f, 9.2f, 10.2f, 9.2f};
        Paint(g, [arrow](float x, float y) { return SdPolygon(x, y, arrow) - 1.1f; }, Grey(0.08f, 1));
        Paint(g, [arrow](float x, float y) { return SdPolygon(x, y, arrow) + 0.3f; }, [](float x, float y) {
            return Grey(1.0f - 0.12f * Clamp01((x + y) / 20));
        });
    };

    for (int i = 0; i < 64; i++) {
        Image cell(16, 16);
        if (cells[i]) cells[i](cell);
        Blit(sheet, cell, (i % 8) * 16, (i / 8) * 16);
    }
    return sheet;
}

// The colour symbols: one 64 x 64 cell for each of the seven pod colour
// classes, drawn over a pod when the assist is on. A black shape inside a
// white rim reads on every pod colour, light or dark, and the seven
// silhouettes differ even when blurred by motion: triangle (red), square
// (orange), circle (yellow), plus (green), diamond (cyan), cross (blue) and
// star (pink).
Image MakeSymbols() {
    static const Symbol shapes[7] = {Symbol::Triangle, Symbol::Square, Symbol::Circle, Symbol::Plus,
                                     Symbol::Diamond, Symbol::Cross, Symbol::Star};
    Image strip(64 * 7, 64);
    for (int k = 0; k < 7; k++) {
        Image g(64, 64);
        Symbol s = shapes[k];
        float cy = s == Symbol::Triangle ? 34.0f : 32.0f;
        Paint(g, [=](float x, float y) { return SymbolDistance(s, x, y, 32, cy, 22) - 4.5f; }, RGBA{1, 1, 1, 1});
        Paint(g, SymbolSdf(s, 32, cy, 22), RGBA{0.05f, 0.05f, 0.08f, 1});
        Blit(strip, g, k * 64, 0);
    }
    return strip;
}

// 16 medals, each in its own colour with a symbol.
Image MakeBadges() {
    Image strip(16 * 64, 64);
    const float hues[16][3] = {
        {1.0f, 0.82f, 0.3f}, {0.75f, 0.8f, 0.9f}, {0.85f, 0.55f, 0.3f}, {0.4f, 0.9f, 0.5f},
        {0.4f, 0.75f, 1.0f}, {1.0f, 0.45f, 0.45f}, {0.8f, 0.5f, 1.0f}, {1.0f, 0.6f, 0.2f},
        {0.5f, 1.0f, 0.95f}, {1.0f, 0.5f, 0.8f}, {0.9f, 0.95f, 0.4f}, {0.55f, 0.6f, 1.0f},
        {0.95f, 0.75f, 0.55f}, {0.6f, 1.0f, 0.4f}, {1.0f, 0.35f, 0.25f}, {0.9f, 0.9f, 0.95f}};
    for (int i = 0; i < 16; i++) {
        Image g(64, 64);
        float r = hues[i][0], gg = hues[i][1], b = hues[i][2];
        // Scalloped rim.
        Paint(g, [](float x, float y) {
                  float a = std::atan2(y - 32, x - 32);
                  float wave = 1.6f * std::cos(a * 14);
                  return std::hypot(x - 32, y - 32) - (28.5f + wave);
              },
              [=](float x, float y) {
                  float l = 0.55f + 0.35f * Clamp01(((32 - x) + (32 - y)) / 40 + 0.5f);
                  return RGBA{r * l, gg * l, b * l, 1};
              });
        Paint(g, [](float x, float y) { return SdCircle(x, y, 32, 32, 23); }, [=](float x, float y) {
            SphereLight li = LightSphere(x - 32, y - 32, 23);
            float l = 0.45f + 0.45f * li.diffuse;
            float s = 0.6f * li.specular;
            return RGBA{Clamp01(r * l + s), Clamp01(gg * l + s), Clamp01(b * l + s), 1};
        });
        Paint(g, [](float x, float y) { return std::fabs(SdCircle(x, y, 32, 32, 23)) - 0.9f; },
              RGBA{1, 1, 1, 0.7f});
        Symbol s = (Symbol)(i % (int)Symbol::Count);
        Paint(g, [s](float x, float y) { return SymbolDistance(s, x, y, 33, 33.5f, 13) - 1.2f; },
              RGBA{0, 0, 0, 0.45f});
        Paint(g, SymbolSdf(s, 32, 32, 13), RGBA{1, 1, 0.96f, 1});
        Blit(strip, g, i * 64, 0);
    }
    return strip;
}

// Layers a text mask into a logo: a coloured glow, a dark outline and a
// gradient fill from `top` to `bottom`.
Image TextLogo(const TextMask& t, RGBA top, RGBA bottom, RGBA outline, int outlineRadius, RGBA glow) {
    Image out(t.img.w, t.img.h);
    Image thick = Dilate(t.img, outlineRadius);
    Image halo = Blur(thick, 6);
    for (size_t i = 0; i < out.px.size(); i++) out.px[i] = {glow.r, glow.g, glow.b, halo.px[i].a * glow.a};
    Image ol(t.img.w, t.img.h);
    for (size_t i = 0; i < ol.px.size(); i++) ol.px[i] = {outline.r, outline.g, outline.b, thick.px[i].a * outline.a};
    Blit(out, ol, 0, 0);
    Image fill(t.img.w, t.img.h);
    int y0 = 0, y1 = t.img.h;
    for (int y = 0; y < t.img.h; y++)
        for (int x = 0; x < t.img.w; x++) {
            float k = Clamp01((y - y0) / (float)(y1 - y0));
            float a = t.img.at(x, y).a;
            fill.at(x, y) = {Mix(top.r, bottom.r, k), Mix(top.g, bottom.g, k), Mix(top.b, bottom.b, k), a};
        }
    Blit(out, fill, 0, 0);
    return out;
}

bool MakeLogo(const std::string& fontDir, Image& out) {
    TextMask name;
    if (!RenderText(fontDir + "/Marquee.ttf", 88, "Brannoc", 16, name)) return false;
    Image word = TextLogo(name, {1, 0.93f, 0.55f, 1}, {1, 0.5f, 0.15f, 1}, {0.12f, 0.05f, 0.02f, 1}, 4,
                          {1, 0.55f, 0.1f, 0.6f});
    TextMask sub;
    if (!RenderText(fontDir + "/Plainhand.ttf", 24, "makes games", 8, sub)) return false;
    Image subline = TextLogo(sub, {0.85f, 0.95f, 1, 1}, {0.6f, 0.8f, 1, 1}, {0.02f, 0.04f, 0.1f, 1}, 2,
                             {0.3f, 0.6f, 1, 0.4f});
    int w = std::max(word.w, subline.w) + 16;
    int h = word.h + subline.h - 14;
    out = Image(w, h);
    Blit(out, word, (w - word.w) / 2, 0);
    Blit(out, subline, (w - subline.w) / 2 + word.w / 5, word.h - 22);
    return true;
}

bool MakeSiteLogo(const std::string& fontDir, Image& out) {
    TextMask name;
    if (!RenderText(fontDir + "/Roadsign.ttf", 84, "VANTOR", 12, name)) return false;
    Image word = TextLogo(name, {0.75f, 1, 1, 1}, {0.2f, 0.7f, 1, 1}, {0.0f, 0.05f, 0.15f, 1}, 4,
                          {0.2f, 0.8f, 1, 0.5f});
    int w = word.w + 56, h = word.h + 30;
    out = Image(w, h);
    // A slanted sign plate behind the word, like a road sign.
    float slant = 18;
    Paint(out, [=](float x, float y) {
              return SdPolygon(x, y, {slant + 2, 8, (float)w - 2, 8, (float)w - 2 - slant, (float)h - 8, 2, (float)h - 8});
          },
          [=](float, float y) { return RGBA{0.05f, 0.12f + 0.1f * y / h, 0.28f + 0.15f * y / h, 0.92f}; });
    Paint(out, [=](float x, float y) {
              float d = SdPolygon(x, y, {slant + 2, 8, (float)w - 2, 8, (float)w - 2 - slant, (float)h - 8, 2, (float)h - 8});
              return std::fabs(d + 4) - 1.5f;
          },
          RGBA{0.8f, 0.95f, 1, 0.9f});
    Blit(out, word, 28, 4);
    // An underline dash in the sign's corner.
    Paint(out, [=](float x, float y) { return SdSegment(x, y, w * 0.58f, h - 15.0f, w - 44.0f, h - 15.0f, 2.2f); },
          RGBA{1, 0.8f, 0.2f, 1});
    return true;
}

// src shrunk by an integer factor (box filter on premultiplied colour) and
// multiplied by a tint.
Image ShrinkTinted(const Image& src, int factor, RGBA tint) {
    Image out(src.w / factor, src.h / factor);
    float n = (float)(factor * factor);
    for (int y = 0; y < out.h; y++)
        for (int x = 0; x < out.w; x++) {
            RGBA sum;
            for (int j = 0; j < factor; j++)
                for (int i = 0; i < factor; i++) {
                    const RGBA& p = src.at(x * factor + i, y * factor + j);
                    sum.r += p.r * p.a;
                    sum.g += p.g * p.a;
                    sum.b += p.b * p.a;
                    sum.a += p.a;
                }
            RGBA& o = out.at(x, y);
            o.a = sum.a / n;
            if (sum.a > 0) o = {sum.r / sum.a * tint.r, sum.g / sum.a * tint.g, sum.b / sum.a * tint.b, o.a};
        }
    return out;
}

bool Save(const std::string& path, const Image& img, std::vector<std::string>& written) {
    if (!WritePng(path, img)) {
        std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
        return false;
    }
    written.push_back(path);
    return true;
}

}  // namespace

bool MakeImages(const std::string& filesDir, const std::string& fontDir, std::vector<std::string>& written) {
    std::string common = filesDir + "/Common/", game = filesDir + "/418/";
    bool ok = true;
    for (int h = 1; h <= 5; h++) {
        Image pod = MakePod(h);
        ok &= Save(game + "pod" + std::to_string(h) + ".png", pod, written);
        ok &= Save(game + "pod" + std::to_string(h) + "g.png", GlowOf(pod, 9, 0.85f), written);
    }
    for (int m = 1; m <= 4; m++) {
        Image room = MakeMushroom(m);
        ok &= Save(game + "mushroom" + std::to_string(m) + ".png", room, written);
        ok &= Save(game + "mushroom" + std::to_string(m) + "g.png", GlowOf(room, 9, 0.8f), written);
    }
    ok &= Save(game + "whitesquare.png", MakeSquare(), written);
    ok &= Save(game + "whitesquareg.png", MakeSquareGlow(), written);
    Image net = MakeNet();
    ok &= Save(game + "net.png", net, written);
    ok &= Save(game + "netg.png", GlowOf(net, 4, 0.8f), written);
    Image spike = MakeSpike();
    ok &= Save(game + "spike.png", spike, written);
    ok &= Save(game + "spikeg.png", GlowOf(spike, 8, 0.85f), written);
    ok &= Save(game + "badges.png", MakeBadges(), written);
    ok &= Save(game + "symbols.png", MakeSymbols(), written);
    ok &= Save(common + "icons.png", MakeIcons(), written);
    Image logo, site;
    if (MakeLogo(fontDir, logo)) {
        ok &= Save(common + "logo.png", logo, written);
    } else {
        std::fprintf(stderr, "assetgen: cannot render the logo from %s\n", fontDir.c_str());
        ok = false;
    }
    if (MakeSiteLogo(fontDir, site)) {
        ok &= Save(common + "Vantor.png", site, written);
    } else {
        std::fprintf(stderr, "assetgen: cannot render the site logo from %s\n", fontDir.c_str());
        ok = false;
    }
    return ok;
}

namespace {
// The desktop icon drawn at 128 x scale pixels: a short centipede curling up
// from the lower left, four fresh pods in the game's pod colours, head last
// so it is drawn on top, over a soft glow of the whole chain.
Image IconAt(int scale) {
    Image pod = MakePod(1);
    const RGBA colours[] = {{0.45f, 1, 0.35f, 1}, {1, 1, 0.3f, 1}, {1, 0.6f, 0.15f, 1}, {1, 0.25f, 0.25f, 1}};
    const int at[4][2] = {{2, 62}, {14, 36}, {36, 16}, {62, 6}};
    Image chain(128 * scale, 128 * scale);
    for (int i = 0; i < 4; i++) {
        Image small = ShrinkTinted(pod, 2 / scale, colours[i]);
        Blit(chain, small, at[i][0] * scale, at[i][1] * scale);
    }
    Image icon = GlowOf(chain, 5.0f * scale, 0.5f);
    Blit(icon, chain, 0, 0);
    return icon;
}

// src scaled down to w x h: every target pixel averages the source area it
// covers (partly covered source pixels by their covered share), on
// premultiplied colour so transparent pixels do not darken the edges.
Image AreaDownscale(const Image& src, int w, int h) {
    Image out(w, h);
    double sx = (double)src.w / w, sy = (double)src.h / h;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int j = (int)(y * sy); j < src.h && j < (y + 1) * sy; j++) {
                double wy = std::min<double>(j + 1, (y + 1) * sy) - std::max<double>(j, y * sy);
                for (int i = (int)(x * sx); i < src.w && i < (x + 1) * sx; i++) {
                    double wt = wy * (std::min<double>(i + 1, (x + 1) * sx) - std::max<double>(i, x * sx));
                    const RGBA& p = src.at(i, j);
                    r += p.r * p.a * wt;
                    g += p.g * p.a * wt;
                    b += p.b * p.a * wt;
                    a += p.a * wt;
                }
            }
            RGBA& o = out.at(x, y);
            o.a = (float)(a / (sx * sy));
            if (a > 0) o = {(float)(r / a), (float)(g / a), (float)(b / a), o.a};
        }
    return out;
}
}  // namespace

bool MakeIconFile(const std::string& outPng, int size) {
    // 256 is drawn at twice the size; the small ones are the 128 one scaled
    // down, which keeps their shapes alike.
    if (size == 256) return WritePng(outPng, IconAt(2));
    if (size == 128) return WritePng(outPng, IconAt(1));
    if (size >= 8 && size < 128) return WritePng(outPng, AreaDownscale(IconAt(1), size, size));
    std::fprintf(stderr, "assetgen: no icon size %d (8 to 128, or 256)\n", size);
    return false;
}

}  // namespace assetgen

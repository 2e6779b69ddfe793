#include "shapes.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

constexpr float kPiF = 3.14159265f;

std::vector<float> StarPoints(int points, float outer, float inner, float rotDeg) {
    std::vector<float> v;
    for (int i = 0; i < points * 2; i++) {
        float r = (i % 2 == 0) ? outer : inner;
        float a = (rotDeg + i * 180.0f / points - 90) * kPiF / 180.0f;
        v.push_back(r * std::cos(a));
        v.push_back(r * std::sin(a));
    }
    return v;
}

// Unit-space shapes: u, v in about -1..1, result in unit distance.
float Unit(Symbol kind, float u, float v) {
    switch (kind) {
    case Symbol::Star: {
        static const std::vector<float> p = StarPoints(5, 1.0f, 0.45f, 0);
        return SdPolygon(u, v + 0.08f, p);
    }
    case Symbol::Heart: {
        float a = SdCircle(u, v, -0.42f, -0.3f, 0.45f);
        float b = SdCircle(u, v, 0.42f, -0.3f, 0.45f);
        float c = SdPolygon(u, v, {-0.84f, -0.14f, 0.84f, -0.14f, 0.0f, 0.9f});
        return std::min({a, b, c});
    }
    case Symbol::Diamond:
        return SdPolygon(u, v, {0, -1, 0.72f, 0, 0, 1, -0.72f, 0});
    case Symbol::Triangle:
        return SdPolygon(u, v, {0, -0.9f, 0.95f, 0.75f, -0.95f, 0.75f});
    case Symbol::Hexagon: {
        std::vector<float> p;
        for (int i = 0; i < 6; i++) {
            float a = i * kPiF / 3;
            p.push_back(0.95f * std::cos(a));
            p.push_back(0.95f * std::sin(a));
        }
        return SdPolygon(u, v, p);
    }
    case Symbol::Ring:
        return std::fabs(SdCircle(u, v, 0, 0, 0.7f)) - 0.22f;
    case Symbol::Plus:
        return std::min(SdBox(u, v, 0, 0, 0.9f, 0.25f, 0.1f), SdBox(u, v, 0, 0, 0.25f, 0.9f, 0.1f));
    case Symbol::Cross:
        return std::min(SdSegment(u, v, -0.7f, -0.7f, 0.7f, 0.7f, 0.22f),
                        SdSegment(u, v, -0.7f, 0.7f, 0.7f, -0.7f, 0.22f));
    case Symbol::ArrowUp:
        return std::min(SdPolygon(u, v, {0, -0.95f, 0.8f, -0.1f, -0.8f, -0.1f}),
                        SdBox(u, v, 0, 0.4f, 0.28f, 0.55f, 0.05f));
    case Symbol::Check:
        return std::min(SdSegment(u, v, -0.75f, 0.0f, -0.25f, 0.55f, 0.2f),
                        SdSegment(u, v, -0.25f, 0.55f, 0.8f, -0.6f, 0.2f));
    case Symbol::Bolt:
        return SdPolygon(u, v, {0.25f, -1.0f, -0.6f, 0.15f, -0.05f, 0.15f, -0.3f, 1.0f,
                                0.65f, -0.25f, 0.1f, -0.25f});
    case Symbol::Moon:
        return SdCut(SdCircle(u, v, 0, 0, 0.9f), SdCircle(u, v, 0.45f, -0.3f, 0.75f));
    case Symbol::Drop:
        return std::min(SdCircle(u, v, 0, 0.3f, 0.6f),
                        SdPolygon(u, v, {0, -1.0f, 0.52f, 0.0f, -0.52f, 0.0f}));
    case Symbol::Square:
        return SdBox(u, v, 0, 0, 0.75f, 0.75f, 0.15f);
    case Symbol::Circle:
        return SdCircle(u, v, 0, 0, 0.8f);
    case Symbol::Note:
        return std::min({SdEllipse(u, v, -0.3f, 0.55f, 0.38f, 0.3f),
                         SdBox(u, v, 0.0f, -0.15f, 0.09f, 0.7f),
                         SdPolygon(u, v, {0.0f, -0.85f, 0.6f, -0.45f, 0.6f, -0.2f, 0.0f, -0.55f})});
    case Symbol::Count:
        break;
    }
    return 1;
}

}  // namespace

float SymbolDistance(Symbol kind, float x, float y, float cx, float cy, float s) {
    return Unit(kind, (x - cx) / s, (y - cy) / s) * s;
}

}  // namespace assetgen

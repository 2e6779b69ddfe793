// Symbol shapes shared by the icon sheet and the badges: each is a distance
// function for a symbol centred at (cx, cy) with half-size s pixels.
#pragma once

#include "raster.h"

namespace assetgen {

enum class Symbol {
    Star, Heart, Diamond, Triangle, Hexagon, Ring, Plus, Cross, ArrowUp, Check,
    Bolt, Moon, Drop, Square, Circle, Note, Count
};

float SymbolDistance(Symbol kind, float x, float y, float cx, float cy, float s);
inline Sdf SymbolSdf(Symbol kind, float cx, float cy, float s) {
    return [=](float x, float y) { return SymbolDistance(kind, x, y, cx, cy, s); };
}

}  // namespace assetgen

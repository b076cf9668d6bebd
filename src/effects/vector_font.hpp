#pragma once

#include "core/shapes.hpp"

#include <vector>

namespace lumarok {

// Stroke font for the characters '!' to '_'. Glyph i belongs to character code
// kFirstGlyphCode + i. Points are in glyph space: x from -0.4 to 0.4, y from -0.6
// (bottom) to 0.6 (top), y up. A point with x == kPenUp ends the stroke drawn so far.
inline constexpr int kFirstGlyphCode = 33;
inline constexpr float kPenUp = -1.0f;

// Built during static initialisation and never changed; read it only from code that
// runs after main has started.
extern const std::vector<Polyline> vectorFont;

} // namespace lumarok

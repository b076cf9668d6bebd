#pragma once

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <vector>

namespace lumarok {

// One stroke in drawing space (0..4095 on both axes, centre 2047). Open unless
// its data repeats the first point at the end.
using Polyline = std::vector<glm::vec2>;
using Frame = std::vector<Polyline>;

// The path builder reads this as five consecutive floats x, y, r, g, b.
struct ColorPoint {
    glm::vec2 position;
    glm::vec3 color;
};
static_assert(sizeof(ColorPoint) == 5 * sizeof(float), "ColorPoint must be five packed floats");

using ColorPolyline = std::vector<ColorPoint>;
using ColorFrame = std::vector<ColorPolyline>;

// The middle used by every effect that scales, places or measures about the centre.
inline constexpr float kCentre = 2047.0f;

} // namespace lumarok

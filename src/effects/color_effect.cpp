#include "effects/color_effect.hpp"

#include "effects/geometry.hpp"

namespace lumarok {

ColorEffect::ColorEffect(glm::vec3 givenColor) : color(givenColor) {}

ColorFrame ColorEffect::apply(const Frame& frame, float /*time*/) const {
    return colorizeFrame(frame, color);
}

} // namespace lumarok

#include "effects/color_effect.hpp"

#include "effects/geometry.hpp"

namespace lumarok {

ColorEffect::ColorEffect(glm::vec3 givenColor) : color(givenColor) {}

void ColorEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out,
                        EffectStorage& storage) const {
    clearFrame(out, storage.pools());
    appendColorized(frame, color, out, storage.pools());
}

} // namespace lumarok

#include "effects/mask_effect.hpp"

#include "effects/geometry.hpp"

#include <utility>

namespace lumarok {

MaskEffect::MaskEffect(glm::vec3 givenContentColor, glm::vec3 givenOutlineColor, float givenScale,
                       Polyline givenMask)
    : contentColor(givenContentColor), outlineColor(givenOutlineColor), scale(givenScale),
      mask(std::move(givenMask)) {}

ColorFrame MaskEffect::apply(const Frame& frame, float /*time*/) const {
    const Frame scaled = scaleFrame(frame, scale);
    ColorFrame result = colorizeFrame(Frame{mask}, outlineColor);
    for (const Polyline& polyline : scaled) {
        // An empty polyline has no first point to clip from and nothing to draw.
        if (polyline.empty()) {
            continue;
        }
        ColorFrame inside = colorizeFrame(clipPolylineToMask(polyline, mask, true), contentColor);
        result.insert(result.end(), std::make_move_iterator(inside.begin()),
                      std::make_move_iterator(inside.end()));
    }
    return result;
}

} // namespace lumarok

#include "effects/mask_effect.hpp"

#include "effects/geometry.hpp"

#include <utility>

namespace lumarok {

MaskEffect::MaskEffect(glm::vec3 givenContentColor, glm::vec3 givenOutlineColor, float givenScale,
                       Polyline givenMask)
    : contentColor(givenContentColor), outlineColor(givenOutlineColor), scale(givenScale),
      mask(std::move(givenMask)), index(mask) {}

void MaskEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out,
                       EffectStorage& storage) const {
    FramePools& pools = storage.pools();
    Frame& scaled = storage.working;
    Frame& pieces = storage.pieces;
    scaleFrame(frame, scale, scaled, pools);
    clearFrame(out, pools);
    ColorPolyline& outline = addPolyline(out, pools);
    reserveRoom(outline, mask.size());
    for (const glm::vec2 point : mask) {
        outline.push_back(ColorPoint{point, outlineColor});
    }
    clearFrame(pieces, pools);
    for (const Polyline& polyline : scaled) {
        // An empty polyline has no first point to clip from and nothing to draw.
        if (!polyline.empty()) {
            clipPolylineToMask(polyline, index, true, pieces, storage.geometry);
        }
    }
    appendColorized(pieces, contentColor, out, pools);
}

} // namespace lumarok

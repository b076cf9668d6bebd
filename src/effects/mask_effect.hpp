#pragma once

#include "effects/effect.hpp"
#include "effects/geometry.hpp"

#include <glm/vec3.hpp>

namespace lumarok {

// Draws a fixed outline and, inside it, the animation shrunk by `scale` about the
// centre. The mask is read as a chain of segments (closed only if its last point
// repeats the first) and is never scaled. Ignores the show time.
//
// A mask of fewer than two points encloses nothing: only the outline is drawn
// (an empty outline for an empty mask) and no part of the animation is kept.
class MaskEffect final : public Effect {
public:
    MaskEffect(glm::vec3 contentColor, glm::vec3 outlineColor, float scale, Polyline mask);

    // Outline first, then the inside pieces of each polyline in input order.
    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::mask; }

private:
    glm::vec3 contentColor;
    glm::vec3 outlineColor;
    float scale;
    Polyline mask;
    MaskIndex index; // of the mask, for clipping
};

} // namespace lumarok

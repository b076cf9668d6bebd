#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

namespace lumarok {

// A spiral tunnel the viewer flies through, fading from its colour to dark red
// with depth. Ignores the animation frame.
class TunnelEffect final : public Effect {
public:
    TunnelEffect(glm::vec3 color, float depth, float twistPeriod);

    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::tunnel; }

private:
    glm::vec3 color;   // colour of the nearest part
    float depth;       // depth range covered by the spiral's 1000 steps
    float twistPeriod; // depth units per full turn
};

} // namespace lumarok

#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

#include <cstdint>

namespace lumarok {

// The animation's shapes recoloured by concentric rings round the centre that
// move with time, blending between two colours.
class InnerCircleEffect final : public Effect {
public:
    InnerCircleEffect(float ringScale, float ringSpeed, std::int32_t sampleCount, glm::vec3 colorA,
                      glm::vec3 colorB);

    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::innerCircle; }

private:
    float ringScale;          // drawing units per radian of ring phase
    float ringSpeed;          // ring phase per second (negative moves the rings outward)
    std::int32_t sampleCount; // points the frame is resampled to
    glm::vec3 colorA;         // where the ring cosine is -1
    glm::vec3 colorB;         // where the ring cosine is +1
};

} // namespace lumarok

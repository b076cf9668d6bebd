#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

namespace lumarok {

// The animation as it is, every point in one colour. Ignores the show time.
class ColorEffect final : public Effect {
public:
    explicit ColorEffect(glm::vec3 color);

    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::colour; }

private:
    glm::vec3 color;
};

} // namespace lumarok

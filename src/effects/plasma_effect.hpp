#pragma once

#include "effects/effect.hpp"

#include <cstdint>

namespace lumarok {

// The animation's shapes recoloured point by point by three cosine waves that
// drift across the drawing space with time.
class PlasmaEffect final : public Effect {
public:
    explicit PlasmaEffect(std::int32_t sampleCount);

    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::plasma; }

private:
    std::int32_t sampleCount; // points the frame is resampled to before colouring
};

} // namespace lumarok

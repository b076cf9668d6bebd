#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

#include <cstdint>

namespace lumarok {

class AudioCapture;

// The frame, resampled, with every point pushed towards larger x and y by the
// audio frame that its horizontal position selects.
class DisturbEffect final : public Effect {
public:
    // audio: not owned, must outlive the effect; null draws silence.
    DisturbEffect(float strength, glm::vec3 color, std::int32_t sampleCount,
                  const AudioCapture* audio);

    // Thread: rendering. Copies the latest audio packet once, under its lock.
    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::disturb; }

private:
    float strength; // drawing units of push for a sample value of 1
    glm::vec3 color;
    std::int32_t sampleCount; // points the frame is resampled to
    const AudioCapture* audio;
};

} // namespace lumarok

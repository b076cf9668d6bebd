#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

namespace lumarok {

class AudioCapture;

// A circle round the centre whose radius follows the playing audio, cut away
// where it runs inside the frame's first polyline, over the frame in one colour.
class CircleEffect final : public Effect {
public:
    // audio: not owned, must outlive the effect; null draws silence.
    CircleEffect(float radius, glm::vec3 frameColor, glm::vec3 circleColor,
                 const AudioCapture* audio);

    // Thread: rendering. Copies the latest audio packet once, under its lock.
    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::circle; }

private:
    float radius; // drawing units, for silent audio
    glm::vec3 frameColor;
    glm::vec3 circleColor;
    const AudioCapture* audio;
};

} // namespace lumarok

#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

namespace lumarok {

class AudioCapture;

// The playing audio as a waveform line across the middle, cut away where it
// runs inside the frame's first polyline, over the frame in a pulsing colour.
class LineEffect final : public Effect {
public:
    // audio: not owned, must outlive the effect; null draws silence.
    LineEffect(float period, glm::vec3 colorA, glm::vec3 colorB, glm::vec3 waveColor,
               const AudioCapture* audio);

    // Thread: rendering. Copies the latest audio packet once, under its lock.
    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::line; }

private:
    float period;        // seconds per cycle of the frame-colour pulse
    glm::vec3 colorA;    // frame colour at the pulse's low point
    glm::vec3 colorB;    // frame colour at the pulse's high point
    glm::vec3 waveColor; // colour of the waveform line
    const AudioCapture* audio;
};

} // namespace lumarok

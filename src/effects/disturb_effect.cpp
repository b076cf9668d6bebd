#include "effects/disturb_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

DisturbEffect::DisturbEffect(float strength_, glm::vec3 color_, std::int32_t sampleCount_,
                             const AudioCapture* audio_)
    : strength(strength_), color(color_), sampleCount(sampleCount_), audio(audio_) {}

ColorFrame DisturbEffect::apply(const Frame& frame, float /*time*/) const {
    // The push owns its copy of the packet, so the capture may move on meanwhile.
    const auto push = [snapshot = takeAudioSnapshot(audio), scale = strength](glm::vec2 p) {
        return disturbanceOffset(snapshot, scale, p);
    };
    const Frame points = resampleFrame(frame, sampleCount);
    return colorizeFrame(displaceFrame(points, push), color);
}

} // namespace lumarok

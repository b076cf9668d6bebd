#include "effects/inner_circle_effect.hpp"

#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

InnerCircleEffect::InnerCircleEffect(float ringScale_, float ringSpeed_, std::int32_t sampleCount_,
                                     glm::vec3 colorA_, glm::vec3 colorB_)
    : ringScale(ringScale_), ringSpeed(ringSpeed_), sampleCount(sampleCount_), colorA(colorA_),
      colorB(colorB_) {}

void InnerCircleEffect::apply(const Frame& frame, float time, ColorFrame& out,
                              EffectStorage& storage) const {
    // The phase grows with show time; reduced to one turn once per frame, the cosine
    // below stays in its fast range.
    constexpr double kTurn = 6.283185307179586;
    const auto shift = static_cast<float>(std::fmod(static_cast<double>(ringSpeed * time), kTurn));
    resampleFrame(frame, sampleCount, storage.working, storage.geometry);
    clearFrame(out, storage.pools());
    appendColorized(
        storage.working,
        [scale = ringScale, shift, a = colorA, b = colorB](glm::vec2 p) {
            const float dx = p.x - kCentre;
            const float dy = p.y - kCentre;
            const float v = std::sqrt(dx * dx + dy * dy) / scale + shift;
            const float e = 0.5f * std::cos(v) + 0.5f;
            return a * (1.0f - e) + b * e;
        },
        out, storage.pools());
}

} // namespace lumarok

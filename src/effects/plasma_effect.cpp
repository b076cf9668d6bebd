#include "effects/plasma_effect.hpp"

#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

PlasmaEffect::PlasmaEffect(std::int32_t sampleCount_) : sampleCount(sampleCount_) {}

ColorFrame PlasmaEffect::apply(const Frame& frame, float time) const {
    constexpr float kPerUnit = 1.0f / 4096.0f; // one radian across the drawing space
    return colorizeFrameBy(resampleFrame(frame, sampleCount), [time](glm::vec2 p) {
        const float u = p.x * kPerUnit + time;
        return glm::vec3(0.5f * std::cos(u) + 0.5f,
                         0.5f * std::cos(p.y * kPerUnit + time + 2.0f) + 0.5f,
                         0.5f * std::cos(u + 4.0f) + 0.5f);
    });
}

} // namespace lumarok

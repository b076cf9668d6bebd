#include "effects/plasma_effect.hpp"

#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

PlasmaEffect::PlasmaEffect(std::int32_t sampleCount_) : sampleCount(sampleCount_) {}

void PlasmaEffect::apply(const Frame& frame, float time, ColorFrame& out) const {
    constexpr float kPerUnit = 1.0f / 4096.0f; // one radian across the drawing space
    thread_local Frame points;                 // per-thread working frame, kept from frame to frame
    resampleFrame(frame, sampleCount, points);
    clearFrame(out);
    appendColorized(
        points,
        [time](glm::vec2 p) {
            const float u = p.x * kPerUnit + time;
            return glm::vec3(0.5f * std::cos(u) + 0.5f,
                             0.5f * std::cos(p.y * kPerUnit + time + 2.0f) + 0.5f,
                             0.5f * std::cos(u + 4.0f) + 0.5f);
        },
        out);
}

} // namespace lumarok

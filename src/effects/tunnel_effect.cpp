#include "effects/tunnel_effect.hpp"

#include <cmath>

namespace lumarok {

namespace {

constexpr int kSteps = 1000;
constexpr float kTwoPi = 6.2831855f;
const glm::vec3 kFarColor{0.25f, 0.0f, 0.0f};

// The centre line's sideways wander at phase w, in double precision.
float wanderY(float w) {
    return static_cast<float>(std::sin(0.2 * static_cast<double>(w)));
}
float wanderX(float w) {
    return static_cast<float>(std::sin(0.3 * static_cast<double>(w) + 0.6));
}

} // namespace

TunnelEffect::TunnelEffect(glm::vec3 color_, float depth_, float twistPeriod_)
    : color(color_), depth(depth_), twistPeriod(twistPeriod_) {}

ColorFrame TunnelEffect::apply(const Frame& /*frame*/, float time) const {
    const float phase = 5.0f * time;
    // The viewer's own wander is taken off so that the tunnel's mouth stays centred.
    const float viewerY = wanderY(phase);
    const float viewerX = wanderX(phase);

    ColorFrame result;
    bool previousVisible = false;
    for (int i = 0; i < kSteps; ++i) {
        const float d = static_cast<float>(i) * depth / 1000.0f;
        const float w = d + phase;
        const float a = wanderY(w);
        const float b = wanderX(w);
        const float angle = w * kTwoPi / twistPeriod;
        const float h = d + 0.5f; // perspective
        const float px = (std::cos(angle) + b - viewerX) / h;
        const float py = (std::sin(angle) + a - viewerY) / h;

        const bool visible = -1.0f < px && px < 1.0f && -1.0f < py && py < 1.0f;
        if (!visible) {
            previousVisible = false;
            continue;
        }
        if (!previousVisible) {
            result.emplace_back();
        }
        previousVisible = true;
        const float k = 1.0f - std::exp(-0.1f * d);
        const glm::vec3 shade = color * (1.0f - k) + kFarColor * k;
        result.back().push_back({{px * 2047.0f + 2047.0f, py * 2047.0f + 2047.0f}, shade});
    }
    return result;
}

} // namespace lumarok

#include "effects/tunnel_effect.hpp"

#include "core/frame_storage.hpp"

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

// cos and sin of an angle that grows by a fixed step: one rotation per step instead
// of two calls, in double so that a thousand steps stay far below a drawing unit.
class Rotor {
public:
    Rotor(double start, double step)
        : c(std::cos(start)), s(std::sin(start)), stepC(std::cos(step)), stepS(std::sin(step)) {}
    [[nodiscard]] float cos() const { return static_cast<float>(c); }
    [[nodiscard]] float sin() const { return static_cast<float>(s); }
    void advance() {
        const double nextC = c * stepC - s * stepS;
        s = s * stepC + c * stepS;
        c = nextC;
    }

private:
    double c;
    double s;
    double stepC;
    double stepS;
};

} // namespace

TunnelEffect::TunnelEffect(glm::vec3 color_, float depth_, float twistPeriod_)
    : color(color_), depth(depth_), twistPeriod(twistPeriod_) {}

void TunnelEffect::apply(const Frame& /*frame*/, float time, ColorFrame& out,
                         EffectStorage& storage) const {
    const float phase = 5.0f * time;
    // The viewer's own wander is taken off so that the tunnel's mouth stays centred.
    const float viewerY = wanderY(phase);
    const float viewerX = wanderX(phase);

    // Step i lies at depth d = i * depth / 1000 and phase w = d + phase; the three
    // angles below are linear in w, so each advances by a fixed step.
    const double p = phase;
    const double dStep = static_cast<double>(depth) / kSteps;
    const double turn = static_cast<double>(kTwoPi) / static_cast<double>(twistPeriod);
    Rotor wanderA(0.2 * p, 0.2 * dStep);
    Rotor wanderB(0.3 * p + 0.6, 0.3 * dStep);
    Rotor twist(p * turn, dStep * turn);

    clearFrame(out, storage.pools());
    bool previousVisible = false;
    for (int i = 0; i < kSteps; ++i) {
        const float d = static_cast<float>(i) * depth / 1000.0f;
        const float a = wanderA.sin();
        const float b = wanderB.sin();
        const float h = d + 0.5f; // perspective
        const float px = (twist.cos() + b - viewerX) / h;
        const float py = (twist.sin() + a - viewerY) / h;
        wanderA.advance();
        wanderB.advance();
        twist.advance();

        const bool visible = -1.0f < px && px < 1.0f && -1.0f < py && py < 1.0f;
        if (!visible) {
            previousVisible = false;
            continue;
        }
        if (!previousVisible) {
            // Room for the rest of the spiral at once, rather than growing by doubling.
            reserveRoom(addPolyline(out, storage.pools()), static_cast<std::size_t>(kSteps - i));
        }
        previousVisible = true;
        const float k = 1.0f - std::exp(-0.1f * d);
        const glm::vec3 shade = color * (1.0f - k) + kFarColor * k;
        out.back().push_back({{px * 2047.0f + 2047.0f, py * 2047.0f + 2047.0f}, shade});
    }
}

} // namespace lumarok

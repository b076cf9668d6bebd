#include "effects/plasma_effect.hpp"

#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

namespace {

constexpr float kPerUnit = 1.0f / 4096.0f; // one radian across the drawing space

// sin and cos of a small angle (|d| <= kSmall) by their Taylor series, which stop
// within 3e-8 of the true values there.
constexpr float kSmall = 0.6f;
float smallSin(float d) {
    const float d2 = d * d;
    return d * (1.0f + d2 * (-1.0f / 6.0f + d2 * (1.0f / 120.0f + d2 * (-1.0f / 5040.0f))));
}
float smallCos(float d) {
    const float d2 = d * d;
    return 1.0f +
           d2 * (-0.5f + d2 * (1.0f / 24.0f + d2 * (-1.0f / 720.0f + d2 * (1.0f / 40320.0f))));
}

// The cosine of a wave's argument, which grows with show time. Each argument lies
// within about half a radian of a fixed angle for the whole frame (the wave's phase
// at the middle of the drawing space), so the cosine and sine of that angle are
// taken once per frame and each point only turns them by the small remainder.
class WaveCosine {
public:
    explicit WaveCosine(double centre)
        : middle(centre), cosMiddle(static_cast<float>(std::cos(centre))),
          sinMiddle(static_cast<float>(std::sin(centre))) {}

    [[nodiscard]] float operator()(float argument) const {
        // Taken in double, the difference keeps the float argument's own rounding whatever
        // the show time.
        const auto d = static_cast<float>(static_cast<double>(argument) - middle);
        if (!(std::fabs(d) <= kSmall)) {
            return std::cos(argument); // a point far outside the drawing space, or NaN
        }
        return cosMiddle * smallCos(d) - sinMiddle * smallSin(d);
    }

private:
    double middle;
    float cosMiddle;
    float sinMiddle;
};

} // namespace

PlasmaEffect::PlasmaEffect(std::int32_t sampleCount_) : sampleCount(sampleCount_) {}

void PlasmaEffect::apply(const Frame& frame, float time, ColorFrame& out,
                         EffectStorage& storage) const {
    resampleFrame(frame, sampleCount, storage.working, storage.geometry);
    clearFrame(out, storage.pools());
    // The arguments are rounded to float step by step as the plain formula
    // cos(x / 4096 + time) etc. would round them, so that only the cosines change.
    const double t = time;
    const WaveCosine red(t + 0.5);
    const WaveCosine green(t + 2.5);
    const WaveCosine blue(t + 4.5);
    appendColorized(
        storage.working,
        [time, &red, &green, &blue](glm::vec2 p) {
            const float u = p.x * kPerUnit + time;
            const float v = p.y * kPerUnit + time;
            return glm::vec3(0.5f * red(u) + 0.5f, 0.5f * green(v + 2.0f) + 0.5f,
                             0.5f * blue(u + 4.0f) + 0.5f);
        },
        out, storage.pools());
}

} // namespace lumarok

// The plasma's colours, taken with one cosine and sine per frame and a small turn per
// point, against the plain formula (three cosines per point) on the demo show where
// the show's script plays the plasma.
#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "effects/geometry.hpp"
#include "effects/plasma_effect.hpp"
#include "laser/laser_path.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace lumarok {
namespace {

// The formula as the plasma first computed it.
ColorFrame plainPlasma(const Frame& frame, std::int32_t sampleCount, float time) {
    constexpr float kPerUnit = 1.0f / 4096.0f;
    return colorizeFrameBy(resampleFrame(frame, sampleCount), [time](glm::vec2 p) {
        const float u = p.x * kPerUnit + time;
        return glm::vec3(0.5f * std::cos(u) + 0.5f,
                         0.5f * std::cos(p.y * kPerUnit + time + 2.0f) + 0.5f,
                         0.5f * std::cos(u + 4.0f) + 0.5f);
    });
}

TEST(PlasmaEffect, MatchesThePlainFormulaOnTheDemoShowWithinAColourStep) {
    const Animation animation(std::filesystem::path(test::sourceDir()) / "data");
    const PlasmaEffect plasma(1000);
    ColorFrame fast;
    EffectStorage storage;
    std::size_t compared = 0;
    std::size_t differing = 0;
    // The script's plasma entries start at 138.07 s and 175.59 s; also an early time
    // and points far outside the drawing space, where the effect falls back.
    for (const double start : {0.5, 138.07, 175.59}) {
        for (int i = 0; i < 90; ++i) {
            const double t = start + i / 30.0;
            const Frame frame = sampleAnimation(animation, t);
            plasma.apply(frame, static_cast<float>(t), fast, storage);
            const ColorFrame plain = plainPlasma(frame, 1000, static_cast<float>(t));
            ASSERT_EQ(fast.size(), plain.size());
            for (std::size_t p = 0; p < plain.size(); ++p) {
                ASSERT_EQ(fast[p].size(), plain[p].size());
                for (std::size_t k = 0; k < plain[p].size(); ++k) {
                    ASSERT_EQ(fast[p][k].position, plain[p][k].position);
                    const LaserSample a =
                        toLaserSample(fast[p][k].position, fast[p][k].color, 1.0f);
                    const LaserSample b =
                        toLaserSample(plain[p][k].position, plain[p][k].color, 1.0f);
                    ASSERT_LE(std::abs(a.r - b.r), 1) << "t " << t;
                    ASSERT_LE(std::abs(a.g - b.g), 1) << "t " << t;
                    ASSERT_LE(std::abs(a.b - b.b), 1) << "t " << t;
                    differing += (a.r != b.r || a.g != b.g || a.b != b.b) ? 1 : 0;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 100000u);
    // A step's difference only where the plain value lies on a rounding boundary.
    EXPECT_LT(differing, compared / 1000) << differing << " of " << compared;

    const Frame far{{{-90000.0f, 5.0e6f}, {4095.0f, 4095.0f}}};
    plasma.apply(far, 138.0f, fast, storage);
    const ColorFrame plain = plainPlasma(far, 1000, 138.0f);
    for (std::size_t k = 0; k < plain[0].size(); k += 97) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(fast[0][k].color[c], plain[0][k].color[c], 1e-6f) << k;
        }
    }
}

} // namespace
} // namespace lumarok

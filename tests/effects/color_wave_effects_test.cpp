#include "effects/inner_circle_effect.hpp"
#include "effects/plasma_effect.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace lumarok {
namespace {

const glm::vec3 kBlue{0, 0, 1};
const glm::vec3 kRed{1, 0, 0};

// Two points exactly where we want them: a two-point line resampled to two points.
Frame twoPoints(glm::vec2 a, glm::vec2 b) {
    return Frame{{a, b}};
}

void expectNear(glm::vec3 actual, glm::vec3 expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.r, expected.r, tolerance);
    EXPECT_NEAR(actual.g, expected.g, tolerance);
    EXPECT_NEAR(actual.b, expected.b, tolerance);
}

TEST(PlasmaEffect, ColoursTheOriginAtTimeZero) {
    const PlasmaEffect plasma(2);
    const ColorFrame out = plasma.apply(twoPoints({0, 0}, {4095, 0}), 0.0f);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 2u);
    expectNear(out[0][0].color, {1.0f, 0.5f * std::cos(2.0f) + 0.5f, 0.5f * std::cos(4.0f) + 0.5f});
    EXPECT_NEAR(out[0][0].color.g, 0.29f, 0.005f);
    EXPECT_NEAR(out[0][0].color.b, 0.17f, 0.005f);
    // Red and blue follow x, green follows y.
    EXPECT_LT(out[0][1].color.r, out[0][0].color.r);
    EXPECT_EQ(out[0][1].color.g, out[0][0].color.g);
}

TEST(PlasmaEffect, ChannelsStayInRangeAndCycleEveryTwoPiSeconds) {
    const PlasmaEffect plasma(200);
    const Frame frame{{{0, 0}, {4095, 4095}}, {{4095, 0}, {0, 4095}}};
    const ColorFrame start = plasma.apply(frame, 1.0f);
    const ColorFrame later = plasma.apply(frame, 1.0f + 6.2831855f);
    for (const float time : {0.0f, 1.0f, 2.5f, 100.0f}) {
        for (const ColorPolyline& polyline : plasma.apply(frame, time)) {
            for (const ColorPoint& point : polyline) {
                for (int c = 0; c < 3; ++c) {
                    EXPECT_GE(point.color[c], 0.0f);
                    EXPECT_LE(point.color[c], 1.0f);
                }
            }
        }
    }
    for (std::size_t p = 0; p < start.size(); ++p) {
        for (std::size_t i = 0; i < start[p].size(); ++i) {
            expectNear(later[p][i].color, start[p][i].color, 1e-4f);
        }
    }
}

TEST(ColorWaveEffects, ResampleBeforeColouring) {
    const PlasmaEffect plasma(1000);
    const InnerCircleEffect rings(64.0f, -8.0f, 1000, kBlue, kRed);
    for (const Effect* effect :
         {static_cast<const Effect*>(&plasma), static_cast<const Effect*>(&rings)}) {
        EXPECT_TRUE(effect->apply(Frame{}, 1.0f).empty());
        const ColorFrame out = effect->apply(twoPoints({0, 0}, {100, 100}), 1.0f);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].size(), 1000u);
    }
}

TEST(InnerCircleEffect, CentreIsColorBAndHalfARingOutIsColorA) {
    const InnerCircleEffect rings(64.0f, -8.0f, 2, kBlue, kRed);
    const float halfRing = 64.0f * 3.14159265f;
    const ColorFrame out =
        rings.apply(twoPoints({kCentre, kCentre}, {kCentre + halfRing, kCentre}), 0.0f);
    ASSERT_EQ(out[0].size(), 2u);
    expectNear(out[0][0].color, kRed);
    expectNear(out[0][1].color, kBlue);
}

TEST(InnerCircleEffect, RingsMoveOutwardAt512UnitsPerSecond) {
    const InnerCircleEffect rings(64.0f, -8.0f, 2, glm::vec3(1, 1, 0), glm::vec3(0, 1, 1));
    const float at = 300.0f;
    const float time = 0.25f; // 128 units further out
    const glm::vec3 before =
        rings.apply(twoPoints({kCentre + at, kCentre}, {0, 0}), 0.0f)[0][0].color;
    const glm::vec3 after =
        rings.apply(twoPoints({kCentre, kCentre + at + 128.0f}, {0, 0}), time)[0][0].color;
    expectNear(after, before, 1e-4f);
}

} // namespace
} // namespace lumarok

#include "effects/mask_effect.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace lumarok {
namespace {

const glm::vec3 kGreen{0, 1, 0};
const glm::vec3 kBlue{0, 0, 1};
constexpr float kShrink = 0.95f;

Polyline closedSquare() {
    return {{1000, 1000}, {3000, 1000}, {3000, 3000}, {1000, 3000}, {1000, 1000}};
}

void expectPoint(const ColorPoint& point, float x, float y, glm::vec3 color) {
    EXPECT_NEAR(point.position.x, x, 0.01f);
    EXPECT_NEAR(point.position.y, y, 0.01f);
    EXPECT_EQ(point.color, color);
}

TEST(MaskEffect, EmptyFrameStillDrawsTheOutline) {
    const MaskEffect effect(kGreen, kBlue, kShrink, closedSquare());
    const ColorFrame out = effect.apply(Frame{}, 3.0f);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 5u);
    for (std::size_t i = 0; i < out[0].size(); ++i) {
        expectPoint(out[0][i], closedSquare()[i].x, closedSquare()[i].y, kBlue);
    }
}

TEST(MaskEffect, ShrinksTheAnimationThenKeepsWhatIsInside) {
    const std::unique_ptr<Effect> effect =
        std::make_unique<MaskEffect>(kGreen, kBlue, kShrink, closedSquare());
    // After the shrink the line runs at y = 2047 + 0.95 * 153 = 2192.35 from
    // x = 52.35 to 4042.65, crossing the square's left and right sides.
    const Frame frame{{{0, 2200}, {4200, 2200}}};
    const ColorFrame out = effect->apply(frame, 2.04f);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0][0].color, kBlue);
    ASSERT_EQ(out[1].size(), 2u);
    expectPoint(out[1][0], 1000, 2192.35f, kGreen);
    expectPoint(out[1][1], 3000, 2192.35f, kGreen);
}

TEST(MaskEffect, KeepsInsidePiecesOfEveryPolylineInOrder) {
    const MaskEffect effect(kGreen, kBlue, 1.0f, closedSquare());
    const Frame frame{
        {{100, 100}, {200, 200}},                                 // wholly outside: nothing
        {{1500, 1500}, {2500, 1500}},                             // wholly inside: itself
        {},                                                       // empty: skipped
        {{2000, 2000}, {3500, 2000}, {3500, 2500}, {2500, 2500}}, // two stretches inside
    };
    const ColorFrame out = effect.apply(frame, 0.0f);
    ASSERT_EQ(out.size(), 4u);
    ASSERT_EQ(out[1].size(), 2u);
    expectPoint(out[1][0], 1500, 1500, kGreen);
    expectPoint(out[1][1], 2500, 1500, kGreen);
    ASSERT_EQ(out[2].size(), 2u);
    expectPoint(out[2][0], 2000, 2000, kGreen);
    expectPoint(out[2][1], 3000, 2000, kGreen);
    ASSERT_EQ(out[3].size(), 2u);
    expectPoint(out[3][0], 3000, 2500, kGreen);
    expectPoint(out[3][1], 2500, 2500, kGreen);
}

TEST(MaskEffect, MasksWithoutSegmentsKeepNothing) {
    const Frame frame{{{0, 0}, {4095, 4095}}, {{kCentre, kCentre}, {kCentre, 3000}}};
    const MaskEffect empty(kGreen, kBlue, kShrink, Polyline{});
    const ColorFrame none = empty.apply(frame, 0.0f);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_TRUE(none[0].empty());

    const MaskEffect dot(kGreen, kBlue, kShrink, Polyline{{kCentre, kCentre}});
    const ColorFrame justDot = dot.apply(frame, 0.0f);
    ASSERT_EQ(justDot.size(), 1u);
    ASSERT_EQ(justDot[0].size(), 1u);
    expectPoint(justDot[0][0], kCentre, kCentre, kBlue);
}

TEST(MaskEffect, OwnsItsMaskAndIgnoresTime) {
    Polyline mask = closedSquare();
    const MaskEffect effect(kGreen, kBlue, kShrink, mask);
    mask.clear();
    const Frame frame{{{1500, 2000}, {2500, 2000}}};
    const ColorFrame first = effect.apply(frame, 0.0f);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].size(), 5u);
    for (const float time : {2.039f, 100.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()}) {
        const ColorFrame again = effect.apply(frame, time);
        ASSERT_EQ(again.size(), first.size());
        for (std::size_t i = 0; i < first.size(); ++i) {
            ASSERT_EQ(again[i].size(), first[i].size());
            for (std::size_t k = 0; k < first[i].size(); ++k) {
                EXPECT_EQ(again[i][k].position, first[i][k].position);
            }
        }
    }
}

TEST(MaskEffect, NaNCoordinatesInTheFrameAreHarmless) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const MaskEffect effect(kGreen, kBlue, kShrink, closedSquare());
    const Frame frame{{{nan, nan}}, {{2000, 2000}, {nan, 2000}, {2100, 2100}}};
    const ColorFrame out = effect.apply(frame, 0.0f);
    ASSERT_GE(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 5u);
}

} // namespace
} // namespace lumarok

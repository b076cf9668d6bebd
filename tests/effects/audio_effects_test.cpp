#include "effects/circle_effect.hpp"
#include "effects/disturb_effect.hpp"
#include "effects/geometry.hpp"
#include "effects/line_effect.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace lumarok {
namespace {

const glm::vec3 kRed{1, 0, 0};
const glm::vec3 kGreen{0, 1, 0};
const glm::vec3 kBlue{0, 0, 1};

// A closed square round the centre, half-width `half`.
Polyline squareAroundCentre(float half) {
    const float lo = kCentre - half;
    const float hi = kCentre + half;
    return {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}, {lo, lo}};
}

void expectColor(const ColorPolyline& polyline, glm::vec3 color) {
    for (const ColorPoint& point : polyline) {
        EXPECT_NEAR(point.color.r, color.r, 1e-6f);
        EXPECT_NEAR(point.color.g, color.g, 1e-6f);
        EXPECT_NEAR(point.color.b, color.b, 1e-6f);
    }
}

TEST(LineEffect, EmptyFrameWithoutAudioGivesTheFlatWaveform) {
    const std::unique_ptr<Effect> effect =
        std::make_unique<LineEffect>(0.1f, kGreen, kGreen, kRed, nullptr);
    const ColorFrame out = effect->apply(Frame{}, 3.0f);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 33u);
    expectColor(out[0], kRed);
    EXPECT_EQ(out[0].front().position, glm::vec2(0, 2047));
    EXPECT_EQ(out[0].back().position, glm::vec2(4095, 2047));
}

TEST(LineEffect, WaveformLosesTheStretchInsideTheFirstPolylineAndComesFirst) {
    const LineEffect effect(0.1f, kGreen, kGreen, kRed, nullptr);
    const Frame frame{squareAroundCentre(500.0f), {{10, 10}, {20, 20}}};
    const ColorFrame out = effect.apply(frame, 0.0f);
    ASSERT_EQ(out.size(), 4u) << "two waveform pieces, then the frame's two polylines";
    expectColor(out[0], kRed);
    expectColor(out[1], kRed);
    EXPECT_EQ(out[0].front().position.x, 0.0f);
    EXPECT_NEAR(out[0].back().position.x, kCentre - 500.0f, 0.01f);
    EXPECT_NEAR(out[1].front().position.x, kCentre + 500.0f, 0.01f);
    EXPECT_EQ(out[1].back().position.x, 4095.0f);
    EXPECT_EQ(out[2].size(), 5u);
    expectColor(out[2], kGreen);
    expectColor(out[3], kGreen);
}

TEST(LineEffect, FrameColourPulsesOncePerPeriod) {
    const float period = 0.1f;
    const LineEffect effect(period, kBlue, kRed, kGreen, nullptr);
    const Frame frame{{{100, 100}, {200, 200}}};
    const auto frameColorAt = [&](float time) { return effect.apply(frame, time).back()[0].color; };
    const glm::vec3 half = kBlue * 0.5f + kRed * 0.5f;
    const struct {
        float time;
        glm::vec3 color;
    } cases[] = {{0.0f, half}, {0.025f, kRed}, {0.05f, half}, {0.075f, kBlue}, {0.125f, kRed}};
    for (const auto& c : cases) {
        const glm::vec3 color = frameColorAt(c.time);
        EXPECT_NEAR(color.r, c.color.r, 1e-5f) << "t = " << c.time;
        EXPECT_NEAR(color.b, c.color.b, 1e-5f) << "t = " << c.time;
    }
    // Equal colours make the pulse invisible.
    const LineEffect steady(period, kGreen, kGreen, kRed, nullptr);
    for (const float time : {0.0f, 0.03f, 0.07f, 12.34f}) {
        expectColor(steady.apply(frame, time).back(), kGreen);
    }
}

TEST(CircleEffect, EmptyFrameWithoutAudioGivesThePlainCircle) {
    const CircleEffect effect(1500.0f, kGreen, kBlue, nullptr);
    const ColorFrame out = effect.apply(Frame{}, 0.0f);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 65u);
    expectColor(out[0], kBlue);
    for (const ColorPoint& point : out[0]) {
        EXPECT_NEAR(std::hypot(point.position.x - kCentre, point.position.y - kCentre), 1500.0f,
                    0.01f);
    }
}

TEST(CircleEffect, SurvivesWholeRoundASmallSquareAndIsCutByALargerOne) {
    const CircleEffect effect(1500.0f, kGreen, kBlue, nullptr);
    const ColorFrame inside = effect.apply(Frame{squareAroundCentre(500.0f)}, 0.0f);
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_EQ(inside[0].size(), 65u);
    expectColor(inside[0], kBlue);
    expectColor(inside[1], kGreen);

    // Half-width 1200: the circle leaves the square round the axes and dips into
    // it towards the corners, so only the four arcs outside remain (the one at
    // angle 0 in two pieces, at the start and the end of the walk).
    const ColorFrame cut = effect.apply(Frame{squareAroundCentre(1200.0f)}, 0.0f);
    ASSERT_EQ(cut.size(), 6u);
    for (std::size_t i = 0; i + 1 < cut.size(); ++i) {
        expectColor(cut[i], kBlue);
        for (const ColorPoint& point : cut[i]) {
            const float reach = std::max(std::abs(point.position.x - kCentre),
                                         std::abs(point.position.y - kCentre));
            EXPECT_GE(reach, 1200.0f - 0.5f);
        }
    }
    expectColor(cut.back(), kGreen);
}

TEST(DisturbEffect, WithoutAudioTheResampledFrameStaysWhereItIs) {
    const DisturbEffect effect(2000.0f, kGreen, 100, nullptr);
    EXPECT_TRUE(effect.apply(Frame{}, 0.0f).empty());

    const Frame frame{{{0, 0}, {4095, 0}, {4095, 4095}}, {{100, 100}, {300, 300}}};
    const Frame expected = resampleFrame(frame, 100);
    const ColorFrame out = effect.apply(frame, 5.0f);
    ASSERT_EQ(out.size(), expected.size());
    std::size_t total = 0;
    for (std::size_t p = 0; p < out.size(); ++p) {
        ASSERT_EQ(out[p].size(), expected[p].size());
        total += out[p].size();
        for (std::size_t i = 0; i < out[p].size(); ++i) {
            EXPECT_EQ(out[p][i].position, expected[p][i]);
        }
        expectColor(out[p], kGreen);
    }
    EXPECT_EQ(total, 100u);
}

} // namespace
} // namespace lumarok

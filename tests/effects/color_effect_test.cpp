#include "effects/color_effect.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace lumarok {
namespace {

const glm::vec3 kBlue{0, 0, 1};

TEST(ColorEffect, ColoursEveryPointAndKeepsShape) {
    const std::unique_ptr<Effect> effect = std::make_unique<ColorEffect>(kBlue);
    const Frame frame{{{1, 2}, {3, 4}}, {}, {{5, 6}}};
    const ColorFrame out = effect->apply(frame, 12.5f);
    ASSERT_EQ(out.size(), 3u);
    ASSERT_EQ(out[0].size(), 2u);
    EXPECT_TRUE(out[1].empty());
    ASSERT_EQ(out[2].size(), 1u);
    EXPECT_EQ(out[0][1].position, glm::vec2(3, 4));
    for (const ColorPolyline& polyline : out) {
        for (const ColorPoint& point : polyline) {
            EXPECT_EQ(point.color, kBlue);
        }
    }
    EXPECT_TRUE(effect->apply(Frame{}, 0.0f).empty());
}

TEST(ColorEffect, SameOutputAtAnyTime) {
    const ColorEffect effect(kBlue);
    const Frame frame{{{10, 20}, {30, 40}, {50, 60}}};
    const ColorFrame first = effect.apply(frame, 0.0f);
    for (const float time : {-1.0f, 2.04f, 1e6f}) {
        const ColorFrame again = effect.apply(frame, time);
        ASSERT_EQ(again.size(), first.size());
        ASSERT_EQ(again[0].size(), first[0].size());
        for (std::size_t i = 0; i < first[0].size(); ++i) {
            EXPECT_EQ(again[0][i].position, first[0][i].position);
            EXPECT_EQ(again[0][i].color, first[0][i].color);
        }
    }
}

} // namespace
} // namespace lumarok

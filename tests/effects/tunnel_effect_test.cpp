#include "effects/tunnel_effect.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace lumarok {
namespace {

const glm::vec3 kShowColor{1.0f, 1.0f, 0.95f};

bool samePicture(const ColorFrame& a, const ColorFrame& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t p = 0; p < a.size(); ++p) {
        if (a[p].size() != b[p].size()) {
            return false;
        }
        for (std::size_t i = 0; i < a[p].size(); ++i) {
            if (a[p][i].position != b[p][i].position || a[p][i].color != b[p][i].color) {
                return false;
            }
        }
    }
    return true;
}

TEST(TunnelEffect, StaysInsideTheViewAndIgnoresTheFrame) {
    const TunnelEffect tunnel(kShowColor, 15.0f, 3.0f);
    for (const float time : {0.0f, 0.37f, 12.5f, 300.0f}) {
        const ColorFrame out = tunnel.apply(Frame{}, time);
        ASSERT_FALSE(out.empty());
        std::size_t points = 0;
        for (const ColorPolyline& stroke : out) {
            EXPECT_FALSE(stroke.empty()) << "a stroke starts only with a visible step";
            points += stroke.size();
            for (const ColorPoint& point : stroke) {
                EXPECT_GT(point.position.x, 0.0f);
                EXPECT_LT(point.position.x, 4094.0f);
                EXPECT_GT(point.position.y, 0.0f);
                EXPECT_LT(point.position.y, 4094.0f);
            }
        }
        EXPECT_LE(points, 1000u);
        const Frame someFrame{{{1, 2}, {3, 4}}, {{100, 100}}};
        EXPECT_TRUE(samePicture(out, tunnel.apply(someFrame, time)));
    }
}

TEST(TunnelEffect, NearestStepsLeaveTheViewAndTheSpiralIsCutThere) {
    const TunnelEffect tunnel(kShowColor, 15.0f, 3.0f);
    // At time 0 step 0 would sit at px = 2, i.e. x = 6141; the first visible point
    // lies deeper, so its colour is already darker than the nearest colour.
    EXPECT_LT(tunnel.apply(Frame{}, 0.0f).front().front().color.g, 1.0f);
    // As the spiral turns, near turns leave the view and come back: several strokes.
    std::size_t mostStrokes = 0;
    for (int step = 0; step < 60; ++step) {
        mostStrokes = std::max(mostStrokes, tunnel.apply(Frame{}, 0.05f * float(step)).size());
    }
    EXPECT_GT(mostStrokes, 1u);
}

TEST(TunnelEffect, FadesFromItsColourToDarkRedWithDepth) {
    const TunnelEffect tunnel(kShowColor, 15.0f, 3.0f);
    const ColorFrame out = tunnel.apply(Frame{}, 0.0f);
    float previousGreen = 2.0f;
    for (const ColorPolyline& stroke : out) {
        for (const ColorPoint& point : stroke) {
            EXPECT_LT(point.color.g, previousGreen) << "nearest first";
            previousGreen = point.color.g;
            // Blue keeps the colour's own ratio to green; red fades towards 0.25.
            EXPECT_NEAR(point.color.b, 0.95f * point.color.g, 1e-6f);
            EXPECT_NEAR(point.color.r, point.color.g + 0.25f * (1.0f - point.color.g), 1e-6f);
        }
    }
    // The far end, d just under 15: about 0.22 of the colour plus (0.19, 0, 0).
    const glm::vec3 far = out.back().back().color;
    EXPECT_NEAR(far.g, 0.223f, 0.005f);
    EXPECT_NEAR(far.r, 0.223f + 0.194f, 0.005f);
}

TEST(TunnelEffect, TurnsWithTime) {
    const TunnelEffect tunnel(kShowColor, 15.0f, 3.0f);
    EXPECT_FALSE(samePicture(tunnel.apply(Frame{}, 0.0f), tunnel.apply(Frame{}, 0.1f)));
}

} // namespace
} // namespace lumarok

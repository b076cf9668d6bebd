#include "effects/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

namespace lumarok {
namespace {

constexpr float kTolerance = 0.01f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

void expectPoint(glm::vec2 actual, float x, float y) {
    EXPECT_NEAR(actual.x, x, kTolerance);
    EXPECT_NEAR(actual.y, y, kTolerance);
}

std::size_t pointCount(const Frame& frame) {
    return std::accumulate(frame.begin(), frame.end(), std::size_t{0},
                           [](std::size_t sum, const Polyline& p) { return sum + p.size(); });
}

TEST(PolylineLengths, MeasuresEachPolylineAndSumsInOrder) {
    const Frame frame{{{0, 0}, {3, 4}, {3, 10}}, {}, {{5, 5}}, {{0, 0}, {0, 2}}};
    const PolylineLengths measured = polylineLengths(frame);
    ASSERT_EQ(measured.lengths.size(), 4u);
    EXPECT_FLOAT_EQ(measured.lengths[0], 11.0f);
    EXPECT_FLOAT_EQ(measured.lengths[1], 0.0f); // empty
    EXPECT_FLOAT_EQ(measured.lengths[2], 0.0f); // single point
    EXPECT_FLOAT_EQ(measured.lengths[3], 2.0f);
    EXPECT_FLOAT_EQ(measured.total, 13.0f);
    EXPECT_TRUE(polylineLengths(Frame{}).lengths.empty());
}

// Each case: the points asked for along a polyline of a given length, evenly spaced across
// its vertices (repeated vertices passed over); a dot repeated; nothing read past the data.
TEST(ResamplePolyline, SpacesTheCountAskedForEvenlyAlongTheLine) {
    const Polyline bent{{100, 200}, {300, 200}, {300, 500}};
    const Polyline line{{0, 0}, {10, 0}};
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        Polyline polyline;
        std::int32_t count;
        float length;
        std::size_t size;
        Polyline points; // empty: only the size is checked
    };
    const std::vector<Case> cases{
        {"one point: the start", bent, 1, 500, 1, {{100, 200}}},
        {"two: the ends", bent, 2, 500, 2, {{100, 200}, {300, 500}}},
        {"across a corner",
         {{0, 0}, {100, 0}, {100, 100}},
         5,
         200,
         5,
         {{0, 0}, {50, 0}, {100, 0}, {100, 50}, {100, 100}}},
        {"repeated vertices",
         {{0, 0}, {50, 0}, {50, 0}, {50, 0}, {100, 0}},
         5,
         100,
         5,
         {{0, 0}, {25, 0}, {50, 0}, {75, 0}, {100, 0}}},
        {"none asked", line, 0, 10, 0, {}},
        {"fewer than none", line, -5, 10, 0, {}},
        {"no points", {}, 7, 0, 0, {}},
        {"a dot keeps its share", {{42, 43}}, 3, 0, 3, {{42, 43}, {42, 43}, {42, 43}}},
        {"a coordinate and the length not numbers",
         {{0, 0}, {kNaN, 5}, {10, 10}, {20, 20}},
         50,
         kNaN,
         50,
         {}},
        {"the length not a number", line, 50, kNaN, 50, {}},
        {"an endless length", line, 4, inf, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Polyline out = resamplePolyline(c.polyline, c.count, c.length);
        ASSERT_EQ(out.size(), c.size);
        for (std::size_t i = 0; i < c.points.size(); ++i) {
            expectPoint(out[i], c.points[i].x, c.points[i].y);
        }
    }
    // Many points: the step added up 996 times in float over some 8000 units drifts a few
    // hundredths, no more.
    const Polyline winding{{17.3f, 2000}, {1234.5f, 2100}, {4000, 4000}, {10, 3}};
    const Polyline many = resamplePolyline(winding, 997, polylineLengths(Frame{winding}).total);
    ASSERT_EQ(many.size(), 997u);
    EXPECT_NEAR(many.back().x, 10.0f, 0.05f);
    EXPECT_NEAR(many.back().y, 3.0f, 0.05f);
}

// Each frame's points shared among its polylines by length, the last taking the remainder;
// without any length, the dots share them; empty polylines get none; the count always holds.
TEST(ResampleFrame, SharesFollowLengthAndTheCountHolds) {
    const Polyline a{{0, 0}, {100, 0}};
    const Polyline b{{0, 10}, {100, 10}};
    const Polyline c{{0, 20}, {100, 20}};
    using Sizes = std::vector<std::size_t>;
    struct Case {
        const char* what;
        Frame frame;
        std::int32_t count;
        std::optional<Sizes> sizes; // none: only the total is checked
        std::size_t total;
    };
    const std::vector<Case> cases{
        {"no polylines", {}, 1000, Sizes{}, 0},
        {"one", {{{0, 0}, {10, 0}, {10, 10}}}, 1000, Sizes{1000}, 1000},
        {"three equal: the last takes the remainder", {a, b, c}, 1000, Sizes{333, 333, 334}, 1000},
        {"100 and 300 long", {a, {{0, 50}, {300, 50}}}, 8, Sizes{2, 6}, 8},
        {"empty and dot polylines keep their place",
         {{}, a, {{5, 5}}, b},
         10,
         Sizes{0, 5, 0, 5},
         10},
        // Each share rounds 0.5 up to 1, which would leave -1 for the last line.
        {"rounding up never hands out more", {a, b, c, {{0, 3}, {10, 3}}}, 2, Sizes{1, 1, 0, 0}, 2},
        // 0/0 would make each share NaN.
        {"no length: the dots share",
         {{{1, 1}}, {}, {{2, 2}, {2, 2}}, {{3, 3}}, {}},
         10,
         Sizes{3, 0, 3, 4, 0},
         10},
        {"only empty polylines", {{}, {}}, 10, Sizes{0, 0}, 0},
        {"a coordinate not a number", {{{0, 0}, {kNaN, 0}}, a}, 100, std::nullopt, 100},
        {"a length past float", {{{-3e38f, 0}, {3e38f, 0}}, a}, 100, std::nullopt, 100},
        {"a negative count", {a, a}, -10, Sizes{0, 0}, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const Frame out = resampleFrame(k.frame, k.count);
        ASSERT_EQ(out.size(), k.frame.size());
        EXPECT_EQ(pointCount(out), k.total);
        if (k.sizes) {
            Sizes sizes;
            for (const Polyline& p : out) {
                sizes.push_back(p.size());
            }
            EXPECT_EQ(sizes, *k.sizes);
            for (std::size_t i = 0; i < out.size(); ++i) { // each end point kept
                if (out[i].size() > 1) {
                    expectPoint(out[i].back(), k.frame[i].back().x, k.frame[i].back().y);
                }
            }
        }
    }
}

TEST(Colorize, KeepsShapeIncludingEmptyPolylines) {
    const Frame frame{{{1, 2}, {3, 4}}, {}, {{5, 6}}};
    const ColorFrame out = colorizeFrame(frame, {0.25f, 0.5f, 1.0f});
    ASSERT_EQ(out.size(), 3u);
    ASSERT_EQ(out[0].size(), 2u);
    EXPECT_TRUE(out[1].empty());
    ASSERT_EQ(out[2].size(), 1u);
    EXPECT_EQ(out[0][1].position, glm::vec2(3, 4));
    EXPECT_EQ(out[2][0].color, glm::vec3(0.25f, 0.5f, 1.0f));
    EXPECT_TRUE(colorizeFrame(Frame{}, glm::vec3(1)).empty());
}

TEST(Colorize, ByFunctionCallsOncePerPointInFrameOrder) {
    const Frame frame{{{1, 0}, {2, 0}}, {}, {{3, 0}}};
    std::vector<float> seen;
    const ColorFrame out = colorizeFrameBy(frame, [&seen](glm::vec2 p) {
        seen.push_back(p.x);
        return glm::vec3(p.x, 0, 0);
    });
    EXPECT_EQ(seen, (std::vector<float>{1, 2, 3}));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(out[1].empty());
    EXPECT_FLOAT_EQ(out[2][0].color.r, 3.0f);
}

TEST(ScaleFrame, ScalesAboutTheCentre) {
    const Frame frame{{{kCentre, kCentre}, {4095, 4095}, {0, 100}}, {}};
    const Frame same = scaleFrame(frame, 1.0f);
    EXPECT_EQ(same, frame);

    const Frame shrunk = scaleFrame(frame, 0.95f);
    ASSERT_EQ(shrunk.size(), 2u);
    EXPECT_TRUE(shrunk[1].empty());
    EXPECT_EQ(shrunk[0][0], glm::vec2(kCentre, kCentre));
    expectPoint(shrunk[0][1], 3992.6f, 3992.6f);
    expectPoint(shrunk[0][2], 102.35f, 197.35f);
}

TEST(SegmentIntersection, ReportsParameterAlongTheFirstSegment) {
    const SegmentHit cross = segmentIntersection({0, 0}, {10, 0}, {2.5f, -5}, {2.5f, 5});
    EXPECT_TRUE(cross.hit);
    EXPECT_FLOAT_EQ(cross.along, 0.25f);

    // Beyond the end of p: no hit, but the parameter is still handed back.
    const SegmentHit beyond = segmentIntersection({0, 0}, {10, 0}, {20, -5}, {20, 5});
    EXPECT_FALSE(beyond.hit);
    EXPECT_FLOAT_EQ(beyond.along, 2.0f);

    // Misses on q's side although p's parameter is in range.
    EXPECT_FALSE(segmentIntersection({0, 0}, {10, 0}, {5, 1}, {5, 5}).hit);
}

TEST(SegmentIntersection, EndpointsHitParallelAndCollinearNever) {
    EXPECT_TRUE(segmentIntersection({0, 0}, {10, 0}, {10, 0}, {10, 10}).hit);
    EXPECT_TRUE(segmentIntersection({0, 0}, {10, 10}, {0, 0}, {-5, 3}).hit);
    EXPECT_FALSE(segmentIntersection({0, 0}, {10, 0}, {0, 1}, {10, 1}).hit);
    EXPECT_FALSE(segmentIntersection({0, 0}, {10, 0}, {5, 0}, {15, 0}).hit);
    EXPECT_FALSE(segmentIntersection({0, 0}, {0, 0}, {0, 0}, {1, 1}).hit);
    EXPECT_FALSE(segmentIntersection({0, kNaN}, {10, 0}, {5, -1}, {5, 1}).hit);
}

} // namespace
} // namespace lumarok

#include "effects/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

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

TEST(ResamplePolyline, EndpointsForOneAndTwoPoints) {
    const Polyline line{{100, 200}, {300, 200}, {300, 500}};
    const Polyline one = resamplePolyline(line, 1, 500.0f);
    ASSERT_EQ(one.size(), 1u);
    expectPoint(one[0], 100, 200);
    const Polyline two = resamplePolyline(line, 2, 500.0f);
    ASSERT_EQ(two.size(), 2u);
    expectPoint(two[0], 100, 200);
    expectPoint(two[1], 300, 500);
}

TEST(ResamplePolyline, SpacesEvenlyAcrossVertices) {
    const Polyline corner{{0, 0}, {100, 0}, {100, 100}};
    const Polyline out = resamplePolyline(corner, 5, 200.0f);
    ASSERT_EQ(out.size(), 5u);
    expectPoint(out[0], 0, 0);
    expectPoint(out[1], 50, 0);
    expectPoint(out[2], 100, 0);
    expectPoint(out[3], 100, 50);
    expectPoint(out[4], 100, 100);
}

TEST(ResamplePolyline, DoesNotBunchOnZeroLengthSegments) {
    // Repeated vertices in the middle must be passed over, not collect points.
    const Polyline line{{0, 0}, {50, 0}, {50, 0}, {50, 0}, {100, 0}};
    const Polyline out = resamplePolyline(line, 5, 100.0f);
    ASSERT_EQ(out.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        expectPoint(out[static_cast<std::size_t>(i)], 25.0f * static_cast<float>(i), 0);
    }
}

TEST(ResamplePolyline, LastPointLandsOnTheEndWithManyPoints) {
    const Polyline line{{17.3f, 2000}, {1234.5f, 2100}, {4000, 4000}, {10, 3}};
    const float length = polylineLengths(Frame{line}).total;
    const Polyline out = resamplePolyline(line, 997, length);
    ASSERT_EQ(out.size(), 997u);
    // The step is added up 996 times in float over some 8000 units: a few
    // hundredths of drift are rounding, not a wrong walk.
    EXPECT_NEAR(out.back().x, 10.0f, 0.05f);
    EXPECT_NEAR(out.back().y, 3.0f, 0.05f);
}

TEST(ResamplePolyline, DegenerateInputsStayInsideTheirData) {
    const Polyline line{{0, 0}, {10, 0}};
    EXPECT_TRUE(resamplePolyline(line, 0, 10.0f).empty());
    EXPECT_TRUE(resamplePolyline(line, -5, 10.0f).empty());
    EXPECT_TRUE(resamplePolyline(Polyline{}, 7, 0.0f).empty());

    // A dot keeps its share: the point repeated.
    const Polyline dot = resamplePolyline(Polyline{{42, 43}}, 3, 0.0f);
    ASSERT_EQ(dot.size(), 3u);
    for (const glm::vec2 p : dot) {
        expectPoint(p, 42, 43);
    }

    // NaN coordinates or length: the requested count, nothing read past the end.
    const Polyline withNaN{{0, 0}, {kNaN, 5}, {10, 10}, {20, 20}};
    EXPECT_EQ(resamplePolyline(withNaN, 50, kNaN).size(), 50u);
    EXPECT_EQ(resamplePolyline(line, 50, kNaN).size(), 50u);
    EXPECT_EQ(resamplePolyline(line, 4, std::numeric_limits<float>::infinity()).size(), 4u);
}

TEST(ResampleFrame, SharesFollowLengthAndLastTakesTheRemainder) {
    EXPECT_TRUE(resampleFrame(Frame{}, 1000).empty());

    const Frame single{{{0, 0}, {10, 0}, {10, 10}}};
    const Frame one = resampleFrame(single, 1000);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].size(), 1000u);

    const Frame three{{{0, 0}, {100, 0}}, {{0, 10}, {100, 10}}, {{0, 20}, {100, 20}}};
    const Frame shared = resampleFrame(three, 1000);
    ASSERT_EQ(shared.size(), 3u);
    EXPECT_EQ(shared[0].size(), 333u);
    EXPECT_EQ(shared[1].size(), 333u);
    EXPECT_EQ(shared[2].size(), 334u);

    // 100 and 300 units: 8 points split 2 and 6; each end point kept.
    const Frame uneven{{{0, 0}, {100, 0}}, {{0, 50}, {300, 50}}};
    const Frame split = resampleFrame(uneven, 8);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0].size(), 2u);
    EXPECT_EQ(split[1].size(), 6u);
    expectPoint(split[1].back(), 300, 50);
}

TEST(ResampleFrame, EmptyAndDotPolylinesKeepTheirPlace) {
    const Frame frame{{}, {{0, 0}, {100, 0}}, {{5, 5}}, {{0, 9}, {100, 9}}};
    const Frame out = resampleFrame(frame, 10);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_TRUE(out[0].empty());
    EXPECT_TRUE(out[2].empty()); // zero length, zero share
    EXPECT_EQ(pointCount(out), 10u);
}

TEST(ResampleFrame, RoundingUpNeverHandsOutMoreThanN) {
    // Four equal lines, 2 points: each share rounds 0.5 up to 1, which would
    // leave -1 for the last line. The count stays exactly 2 and never negative.
    const Frame four{{{0, 0}, {10, 0}}, {{0, 1}, {10, 1}}, {{0, 2}, {10, 2}}, {{0, 3}, {10, 3}}};
    const Frame out = resampleFrame(four, 2);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].size(), 1u);
    EXPECT_EQ(out[1].size(), 1u);
    EXPECT_TRUE(out[2].empty());
    EXPECT_TRUE(out[3].empty());
}

TEST(ResampleFrame, ZeroTotalLengthSharesEquallyAmongDots) {
    // 0/0 would make each share NaN; the dots share the points instead and empty
    // polylines get none, so the count still holds.
    const Frame dots{{{1, 1}}, {}, {{2, 2}, {2, 2}}, {{3, 3}}, {}};
    const Frame out = resampleFrame(dots, 10);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0].size(), 3u);
    EXPECT_TRUE(out[1].empty());
    EXPECT_EQ(out[2].size(), 3u);
    EXPECT_EQ(out[3].size(), 4u);
    EXPECT_TRUE(out[4].empty());
    expectPoint(out[3].front(), 3, 3);

    EXPECT_EQ(pointCount(resampleFrame(Frame{{}, {}}, 10)), 0u);
}

TEST(ResampleFrame, NaNAndNegativeInputsStaySound) {
    const Frame withNaN{{{0, 0}, {kNaN, 0}}, {{0, 0}, {100, 0}}};
    const Frame out = resampleFrame(withNaN, 100);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(pointCount(out), 100u);

    const Frame huge{{{-3e38f, 0}, {3e38f, 0}}, {{0, 0}, {100, 0}}};
    EXPECT_EQ(pointCount(resampleFrame(huge, 100)), 100u);

    const Frame lines{{{0, 0}, {100, 0}}, {{0, 0}, {100, 0}}};
    const Frame negative = resampleFrame(lines, -10);
    ASSERT_EQ(negative.size(), 2u);
    EXPECT_EQ(pointCount(negative), 0u);
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

#include "clock/remap_time.hpp"

#include <gtest/gtest.h>

namespace lumarok {
namespace {

TEST(RemapTime, InterpolatesBetweenPointsAndRunsOnAtSlopeOneAfterTheLast) {
    // remap.txt lines "1 1" and "61 121".
    const RemapTable table{{0.0, 0.0}, {1.0, 2.0}};
    EXPECT_DOUBLE_EQ(remapTime(table, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(remapTime(table, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(remapTime(table, 2.0), 1.0);
    EXPECT_DOUBLE_EQ(remapTime(table, 3.0), 2.0);
}

TEST(RemapTime, AtAPointsOwnClockTimeTheSegmentToItsRightIsUsed) {
    const RemapTable table{{0.0, 0.0}, {10.0, 1.0}, {11.0, 3.0}};
    EXPECT_DOUBLE_EQ(remapTime(table, 1.0), 10.0);
    EXPECT_DOUBLE_EQ(remapTime(table, 2.0), 10.5);
    // Two points at one clock time: the later one starts the next segment.
    const RemapTable jump{{0.0, 0.0}, {5.0, 1.0}, {20.0, 1.0}, {21.0, 2.0}};
    EXPECT_DOUBLE_EQ(remapTime(jump, 0.5), 2.5);
    EXPECT_DOUBLE_EQ(remapTime(jump, 1.0), 20.0);
    EXPECT_DOUBLE_EQ(remapTime(jump, 1.5), 20.5);
}

TEST(RemapTime, SinglePointShiftsEveryTime) {
    EXPECT_DOUBLE_EQ(remapTime({{0.0, 0.0}}, 7.25), 7.25);
    EXPECT_DOUBLE_EQ(remapTime({{4.0, 1.0}}, 3.0), 6.0);
}

TEST(RemapTime, EmptyTableReturnsTheClockTime) {
    EXPECT_DOUBLE_EQ(remapTime({}, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(remapTime({}, 12.5), 12.5);
    EXPECT_DOUBLE_EQ(remapTime({}, -3.0), -3.0);
}

TEST(RemapTime, BeforeTheFirstPointRunsAtSlopeOneFromIt) {
    const RemapTable table{{10.0, 2.0}, {20.0, 4.0}};
    EXPECT_DOUBLE_EQ(remapTime(table, 1.0), 9.0);
    EXPECT_DOUBLE_EQ(remapTime(table, -5.0), 3.0);
    // Continuous at the first point.
    EXPECT_DOUBLE_EQ(remapTime(table, 2.0), 10.0);
}

} // namespace
} // namespace lumarok

#include "clock/remap_time.hpp"

#include <gtest/gtest.h>

namespace lumarok {
namespace {

// Points are (show time, clock time). Between points the show time is interpolated; before
// the first and after the last it runs on at slope one; at a point's own clock time the
// segment to its right counts (two points at one clock time: a jump).
TEST(RemapTime, ClockTimeBecomesShowTime) {
    const RemapTable lines{{0.0, 0.0}, {1.0, 2.0}}; // remap.txt lines "1 1" and "61 121"
    const RemapTable steps{{0.0, 0.0}, {10.0, 1.0}, {11.0, 3.0}};
    const RemapTable jump{{0.0, 0.0}, {5.0, 1.0}, {20.0, 1.0}, {21.0, 2.0}};
    const RemapTable late{{10.0, 2.0}, {20.0, 4.0}};
    const struct {
        RemapTable table;
        double clock;
        double show;
    } cases[] = {
        {lines, 0.0, 0.0},
        {lines, 1.0, 0.5},
        {lines, 2.0, 1.0},
        {lines, 3.0, 2.0},
        {steps, 1.0, 10.0},
        {steps, 2.0, 10.5},
        {jump, 0.5, 2.5},
        {jump, 1.0, 20.0},
        {jump, 1.5, 20.5},
        {late, 1.0, 9.0},
        {late, -5.0, 3.0},
        {late, 2.0, 10.0},
        {{{0.0, 0.0}}, 7.25, 7.25},
        {{{4.0, 1.0}}, 3.0, 6.0}, // one point shifts every time
        {{}, 0.0, 0.0},
        {{}, 12.5, 12.5},
        {{}, -3.0, -3.0}, // none: the clock time
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(remapTime(c.table, c.clock), c.show) << c.clock;
    }
}

} // namespace
} // namespace lumarok

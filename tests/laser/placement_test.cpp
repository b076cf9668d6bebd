#include "laser/placement.hpp"

#include "core/laser_sample.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumarok {
namespace {

TEST(Placement, WordsAreReadInAnyOrderAndFaultsAreRefused) {
    const Placement p = parsePlacement("offset=-10.5:20,scale=0.8,rotate=-90,flip-y,flip-x");
    EXPECT_TRUE(p.flipX && p.flipY);
    EXPECT_EQ(p.quarterTurns, 3);
    EXPECT_FLOAT_EQ(p.scale, 0.8f);
    EXPECT_FLOAT_EQ(p.offsetX, -10.5f);
    EXPECT_FLOAT_EQ(p.offsetY, 20.0f);
    EXPECT_TRUE(parsePlacement("rotate=360").identity());
    for (const char* bad :
         {"", "flip-x,", "flip-x,flip-x", "flip-x=1", "rotate", "rotate=1e9", "scale=0", "scale=-1",
          "scale=nan", "scale=17", "offset=3", "offset=1:x", "offset=9000:0", "mirror"}) {
        EXPECT_THROW((void)parsePlacement(bad), std::invalid_argument) << bad;
    }
}

// Sample coordinates mirror the drawing space: drawing (x, y) is sample (4095-x, 4095-y).
LaserSample at(int drawingX, int drawingY) {
    return {static_cast<std::uint16_t>(4095 - drawingX),
            static_cast<std::uint16_t>(4095 - drawingY), 100, 200, 300};
}

TEST(Placement, MovesSamplesInDrawingUnitsAndDarkensWhatLeavesTheRange) {
    const struct {
        const char* placement;
        LaserSample in;
        LaserSample out;
    } cases[] = {
        {"flip-x", at(100, 200), at(3995, 200)},
        {"flip-y", at(100, 200), at(100, 3895)},
        {"rotate=90", at(3047, 2047), at(2047, 3047)}, // right of the centre goes below it
        {"rotate=180", at(3047, 2047), at(1047, 2047)},
        {"scale=0.5", at(4047, 47), at(3047, 1047)},
        {"offset=10:-20", at(100, 200), at(110, 180)},
        {"flip-x,offset=10:0", at(100, 200), at(4005, 200)}, // mirrored before it is moved
        {"offset=100:0", at(4000, 200), LaserSample{0, 3895, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::vector<LaserSample> placed;
        placeSamples(parsePlacement(c.placement), std::vector<LaserSample>{c.in}, placed);
        ASSERT_EQ(placed.size(), 1u);
        const LaserSample& s = placed[0];
        EXPECT_EQ((std::vector<int>{s.x, s.y, s.r, s.g, s.b}),
                  (std::vector<int>{c.out.x, c.out.y, c.out.r, c.out.g, c.out.b}))
            << c.placement;
    }
}

// Any angle: the point turns about the centre as cos/sin say, to within rounding.
TEST(Placement, TurnsByAnyAngleAboutTheCentre) {
    for (const double degrees : {12.5, -30.0, 45.0, 200.25}) {
        const double angle = degrees * 3.14159265358979323846 / 180.0;
        const double x = 3000.0 - 2047.0; // drawing units from the centre
        const double y = 1500.0 - 2047.0;
        const long wantX = std::lround(2047.0 + x * std::cos(angle) - y * std::sin(angle));
        const long wantY = std::lround(2047.0 + x * std::sin(angle) + y * std::cos(angle));
        std::vector<LaserSample> placed;
        placeSamples(parsePlacement("rotate=" + std::to_string(degrees)),
                     std::vector<LaserSample>{at(3000, 1500)}, placed);
        EXPECT_NEAR(4095 - placed[0].x, wantX, 1) << degrees;
        EXPECT_NEAR(4095 - placed[0].y, wantY, 1) << degrees;
    }
}

} // namespace
} // namespace lumarok

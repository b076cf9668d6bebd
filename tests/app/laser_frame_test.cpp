#include "app/laser_frame.hpp"
#include "app/laser_loop.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

namespace lumarok {
namespace {

TEST(LaserPointSpacing, GrowsFromTwentyFiveToSeventyBetween18000And30000) {
    EXPECT_FLOAT_EQ(laserPointSpacing(0.0f), 25.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(18000.0f), 25.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(24000.0f), 47.5f);
    EXPECT_FLOAT_EQ(laserPointSpacing(21000.0f), 36.25f);
    EXPECT_FLOAT_EQ(laserPointSpacing(30000.0f), 70.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(1.0e9f), 70.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(std::numeric_limits<float>::infinity()), 70.0f);
    // A broken total must not yield a spacing that would stall the path builder.
    EXPECT_FLOAT_EQ(laserPointSpacing(std::numeric_limits<float>::quiet_NaN()), 25.0f);
}

TEST(DarkSample, IsBlackAndMirroredLikeThePathBuilder) {
    const LaserSample origin = darkSampleAt({0.0f, 0.0f});
    EXPECT_EQ(origin.x, 4095);
    EXPECT_EQ(origin.y, 4095);
    EXPECT_EQ(origin.r + origin.g + origin.b, 0);
    const LaserSample inside = darkSampleAt({1000.7f, 3000.2f});
    EXPECT_EQ(inside.x, 3094); // 4095 - 1000.7 = 3094.3, truncated
    EXPECT_EQ(inside.y, 1094); // 4095 - 3000.2 = 1094.8, truncated
    const LaserSample outside = darkSampleAt({-20.0f, 5000.0f});
    EXPECT_EQ(outside.x, 4095);
    EXPECT_EQ(outside.y, 0);
}

TEST(LaserLoop, StopsWhenAskedAndEndsWithOneDarkFrameAtTheBeam) {
    std::atomic<bool> stop{false};
    int built = 0;
    std::vector<std::vector<LaserSample>> sent;
    const glm::vec2 last = runLaserLoop(
        stop,
        [&](std::vector<LaserSample>& samples, glm::vec2 beam) {
            // Each frame starts where the previous one ended.
            EXPECT_EQ(beam, glm::vec2(100.0f * static_cast<float>(built), 10.0f * built));
            ++built;
            samples.assign(3, LaserSample{1, 2, 4095, 4095, 4095});
            return glm::vec2(100.0f * static_cast<float>(built), 10.0f * built);
        },
        [&](const std::vector<LaserSample>& samples) {
            sent.push_back(samples);
            if (sent.size() == 4) {
                stop = true;
            }
        });
    EXPECT_EQ(built, 4);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(last, glm::vec2(400.0f, 40.0f));
    const std::vector<LaserSample>& dark = sent.back();
    ASSERT_EQ(dark.size(), kDarkFrameSamples);
    for (const LaserSample& s : dark) {
        EXPECT_EQ(s.x, 4095 - 400);
        EXPECT_EQ(s.y, 4095 - 40);
        EXPECT_EQ(s.r + s.g + s.b, 0);
    }
}

TEST(LaserLoop, StopBeforeFirstFrameStillDarkensTheBeamAtTheStart) {
    std::atomic<bool> stop{true};
    int sends = 0;
    runLaserLoop(
        stop,
        [](std::vector<LaserSample>&, glm::vec2) -> glm::vec2 {
            ADD_FAILURE() << "no frame may be built after a stop";
            return {};
        },
        [&](const std::vector<LaserSample>& samples) {
            ++sends;
            ASSERT_FALSE(samples.empty());
            EXPECT_EQ(samples.front().x, 4095);
        });
    EXPECT_EQ(sends, 1);
}

TEST(LaserLoop, ErrorWhileSendingLeavesTheLoop) {
    std::atomic<bool> stop{false};
    EXPECT_THROW(runLaserLoop(
                     stop, [](std::vector<LaserSample>&, glm::vec2 b) { return b; },
                     [](const std::vector<LaserSample>&) { throw std::runtime_error("sendto"); }),
                 std::runtime_error);
}

} // namespace
} // namespace lumarok

#include "app/laser_frame.hpp"
#include "app/laser_loop.hpp"
#include "laser/laser_path.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

ColorPolyline strokeOf(std::initializer_list<glm::vec2> points) {
    ColorPolyline stroke;
    for (const glm::vec2 p : points) {
        stroke.push_back({p, glm::vec3(1.0f)});
    }
    return stroke;
}

std::size_t pathSamples(const ColorFrame& frame, PathSteps steps) {
    std::vector<LaserSample> samples;
    buildLaserPath(frame, samples, {0.0f, 0.0f}, steps.pointSpacing, steps.blankStep,
                   glm::vec3(0.0f), 1.0f);
    return samples.size();
}

// Frames made the ways damaged data makes them: a very long outline, a point far
// off the drawing space, a crowd of strokes. Ordinary frames keep their steps.
TEST(FrameBudget, OnlyFramesPastTheBudgetAreRespacedAndThenFit) {
    const PathSteps wanted{25.0f, 30.0f};
    ColorFrame ordinary; // random strokes: the bound holds and is close
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coordinate(0.0f, 4095.0f);
    for (int k = 0; k < 60; ++k) {
        ordinary.push_back(strokeOf({{coordinate(rng), coordinate(rng)},
                                     {coordinate(rng), coordinate(rng)},
                                     {coordinate(rng), coordinate(rng)}}));
    }
    ColorFrame longOutline(1);
    for (int k = 0; k < 65536; ++k) {
        longOutline[0].push_back({glm::vec2(k % 2 == 0 ? 0.0f : 4095.0f, 2000.0f), glm::vec3(1)});
    }
    const ColorFrame farPoint{strokeOf({{100, 100}, {200, 1.6e10f}, {300, 100}, {100, 100}}),
                              strokeOf({{1000, 1000}, {1100, 1000}})};
    ColorFrame crowd;
    for (int k = 0; k < 20000; ++k) {
        const float x = k % 2 == 0 ? 0.0f : 4095.0f;
        crowd.push_back(strokeOf({{x, 0}, {x, 4095}}));
    }

    const std::size_t ordinarySamples = pathSamples(ordinary, wanted);
    const double bound = pathSampleBound(ordinary, {0.0f, 0.0f}, wanted);
    EXPECT_GE(bound, static_cast<double>(ordinarySamples));
    EXPECT_LE(bound, 1.25 * static_cast<double>(ordinarySamples));
    const PathSteps kept = stepsWithinBudget(ordinary, {0.0f, 0.0f}, wanted);
    EXPECT_EQ(kept.pointSpacing, wanted.pointSpacing);
    EXPECT_EQ(kept.blankStep, wanted.blankStep);

    testing::internal::CaptureStderr();
    for (const ColorFrame* frame :
         std::vector<const ColorFrame*>{&longOutline, &farPoint, &crowd}) {
        const PathSteps steps = stepsWithinBudget(*frame, {0.0f, 0.0f}, wanted);
        EXPECT_GT(steps.pointSpacing, wanted.pointSpacing);
        EXPECT_FLOAT_EQ(steps.blankStep / steps.pointSpacing,
                        wanted.blankStep / wanted.pointSpacing);
        const std::size_t samples = pathSamples(*frame, steps);
        EXPECT_LE(samples, kFrameSampleBudget);
        EXPECT_GT(samples,
                  frame == &crowd ? 0u : kFrameSampleBudget / 2); // a crowd keeps its moves
    }
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.rfind("lumarok: a frame of up to ", 0), 0u) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << "rate-limited: " << report;
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

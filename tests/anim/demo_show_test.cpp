// The bundled show in data/ read by the real loader and sampler: it must load
// silently and give the player something drawable at every moment.
#include "anim/animation.hpp"
#include "anim/remap_loader.hpp"
#include "anim/sampler.hpp"

#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace lumarok {
namespace {

std::filesystem::path demoDir() {
    return test::sourceDir() + "/data";
}

const Animation& demoShow() {
    static const Animation animation(demoDir());
    return animation;
}

float pathLength(const Frame& frame) {
    float total = 0.0F;
    for (const Polyline& line : frame) {
        for (std::size_t i = 1; i < line.size(); ++i) {
            total += std::hypot(line[i].x - line[i - 1].x, line[i].y - line[i - 1].y);
        }
    }
    return total;
}

TEST(DemoShow, LoadsWithoutAnyMessage) {
    testing::internal::CaptureStdout();
    const Animation animation(demoDir());
    const RemapTable remap = loadRemapTable(demoDir() / "remap.txt");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_GE(animation.sequence.size(), 20U);
    ASSERT_GE(remap.size(), 2U);
    EXPECT_EQ(remap.front().first, 0.0);
    EXPECT_EQ(remap.front().second, 0.0);
    for (std::size_t i = 1; i < remap.size(); ++i) {
        EXPECT_GT(remap[i].first, remap[i - 1].first);
        EXPECT_GT(remap[i].second, remap[i - 1].second);
    }
}

TEST(DemoShow, ClipsReadOnlyFramesOfTheirScenes) {
    const Animation& animation = demoShow();
    for (const SequenceEntry& entry : animation.sequence) {
        const auto frames =
            static_cast<std::int32_t>(animation.scenes.at(entry.sceneIndex).frames.size());
        const std::int32_t low = std::min(entry.firstFrame, entry.lastFrame);
        const std::int32_t high = std::max(entry.firstFrame, entry.lastFrame);
        EXPECT_GE(low, 0) << "clip at " << entry.startSeconds << " s";
        EXPECT_LT(high, frames) << "clip at " << entry.startSeconds << " s";
    }
}

TEST(DemoShow, MaskTimeShowsALargeClosedOutlineFirst) {
    const Frame frame = sampleAnimation(demoShow(), 2.039);
    ASSERT_FALSE(frame.empty());
    const Polyline& mask = frame.front();
    ASSERT_GE(mask.size(), 4U);
    EXPECT_EQ(mask.front(), mask.back());
    const auto [minX, maxX] =
        std::minmax_element(mask.begin(), mask.end(), [](auto a, auto b) { return a.x < b.x; });
    const auto [minY, maxY] =
        std::minmax_element(mask.begin(), mask.end(), [](auto a, auto b) { return a.y < b.y; });
    EXPECT_GT(maxX->x - minX->x, 2000.0F);
    EXPECT_GT(maxY->y - minY->y, 2000.0F);
}

TEST(DemoShow, EveryFrameOfTheShowIsDrawable) {
    int longFrames = 0;
    int frames = 0;
    for (double t = 0.02; t < 230.0; t += 0.04, ++frames) {
        const Frame frame = sampleAnimation(demoShow(), t);
        ASSERT_FALSE(frame.empty()) << "nothing plays at " << t << " s";
        const float length = pathLength(frame);
        EXPECT_LT(length, 30000.0F) << "at " << t << " s";
        longFrames += length > 18000.0F ? 1 : 0;
        for (const Polyline& line : frame) {
            for (const auto& p : line) {
                ASSERT_TRUE(p.x >= -500.0F && p.x <= 4600.0F && p.y >= -500.0F && p.y <= 4600.0F)
                    << "(" << p.x << ", " << p.y << ") at " << t << " s";
            }
        }
    }
    EXPECT_LT(longFrames, frames / 10);
}

} // namespace
} // namespace lumarok

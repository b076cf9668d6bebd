#include "laser/ilda_show.hpp"

#include "laser/ilda_reader.hpp"
#include "laser/laser_frame.hpp"
#include "support/ilda_bytes.hpp"
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {
namespace {

int widen(int level) {
    return 16 * level + level / 256 - 32768;
}

// A file of `frames` frames; frame k's points sit at x = 100 k + i.
std::string framesFile(int frames, int points = 2) {
    std::string bytes;
    for (int k = 0; k < frames; ++k) {
        std::vector<test::IldaTestPoint> list;
        for (int i = 0; i < points; ++i) {
            test::IldaTestPoint p;
            p.x = widen(4095 - (100 * k + i % 50));
            p.y = widen(2000);
            p.red = 255;
            p.green = 128;
            p.blanked = i == 0;
            list.push_back(p);
        }
        test::appendIldaFrame(bytes, 5, list);
    }
    test::appendIldaEnd(bytes);
    return bytes;
}

class IldaShowTest : public ::testing::Test {
protected:
    test::TempDir dir;

    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = dir.path() / name;
        test::writeFile(path.string(), bytes);
        return path;
    }
};

TEST_F(IldaShowTest, FramesFollowTheClockAcrossFiles) {
    const std::vector<std::filesystem::path> files{file("a.ild", framesFile(2)),
                                                   file("b.ild", framesFile(1))};
    const IldaShow once(files, {10.0, false, 1.0f}, nullptr);
    const IldaShow looped(files, {10.0, true, 1.0f}, nullptr);
    ASSERT_EQ(once.frameCount(), 3u);
    EXPECT_DOUBLE_EQ(once.endSeconds(), 0.3);
    struct Case {
        double clock;
        std::optional<std::size_t> once, looped;
    };
    const std::optional<std::size_t> dark;
    for (const Case& c : {Case{-0.05, dark, dark}, Case{0.0, 0, 0}, Case{0.0999, 0, 0},
                          Case{1.0 / 10.0, 1, 1}, Case{2.0 / 10.0, 2, 2}, Case{0.3, dark, 0},
                          Case{1.05, dark, 1}, Case{NAN, dark, dark}, Case{INFINITY, dark, dark}}) {
        SCOPED_TRACE(c.clock);
        EXPECT_EQ(once.frameAt(c.clock), c.once);
        EXPECT_EQ(looped.frameAt(c.clock), c.looped);
    }
    EXPECT_EQ(once.describe(2), files[1].string() + " frame 0");
}

TEST_F(IldaShowTest, FrameIsABlankMoveThenThePointsAsTheyAre) {
    IldaShow show({file("a.ild", framesFile(2, 4))}, {30.0, false, 1.0f}, nullptr);
    std::vector<LaserSample> samples;
    // Frame 1 starts at drawing x = 4095 - 100, y = 4095 - 2000 (x 100, y 2000 for the
    // projector); from (0, 0) the move is round(distance / 30) dark samples long.
    const glm::vec2 end = show.buildFrame(1.0 / 30.0, samples, {0.0f, 0.0f});
    const int moves = static_cast<int>(std::round(std::hypot(3995.0, 2095.0) / kBlankStep));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(moves) + 4);
    for (int i = 0; i < moves; ++i) {
        EXPECT_EQ(samples[i].r + samples[i].g + samples[i].b, 0);
    }
    EXPECT_EQ(samples[moves - 1].x, 100);
    EXPECT_EQ(samples[moves - 1].y, 2000);
    for (int i = 0; i < 4; ++i) {
        const LaserSample& s = samples[static_cast<std::size_t>(moves + i)];
        EXPECT_EQ(s.x, 100 + i);
        EXPECT_EQ(s.y, 2000);
        EXPECT_EQ(s.r, i == 0 ? 0 : 4095);
        EXPECT_EQ(s.g, i == 0 ? 0 : ildaLevelFromColor(128));
    }
    EXPECT_EQ(end, glm::vec2(4095.0f - 103.0f, 4095.0f - 2000.0f));

    // -i scales the colours; after the last frame the beam stays where it is, dark.
    show.setIntensity(0.5f);
    (void)show.buildFrame(1.0 / 30.0, samples, end);
    EXPECT_EQ(samples.back().r, 2047);
    EXPECT_EQ(show.buildFrame(2.0 / 30.0, samples, end), end);
    EXPECT_TRUE(samples.empty());
}

TEST_F(IldaShowTest, TheLargestFrameFitsTheBudgetFromAnyBeam) {
    const IldaShow show({file("big.ild", framesFile(1, 65535))}, {}, nullptr);
    std::vector<LaserSample> samples;
    for (const glm::vec2 beam : {glm::vec2(0.0f), glm::vec2(-1e9f, 1e9f), glm::vec2(NAN)}) {
        (void)show.buildFrame(0.0, samples, beam);
        EXPECT_LE(samples.size(), kFrameSampleBudget);
        EXPECT_GT(samples.size(), kFrameSampleBudget / 2);
    }
}

} // namespace
} // namespace lumarok

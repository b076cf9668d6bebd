// The repository's show, loaded and sampled the way the player walks it.
#include "anim/animation.hpp"
#include "anim/sampler.hpp"

#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace lumarok {
namespace {

// Moments at which some clip starts or ends exactly: with strict activity
// bounds those clips draw nothing there.
bool atClipBoundary(const Animation& animation, double t) {
    for (const SequenceEntry& entry : animation.sequence) {
        const double frames = std::abs(double(entry.lastFrame) - entry.firstFrame) + 1.0;
        const double end = entry.startSeconds + frames * 0.04;
        if (std::abs(t - entry.startSeconds) < 1e-9 || std::abs(t - end) < 1e-9) {
            return true;
        }
    }
    return false;
}

TEST(ShowSampling, EveryFortyMillisecondsStaysQuietAndInRange) {
    const std::filesystem::path dataDir = test::sourceDir() + "/data";
    if (!std::filesystem::exists(dataDir / "Sequence.txt")) {
        GTEST_SKIP() << "no show in " << dataDir;
    }
    testing::internal::CaptureStdout();
    const Animation animation(dataDir);
    std::vector<double> emptyTimes;
    std::size_t outside = 0;
    for (int k = 0; k <= 5750; ++k) {
        const double t = k * 0.04;
        const Frame frame = sampleAnimation(animation, t);
        if (frame.empty()) {
            emptyTimes.push_back(t);
        }
        for (const Polyline& polyline : frame) {
            for (const glm::vec2& p : polyline) {
                const bool inside =
                    p.x >= -500.0f && p.x <= 4600.0f && p.y >= -500.0f && p.y <= 4600.0f;
                if (!inside && outside++ < 5) {
                    ADD_FAILURE() << "(" << p.x << ", " << p.y << ") at " << t << " s";
                }
            }
        }
    }
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(outside, 0u);

    std::ostringstream list;
    for (const double t : emptyTimes) {
        list << (list.tellp() > 0 ? " " : "") << t;
        EXPECT_TRUE(atClipBoundary(animation, t)) << "a gap in the show at " << t << " s";
    }
    RecordProperty("empty_frame_times", list.str());
    std::fprintf(stderr, "empty frames at: %s\n", list.str().c_str());
}

} // namespace
} // namespace lumarok

#include "clock/run_on.hpp"
#include "output/play_moment.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace lumarok {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(RunOn, AHeardTimeRunsOnAtTheClocksRateWithinItsCapUnlessItStands) {
    const struct {
        double since, cap;
        bool standing;
        double expected;
    } cases[] = {
        {0.25, 2.0, false, 10.25}, {-0.5, 2.0, false, 9.5}, {5.0, 2.0, false, 12.0},
        {-5.0, 2.0, false, 8.0},   {5.0, 1.0, false, 11.0}, {0.25, 2.0, true, 10.0},
        {0.25, 0.0, false, 10.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(runOn(10.0, c.since, c.cap, c.standing), c.expected) << c.since;
    }
}

TEST(PlayMoment, TheFirstSamplePlaysAfterWhatTheDeviceHoldsAtLeastTheReserve) {
    const PlayClock::time_point now{std::chrono::seconds(100)};
    // 1,500 samples at 30,000/s: 50 ms; more held, longer; less, brought up to the reserve.
    EXPECT_EQ(playMoment(now, 1500, 1500, 30000), now + milliseconds(50));
    EXPECT_EQ(playMoment(now, 3000, 1500, 30000), now + milliseconds(100));
    EXPECT_EQ(playMoment(now, 300, 1500, 30000), now + milliseconds(50));
    EXPECT_EQ(playMoment(now, 1500, 1500, 20000), now + milliseconds(75));
    EXPECT_EQ(playMoment(now, 1500, 1500, 0), now);
}

// Least 750 (half the reserve below it), ceiling 4,000, 30,000 samples/s.
TEST(PlayMoment, TheLeadMakesTheFrameStartAtItsMomentWithinLeastAndCeiling) {
    const PlayClock::time_point now{std::chrono::seconds(100)};
    const struct {
        PlayClock::duration until;
        std::int32_t queued;
        std::size_t lead;
    } cases[] = {
        {milliseconds(40), 1200, 0},    // came for its own moment: played on from the queue
        {milliseconds(60), 1200, 600},  // a later moment another projector named
        {milliseconds(20), 500, 250},   // late: only up to the least
        {milliseconds(-30), 100, 650},  // past: the same
        {milliseconds(500), 1000, 3000} // far: up to the ceiling
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadToMoment(now, now + c.until, c.queued, 750, 30000, 4000), c.lead) << c.queued;
    }
    EXPECT_EQ(leadToMoment(now, now + milliseconds(60), -1, 750, 30000, 4000), 1800u);
    EXPECT_EQ(leadToMoment(now, now + milliseconds(60), 500, 750, 0, 4000), 250u);
}

TEST(PlayMoment, ThePreviewIsSeenOneSmoothedRefreshOn) {
    RefreshInterval refresh;
    PlayClock::time_point now{std::chrono::seconds(100)};
    EXPECT_EQ(refresh.shownAt(now) - now, nanoseconds(16'666'667)); // 60/s at first
    for (int i = 0; i < 200; ++i) {
        now += milliseconds(10);
        (void)refresh.shownAt(now);
    }
    now += milliseconds(10);
    EXPECT_NEAR(std::chrono::duration<double>(refresh.shownAt(now) - now).count(), 0.010, 1e-4);
    now += std::chrono::seconds(5); // a stall counts as 100 ms at most
    EXPECT_LT(refresh.shownAt(now) - now, milliseconds(25));
}

} // namespace
} // namespace lumarok

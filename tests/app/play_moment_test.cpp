#include "app/play_moment.hpp"
#include "clock/run_on.hpp"

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
    // 1,500 samples at 30,000/s: 50 ms; more held, longer; less, the lead brings it up.
    EXPECT_EQ(playMoment(now, 1500, 1500, 30000, milliseconds(20)), now + milliseconds(70));
    EXPECT_EQ(playMoment(now, 3000, 1500, 30000, milliseconds(20)), now + milliseconds(120));
    EXPECT_EQ(playMoment(now, 300, 1500, 30000, nanoseconds(0)), now + milliseconds(50));
    EXPECT_EQ(playMoment(now, 1500, 1500, 20000, nanoseconds(0)), now + milliseconds(75));
    EXPECT_EQ(playMoment(now, 1500, 1500, 0, milliseconds(5)), now + milliseconds(5));
}

TEST(PlayMoment, TheLeadMakesTheFrameStartAtItsMomentWithinReserveAndCeiling) {
    const PlayClock::time_point now{std::chrono::seconds(100)};
    const struct {
        PlayClock::duration until;
        std::int32_t queued;
        std::size_t lead;
    } cases[] = {
        {milliseconds(60), 1200, 600},  // 1,800 samples to its moment, 1,200 held
        {milliseconds(50), 1500, 0},    // on its moment already
        {milliseconds(20), 1000, 500},  // late: only up to the reserve
        {milliseconds(-30), 1000, 500}, // past: the same
        {milliseconds(500), 1000, 3000} // far: up to the ceiling of 4,000
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadToMoment(now, now + c.until, c.queued, 1500, 30000, 4000), c.lead)
            << c.queued;
    }
    EXPECT_EQ(leadToMoment(now, now + milliseconds(60), -1, 1500, 30000, 4000), 1800u);
    EXPECT_EQ(leadToMoment(now, now + milliseconds(60), 1000, 1500, 0, 4000), 500u);
}

TEST(PlayMoment, TheWaitAllowedRisesAtOnceAndForgetsSlowlyWithinItsBounds) {
    FrameWaitAllowance allowance;
    EXPECT_EQ(allowance.value(), FrameWaitAllowance::kFirst);
    allowance.observe(milliseconds(35));
    EXPECT_EQ(allowance.value(), milliseconds(35));
    allowance.observe(milliseconds(3));
    EXPECT_EQ(allowance.value(), milliseconds(34));
    for (int i = 0; i < 1000; ++i) {
        allowance.observe(nanoseconds(0));
    }
    EXPECT_EQ(allowance.value(), FrameWaitAllowance::kLeast);
    allowance.observe(std::chrono::seconds(3));
    EXPECT_EQ(allowance.value(), FrameWaitAllowance::kMost);
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

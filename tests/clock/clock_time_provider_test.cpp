#include "clock/clock_time_provider.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace lumarok {
namespace {

TEST(ClockTimeProvider, CountsSecondsFromConstructionWithoutGoingBack) {
    ClockTimeProvider clock;
    const double first = clock.getTime();
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 1.0); // close to zero right after construction
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double second = clock.getTime();
    // Seconds, not milliseconds or nanoseconds: 20 ms of sleep show as at least 0.02.
    EXPECT_GE(second, first + 0.02);
    EXPECT_LT(second, 10.0);
    double previous = second;
    for (int i = 0; i < 1000; ++i) {
        const double now = clock.getTime();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(ClockTimeProvider, TimeAtIsTheSteadyClockExactly) {
    ClockTimeProvider clock;
    const auto now = std::chrono::steady_clock::now();
    const double at = clock.timeAt(now);
    EXPECT_DOUBLE_EQ(clock.timeAt(now + std::chrono::milliseconds(75)) - at, 0.075);
    EXPECT_DOUBLE_EQ(at - clock.timeAt(now - std::chrono::seconds(2)), 2.0);
    EXPECT_LE(at, clock.getTime());
}

} // namespace
} // namespace lumarok

// Playing time outside the pacing sleeps: what keeps a device that stopped
// reporting fed at its own rate.
#include "laser/pacing.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace lumarok {
namespace {

using namespace std::chrono_literals;
using Clock = IdleCredit::Clock;

TEST(IdleCredit, CreditsWhatTheDevicePlayedWhileTheSenderWasAway) {
    BufferEstimate estimate;
    estimate.bufferFree = 4000;
    IdleCredit idle;
    const Clock::time_point t0{};
    idle.credit(estimate, 6000, 30000, t0); // nothing to credit before the first pacing
    EXPECT_EQ(estimate.bufferFree.load(), 4000);
    idle.restart(estimate, t0);
    estimate.bufferFree -= 140; // a packet went out
    idle.credit(estimate, 6000, 30000, t0 + 10ms);
    EXPECT_EQ(estimate.bufferFree.load(), 4000 - 140 + 300);
}

TEST(IdleCredit, AReportSinceTheLastPacingWinsAndIsCreditedFromWhenItWasHeard) {
    BufferEstimate estimate;
    estimate.bufferFree = 4000;
    IdleCredit idle;
    const Clock::time_point t0{};
    idle.restart(estimate, t0);
    estimate.report(3000, t0 + 40ms);
    idle.credit(estimate, 6000, 30000, t0 + 50ms);
    EXPECT_EQ(estimate.bufferFree.load(), 3300) << "the device's own count is newer";
    idle.restart(estimate, t0 + 50ms);
    idle.credit(estimate, 6000, 30000, t0 + 60ms);
    EXPECT_EQ(estimate.bufferFree.load(), 3600);
}

TEST(IdleCredit, ALongPauseNeverPromisesMoreThanTheWholeBuffer) {
    BufferEstimate estimate;
    estimate.bufferFree = 1000;
    IdleCredit idle;
    const Clock::time_point t0{};
    idle.restart(estimate, t0);
    idle.credit(estimate, 6000, 30000, t0 + 10s);
    EXPECT_EQ(estimate.bufferFree.load(), 6000);
    estimate.bufferFree = 6500; // above the size, as a device may report at start
    idle.restart(estimate, t0 + 10s);
    idle.credit(estimate, 6000, 30000, t0 + 11s);
    EXPECT_EQ(estimate.bufferFree.load(), 6500) << "never lowered by a credit";
}

TEST(IdleCredit, UnknownRateCreditsNothing) {
    BufferEstimate estimate;
    estimate.bufferFree = 100;
    IdleCredit idle;
    idle.restart(estimate, Clock::time_point{});
    idle.credit(estimate, 6000, 0, Clock::time_point{} + 1s);
    EXPECT_EQ(estimate.bufferFree.load(), 100);
}

} // namespace
} // namespace lumarok

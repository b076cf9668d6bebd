#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace lumarok {

// How the sample packets arrived: the largest burst (packets less than 0.5 ms apart,
// which a wireless projector takes only so many of at once) and the most samples in
// any 100 ms (which shows a sender running ahead of the device's rate). Arrival times
// must come in order.
class ArrivalStats {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kBurstGap = std::chrono::microseconds(500);
    static constexpr Clock::duration kWindow = std::chrono::milliseconds(100);

    void packet(Clock::time_point arrival, std::uint64_t samples);

    [[nodiscard]] std::uint64_t largestBurst() const { return largest; }
    [[nodiscard]] std::uint64_t maxSamplesInWindow() const { return mostInWindow; }

private:
    bool any = false;
    Clock::time_point previous{};
    std::uint64_t burst = 0;
    std::uint64_t largest = 0;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> window; // the last 100 ms
    std::uint64_t inWindow = 0;
    std::uint64_t mostInWindow = 0;
};

} // namespace lumarok

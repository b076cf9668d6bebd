#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumarok {

// What may go on the wire to one device now, whatever the device reports: bursts of at
// most kMaxBurstPackets packets (a wireless unit takes about 20 back to back) with at
// least kBurstGap between them, and never more samples than the device plays, beyond
// a bucket of `capacity` samples that refills at its rate (the start-up fill and one
// frame's burst). A lying "all free" report can then not make the stream outrun the
// device. Thread: the sending thread.
class WireLimits {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxBurstPackets = 16;
    static constexpr std::chrono::microseconds kBurstGap{1000};

    struct Permit {
        std::size_t packets = 0;     // the first this many may go now
        Clock::time_point retryAt{}; // when none may: when to ask again
    };

    // Of the packets with these sample counts, how many may go at `now`.
    [[nodiscard]] Permit permit(std::span<const std::size_t> sampleCounts, std::int32_t sampleRate,
                                std::int32_t capacity, Clock::time_point now);
    // The first `sampleCounts.size()` packets went out at `now`.
    void sent(std::span<const std::size_t> sampleCounts, Clock::time_point now);
    // The next packet starts a burst of its own (after the gap).
    void endBurst() { burstPackets = kMaxBurstPackets; }

private:
    void refill(std::int32_t sampleRate, std::int32_t capacity, Clock::time_point now);

    double tokens = 0.0;
    bool started = false;
    Clock::time_point refilledAt{};
    std::size_t burstPackets = 0;
    Clock::time_point lastSent{};
};

} // namespace lumarok

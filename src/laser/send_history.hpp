#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lumarok {

// When the samples of a stream went out, for the last few hundred milliseconds: a report
// that took a while to come back does not yet count what was sent after the device wrote
// it. Written by the sending thread, read by whichever thread reads the device's reports;
// a reader racing a write sees the entry before or after it, never a torn one that
// matters (each field is atomic, and an entry is only used as a bound).
// Thread: record() on one thread; sentSince() from any. Wait-free.
class SendHistory {
public:
    using Clock = std::chrono::steady_clock;

    // `total` samples went out by `at`.
    void record(Clock::time_point at, std::uint64_t total);
    // Samples that went out after `since`, as far as the history reaches back.
    [[nodiscard]] std::uint64_t sentSince(Clock::time_point since) const;

private:
    static constexpr std::size_t kEntries = 128;
    struct Entry {
        std::atomic<Clock::rep> at{0};
        std::atomic<std::uint64_t> total{0};
    };
    std::array<Entry, kEntries> entries{};
    std::atomic<std::size_t> next{0};
};

} // namespace lumarok

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace lumarok {

// A counter that one side rings and the other waits on, without a lock: ringing is an
// atomic increment and one futex wake, so a real-time thread may ring it whatever the
// waiting thread is doing. Thread: any.
class Doorbell {
public:
    using Clock = std::chrono::steady_clock;

    // Wait-free.
    [[nodiscard]] std::uint32_t rings() const { return count.load(std::memory_order_acquire); }
    // Wait-free: one system call, no lock.
    void ring();
    // May block: until the count differs from `seen` or the deadline passes.
    void waitPast(std::uint32_t seen, Clock::time_point deadline) const;

private:
    std::atomic<std::uint32_t> count{0};
};

} // namespace lumarok

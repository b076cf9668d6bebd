#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>

namespace lumarok {

// Pacing against the device's buffer: a sender waits while the device is estimated to
// hold more than the reserve, kPacingReserve samples (50 ms at 30000 samples/s), or a
// quarter of a smaller buffer, so that the reserve and a frame's burst fit in it.
inline constexpr std::int32_t kPacingReserve = 1500;
[[nodiscard]] constexpr std::int32_t pacingReserve(std::int32_t bufferMax) {
    return bufferMax / 4 < kPacingReserve ? bufferMax / 4 : kPacingReserve;
}
// No single pacing sleep is longer than this, so a stop request is seen in time
// whatever the device reports.
inline constexpr std::chrono::milliseconds kLongestPacingSleep{20};

// Whether the device holds more than `reserve` samples (by default pacingReserve).
[[nodiscard]] bool needsPacing(std::int32_t bufferFree, std::int32_t bufferMax,
                               std::int32_t reserve = -1);
// Time the device needs to play `samples` samples, rounded up to a whole microsecond
// and capped at kLongestPacingSleep; 0 when the rate is unknown (0 or negative),
// which means no pacing at all.
[[nodiscard]] std::chrono::microseconds pacingSleep(std::int64_t samples, std::int32_t sampleRate);
// Samples the device plays in `elapsed`, rounded to the nearest sample.
[[nodiscard]] std::int32_t samplesPlayed(std::chrono::nanoseconds elapsed, std::int32_t sampleRate);

// The estimate shared with the thread that hears the device. A device report stores
// when it was heard, then the reported value, then bumps `reportSerial`: a reader that
// sees a value also sees its time or a later one, so it never credits too much.
struct BufferEstimate {
    using Clock = std::chrono::steady_clock;
    std::atomic<std::int32_t> bufferFree{0};
    std::atomic<std::uint32_t> reportSerial{0};
    std::atomic<Clock::rep> reportedAt{0}; // steady-clock ticks
    void report(std::int32_t free, Clock::time_point heard = Clock::now()) {
        reportedAt.store(heard.time_since_epoch().count());
        bufferFree.store(free);
        reportSerial.fetch_add(1);
    }
    [[nodiscard]] Clock::time_point lastReport() const {
        return Clock::time_point(Clock::duration(reportedAt.load()));
    }
};

// A report gives the device's count when it was sent; it has played on since. Adds
// what it played from the last report to `now`, never above bufferMax nor lowering
// the estimate. Thread: the sending thread.
void creditSinceReport(BufferEstimate& estimate, std::int32_t bufferMax, std::int32_t sampleRate,
                       BufferEstimate::Clock::time_point now);

// The time the sender spends away from pacing (rendering the next frame, sending)
// is playing time too, counted from the last pacing or from a device report that
// replaced the estimate since, so a device that stops reporting is still fed at the
// rate it plays instead of slowly running dry. Never above bufferMax: an idle pause must
// not turn into a burst larger than the buffer. Thread: the sending thread.
class IdleCredit {
public:
    using Clock = std::chrono::steady_clock;
    // Credits the time since the last `restart`, or since the last device report if one
    // came in between.
    void credit(BufferEstimate& estimate, std::int32_t bufferMax, std::int32_t sampleRate,
                Clock::time_point now) const;
    // Marks the end of a pacing step.
    void restart(const BufferEstimate& estimate, Clock::time_point now);

private:
    Clock::time_point since{};
    std::uint32_t serial = 0;
    bool started = false;
};

enum class PaceResult { ready, stopped, stalled };

// Waits before one packet until the estimate is back at or above the threshold: one
// sleep for the whole shortfall (capped at kLongestPacingSleep), again only when a
// device report says less was played. Each sleep credits what the device played
// meanwhile (measured, so an oversleep is not lost); when a device report replaced
// the estimate during the sleep, what it played since that report. `sleep(microseconds)`
// sleeps and returns the time that really passed; `now()` reads the clock of the
// reports; `stopped()` is asked before every sleep. Gives up with `stalled` once the
// sleeps add up to more than `stallAfter`.
// Thread: the sending thread.
template <typename Sleep, typename Now, typename Stopped>
PaceResult paceBeforePacket(BufferEstimate& estimate, std::int32_t bufferMax,
                            std::int32_t sampleRate, Sleep&& sleep, Now&& now, Stopped&& stopped,
                            std::chrono::nanoseconds stallAfter, int* sleeps = nullptr,
                            std::int32_t reserve = -1) {
    if (reserve < 0) {
        reserve = pacingReserve(bufferMax);
    }
    std::chrono::nanoseconds waited{0};
    while (sampleRate > 0) {
        const std::uint32_t serial = estimate.reportSerial.load();
        std::int32_t free = estimate.bufferFree.load();
        if (!needsPacing(free, bufferMax, reserve)) {
            break;
        }
        if (stopped()) {
            return PaceResult::stopped;
        }
        if (waited > stallAfter) {
            return PaceResult::stalled;
        }
        const std::int64_t shortfall =
            static_cast<std::int64_t>(bufferMax) - reserve - static_cast<std::int64_t>(free);
        const std::chrono::nanoseconds elapsed = sleep(pacingSleep(shortfall, sampleRate));
        waited += elapsed;
        if (sleeps != nullptr) {
            ++*sleeps;
        }
        if (estimate.reportSerial.load() == serial) {
            const std::int64_t credited =
                static_cast<std::int64_t>(free) + samplesPlayed(elapsed, sampleRate);
            const auto next = static_cast<std::int32_t>(
                std::min<std::int64_t>(credited, std::numeric_limits<std::int32_t>::max()));
            // Fails only when a report lands right now; the report wins.
            estimate.bufferFree.compare_exchange_strong(free, next);
        } else {
            creditSinceReport(estimate, bufferMax, sampleRate, now());
        }
    }
    return PaceResult::ready;
}

} // namespace lumarok

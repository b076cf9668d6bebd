#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace lumarok {

// Where the clock time of the show comes from (steady clock, OSC or timecode). Each
// clock says itself what it follows, so that a new kind is never taken for another.
class TimeProvider {
public:
    virtual ~TimeProvider() = default;

    // Clock time in seconds. Thread: the show's main thread only.
    [[nodiscard]] virtual double getTime() = 0;
    // The clock time at another moment on the steady clock (when a frame drawn now will
    // be seen), by the clock's own estimate. A clock that cannot tell gives its time now.
    // Thread: the show's main thread only.
    [[nodiscard]] virtual double timeAt(std::chrono::steady_clock::time_point moment) {
        (void)moment;
        return getTime();
    }

    // What the clock follows, as the status names it: "steady", "osc" or "ltc".
    [[nodiscard]] virtual const char* sourceName() const = 0;
    // What the clock waits to hear, for the operator's lines: "/Time", "timecode".
    [[nodiscard]] virtual const char* heardName() const = 0;
    // Seconds since the clock last heard a time; none before the first, 0 for a clock
    // that needs nothing to be heard. Thread: any.
    [[nodiscard]] virtual std::optional<double> silentSeconds() const = 0;
    // The clock's state in a few words for the preview's readout ("clock OSC
    // 0.0.0.0:8666", "waiting for LTC"). Thread: the show's main thread.
    [[nodiscard]] virtual std::string readoutText() const = 0;

protected:
    TimeProvider() = default;
    TimeProvider(const TimeProvider&) = default;
    TimeProvider& operator=(const TimeProvider&) = default;
};

// The clock's time now, or at `moment` when one is given (not zero).
[[nodiscard]] inline double clockTimeFor(TimeProvider& clock,
                                         std::chrono::steady_clock::time_point moment) {
    return moment == std::chrono::steady_clock::time_point{} ? clock.getTime()
                                                             : clock.timeAt(moment);
}

} // namespace lumarok

#pragma once

#include <chrono>

namespace lumarok {

// Where the clock time of the show comes from (steady clock or OSC).
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

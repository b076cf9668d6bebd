#pragma once

namespace lumarok {

// Where the clock time of the show comes from (steady clock or OSC).
class TimeProvider {
public:
    virtual ~TimeProvider() = default;

    // Clock time in seconds. Thread: the show's main thread only.
    [[nodiscard]] virtual double getTime() = 0;

protected:
    TimeProvider() = default;
    TimeProvider(const TimeProvider&) = default;
    TimeProvider& operator=(const TimeProvider&) = default;
};

} // namespace lumarok

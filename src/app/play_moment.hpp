#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lumarok {

// With --on-beat each frame is drawn for the moment its first sample leaves the projector.
// These are the sender's reckonings of that moment.

using PlayClock = std::chrono::steady_clock;

// When the first sample of a frame asked for at `now` will be played: after what the
// device holds (`queued`, the samples on their way to it included), at least the
// `reserve` the frame's dark lead brings it up to, and after `allowance`, the time the
// frame takes to be drawn and come back. A device of unknown rate (0) plays it at once.
[[nodiscard]] PlayClock::time_point playMoment(PlayClock::time_point now, std::int32_t queued,
                                               std::int32_t reserve, std::int32_t rate,
                                               std::chrono::nanoseconds allowance);

// The dark samples to lead a frame sent at `now` so that its first sample is played at
// `playsAt` on a device holding `queued` samples: never fewer than bring the device up to
// `reserve` (a frame come late plays late rather than starve the device), never more
// than bring it up to `ceiling` samples.
[[nodiscard]] std::size_t leadToMoment(PlayClock::time_point now, PlayClock::time_point playsAt,
                                       std::int32_t queued, std::int32_t reserve, std::int32_t rate,
                                       std::int32_t ceiling);

// How long the sender allows a frame to come after it asked: the longest wait seen
// lately, forgetting slowly (1/32 of the excess per frame), so that one slow render
// raises it at once and it settles back over a few seconds; within kLeast..kMost.
class FrameWaitAllowance {
public:
    static constexpr std::chrono::nanoseconds kLeast = std::chrono::milliseconds(2);
    static constexpr std::chrono::nanoseconds kFirst = std::chrono::milliseconds(20);
    static constexpr std::chrono::nanoseconds kMost = std::chrono::milliseconds(100);

    void observe(std::chrono::nanoseconds waited);
    [[nodiscard]] std::chrono::nanoseconds value() const { return current; }

private:
    std::chrono::nanoseconds current = kFirst;
};

// The preview's frame is seen one display refresh after it is drawn: the interval between
// its redraws, smoothed, within the preview's frame cap (120/s) and 100 ms.
class RefreshInterval {
public:
    // Called once per redraw; returns the moment the frame drawn now will be seen.
    PlayClock::time_point shownAt(PlayClock::time_point now);

private:
    PlayClock::time_point last{};
    std::chrono::nanoseconds smoothed = std::chrono::nanoseconds(16'666'667);
};

} // namespace lumarok

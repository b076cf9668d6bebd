#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lumarok {

// With --on-beat each frame is drawn for the moment its first sample leaves the projector.
// These are the sender's reckonings of that moment.

using PlayClock = std::chrono::steady_clock;

// When the first sample of a frame asked for at `now` will be played: after what the
// device holds (`queued`, the samples on their way to it included; at least the
// `reserve`, which a device run low is brought back up to) at its `rate`. The frame
// comes a few milliseconds later, when the device holds that much less: sent then
// without a dark lead, its first sample plays at this moment. A device of unknown rate
// (0) plays it at once.
[[nodiscard]] PlayClock::time_point playMoment(PlayClock::time_point now, std::int32_t queued,
                                               std::int32_t reserve, std::int32_t rate);

// The dark samples to lead a frame sent at `now` so that its first sample is played at
// `playsAt` on a device holding `queued` samples: never fewer than bring the device up to
// `least` (a frame come late plays late rather than let the device run low), never more
// than bring it up to `ceiling` samples.
[[nodiscard]] std::size_t leadToMoment(PlayClock::time_point now, PlayClock::time_point playsAt,
                                       std::int32_t queued, std::int32_t least, std::int32_t rate,
                                       std::int32_t ceiling);

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

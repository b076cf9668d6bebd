#pragma once

#include "output/projector_slot.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

class TimeProvider;

struct ProjectorHealth {
    std::string name; // the device's name, else the word it was chosen by
    double samplesPerSecond = 0.0;
    std::int32_t bufferFree = 0; // the sender's estimate of the device's free samples
    std::uint64_t underruns = 0; // reports of an empty buffer after a fuller one
    ProjectorState state = ProjectorState::waiting;
};

// live: the clock gives time (or holds the last, without a timeout); waiting: no time
// heard yet; stale: none for the timeout, the projectors are dark.
enum class ClockState { live, waiting, stale };
[[nodiscard]] const char* clockStateName(ClockState state);

// The state for a clock last heard `silentSeconds` ago (none: never), with the timeout
// (0: hold the last time for ever).
[[nodiscard]] ClockState clockStateFor(std::optional<double> silentSeconds, double timeoutSeconds);

// One reading of a show on several projectors, for the operator.
struct ShowHealth {
    double showSeconds = 0.0;
    std::string clockSource; // "steady", "osc" or "ltc"
    std::string clockHeard;  // what the clock waits for: "/Time", "timecode"
    bool clockLive = false;  // the clock gives time: state live
    ClockState clockState = ClockState::live;
    double clockSilentSeconds = 0.0; // since the last time heard (OSC, LTC)
    std::string control;             // what live control changed ("blackout"), else empty
    std::size_t entry = 0;
    std::string effectKind;
    double framesPerSecond = 0.0;
    std::vector<ProjectorHealth> projectors;
};

// The clock's source and state, with the --clock-timeout.
void describeClock(const TimeProvider& clock, double timeoutSeconds, ShowHealth& health);

// "show 1:02.5  entry 12 circle  30.0 frames/s  | alpha playing 30000 samples/s free 600
// underruns 0 | ..." without a line break.
[[nodiscard]] std::string formatHealthLine(const ShowHealth& health);

} // namespace lumarok

#pragma once

#include "app/projector_slot.hpp"

#include <cstddef>
#include <cstdint>
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

// One reading of a show on several projectors, for the operator.
struct ShowHealth {
    double showSeconds = 0.0;
    std::string clockSource; // "steady", "osc" or "ltc"
    bool clockLive = false;  // the steady clock, or time heard from the OSC or LTC source
    std::size_t entry = 0;
    std::string effectKind;
    double framesPerSecond = 0.0;
    std::vector<ProjectorHealth> projectors;
};

// The clock's source and whether it gives time yet.
void describeClock(const TimeProvider* clock, ShowHealth& health);

// "show 1:02.5  entry 12 circle  30.0 frames/s  | alpha playing 30000 samples/s free 600
// underruns 0 | ..." without a line break.
[[nodiscard]] std::string formatHealthLine(const ShowHealth& health);

} // namespace lumarok

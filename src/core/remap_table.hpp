#pragma once

#include <vector>

namespace lumarok {

// One row of remap.txt, both sides in seconds.
struct RemapPoint {
    double first = 0.0;  // show-time side (interpolated and returned)
    double second = 0.0; // clock-time side (compared against the clock)
};

using RemapTable = std::vector<RemapPoint>;

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <cstdint>
#include <span>

namespace lumarok::cube {

// A fingerprint of a frame that ignores its leading and trailing dark samples: the first are the
// move from wherever the previous frame left the beam, the last the dark end a frame has on the
// wire, so the same picture drawn after a different frame, or rendered, still matches.
inline std::uint64_t litSignature(std::span<const LaserSample> samples) {
    std::size_t first = 0;
    while (first < samples.size() && samples[first].r == 0 && samples[first].g == 0 &&
           samples[first].b == 0) {
        ++first;
    }
    // Up to the last lit sample: on the wire a frame ends on a dark one.
    std::size_t end = samples.size();
    while (end > first && samples[end - 1].r == 0 && samples[end - 1].g == 0 &&
           samples[end - 1].b == 0) {
        --end;
    }
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (std::size_t i = first; i < end; ++i) {
        for (const std::uint16_t v :
             {samples[i].x, samples[i].y, samples[i].r, samples[i].g, samples[i].b}) {
            hash = (hash ^ v) * 1099511628211ull;
        }
    }
    return hash;
}

} // namespace lumarok::cube

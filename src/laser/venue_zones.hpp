#pragma once

#include "core/laser_sample.hpp"
#include "laser/venue_stages.hpp"

#include <span>
#include <vector>

namespace lumarok {

// A polygon in the projector's output coordinates. Inside is even-odd: a point is
// inside when a ray from it crosses the outline an odd number of times, so a
// self-crossing outline is taken, its overlaps counting as outside.
enum class ZoneKind { keepOut, keepIn, attenuate };
struct Zone {
    ZoneKind kind = ZoneKind::keepOut;
    double level = 100.0; // attenuate: percent of the colour left inside
    std::vector<OutputPoint> points;
};

// Where a lit beam may be: outside every keep-out zone and, when there are keep-in
// zones, inside one of them. A point on an outline may be lit.
[[nodiscard]] bool mayBeLit(std::span<const Zone> zones, OutputPoint point);

// Whether the straight line from a to b keeps to where a lit beam may be.
[[nodiscard]] bool mayDrawLit(std::span<const Zone> zones, OutputPoint a, OutputPoint b);

// `out` becomes `in` with the zones applied: colours inside attenuate zones scaled
// down to their level, and no line between consecutive samples of which either is lit
// entering a keep-out zone or leaving the keep-in zones. A lit line that would is
// blanked from where it crosses an outline to where it comes back (dark samples are
// inserted at the crossings); dark moves cross freely.
void applyZones(std::span<const Zone> zones, std::span<const LaserSample> in,
                std::vector<LaserSample>& out);

} // namespace lumarok

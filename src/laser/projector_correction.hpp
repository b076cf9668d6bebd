#pragma once

#include "core/laser_sample.hpp"
#include "laser/placement.hpp"
#include "laser/static_guard.hpp"
#include "laser/venue_file.hpp"

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace lumarok {

// Everything one projector does to the shared frame on its way out, in this order:
// placement, corners, colour, zones. Built once from the command line's placement and
// the projector's venue entry (either may be absent); laser mode, --render and
// --export-ilda all use apply(), so that they give the same samples. The static-beam
// guard, which needs the time, follows it (staticGuard() gives its settings).
// Thread: apply() from one thread at a time (it keeps a scratch list).
class ProjectorCorrection {
public:
    ProjectorCorrection() = default;
    // Throws UsageError when both give a placement.
    ProjectorCorrection(const Placement& commandLine, const VenueEntry* entry,
                        const std::string& venuePath = {});

    void apply(std::span<const LaserSample> in, std::vector<LaserSample>& out) const;
    [[nodiscard]] const StaticGuardSettings& staticGuard() const { return guard; }
    [[nodiscard]] const std::vector<Zone>& zones() const { return fences; }

private:
    Placement placement;
    std::optional<CornerMap> corners;
    ColourBalance colour;
    std::vector<Zone> fences;
    StaticGuardSettings guard;
    mutable std::vector<LaserSample> scratch;
};

// Outlines of the zones as samples for the preview: a dark move to each outline's
// first point, then the outline lit (keep-out red, keep-in green, attenuate yellow).
void appendZoneOutlines(std::span<const Zone> zones, std::vector<LaserSample>& samples);

} // namespace lumarok

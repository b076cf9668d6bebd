#include "laser/projector_correction.hpp"

#include "core/usage_error.hpp"

#include <algorithm>
#include <cmath>

namespace lumarok {

namespace {

bool identityCorners(const std::array<OutputPoint, 4>& c) {
    const std::array<OutputPoint, 4> square{{{0, 0}, {4095, 0}, {4095, 4095}, {0, 4095}}};
    for (std::size_t i = 0; i < 4; ++i) {
        if (c[i].x != square[i].x || c[i].y != square[i].y) {
            return false;
        }
    }
    return true;
}

} // namespace

ProjectorCorrection::ProjectorCorrection(const Placement& commandLine, const VenueEntry* entry,
                                         const std::string& venuePath)
    : placement(commandLine) {
    if (entry == nullptr) {
        return;
    }
    if (entry->placement) {
        if (!commandLine.identity()) {
            throw UsageError("projector " + entry->key + " has a placement both on the command " +
                             "line and in " + (venuePath.empty() ? entry->where : venuePath) +
                             "; give one of them");
        }
        placement = *entry->placement;
    }
    // Neutral stages are left out, so that a neutral venue changes no byte.
    if (entry->corners && !identityCorners(*entry->corners)) {
        corners.emplace(*entry->corners);
    }
    colour = entry->colour;
    fences = entry->zones;
    guard = entry->staticGuard;
}

void ProjectorCorrection::apply(std::span<const LaserSample> in,
                                std::vector<LaserSample>& out) const {
    std::vector<LaserSample>& placed = fences.empty() ? out : scratch;
    placeSamples(placement, in, placed);
    if (corners) {
        mapCorners(*corners, placed);
    }
    if (!colour.neutral()) {
        balanceColour(colour, placed);
    }
    if (!fences.empty()) {
        applyZones(fences, placed, out);
    }
}

void appendZoneOutlines(std::span<const Zone> zones, std::vector<LaserSample>& samples) {
    const auto sample = [](OutputPoint p, int r, int g) {
        return LaserSample{static_cast<std::uint16_t>(std::lround(std::clamp(p.x, 0.0, 4095.0))),
                           static_cast<std::uint16_t>(std::lround(std::clamp(p.y, 0.0, 4095.0))),
                           static_cast<std::uint16_t>(r), static_cast<std::uint16_t>(g), 0};
    };
    for (const Zone& zone : zones) {
        const int r = zone.kind == ZoneKind::keepIn ? 0 : 2000;
        const int g = zone.kind == ZoneKind::keepOut ? 0 : 2000;
        samples.push_back(sample(zone.points.front(), 0, 0));
        for (std::size_t i = 1; i <= zone.points.size(); ++i) {
            samples.push_back(sample(zone.points[i % zone.points.size()], r, g));
        }
        samples.push_back(sample(zone.points.front(), 0, 0));
    }
}

} // namespace lumarok

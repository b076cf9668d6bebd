#pragma once

#include "laser/placement.hpp"
#include "laser/static_guard.hpp"
#include "laser/venue_stages.hpp"
#include "laser/venue_zones.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

// Bounds on what a venue file may ask, so that a frame's zones are always checked
// well within its time: the zones of one projector take at most kMaxZonePoints points
// together (a 256-point star that every line of the demo crosses costs at most 10 ms
// on a frame of 33 ms), in at most kMaxZones zones.
inline constexpr std::size_t kMaxZonePoints = 256;
inline constexpr std::size_t kMaxZones = 64;

// One [projector.KEY] table: KEY is the name a projector reports or its address.
struct VenueEntry {
    std::string key;
    std::string where; // "FILE:LINE" of the table, for messages
    std::optional<Placement> placement;
    std::optional<std::array<OutputPoint, 4>> corners;
    ColourBalance colour; // its intensity from the entry's `intensity`
    std::vector<Zone> zones;
    StaticGuardSettings staticGuard;
    // `rate`: points a second, for the kinds whose rate is chosen (Ether Dream, IDN).
    std::optional<std::uint32_t> pointRate;
};

struct Venue {
    std::string path;
    std::vector<VenueEntry> projectors;
    // The entry for a projector by its name, else by its address (empty words never
    // match).
    [[nodiscard]] const VenueEntry* find(const std::string& name,
                                         const std::string& address = {}) const;
};

// The point rate of the projector `entry` is for (null: none): its own, else the command
// line's.
[[nodiscard]] std::uint32_t pointRateOf(const VenueEntry* entry, std::uint32_t commandLine);

// Reads a venue file. Throws UsageError "FILE:LINE: KEY: what is wrong" for a file that
// cannot be read or is not TOML, an unknown key, a value of the wrong type or out of
// range (NaN and infinities included), corners that are no convex four-sided figure,
// or a zone beyond the bounds above.
[[nodiscard]] Venue readVenueFile(const std::string& path);

} // namespace lumarok

#pragma once

#include "core/shapes.hpp"

#include <cstdint>
#include <span>

namespace lumarok {

// Bounds on what scene data can make the decoder build, far above any authored
// show (the demo's longest outline has 40 points, its largest frame 82 points in
// 4 commands, all its scenes together 72,750 points in 4,150 commands). Passing
// one raises DataError: such data is damaged, not art.
inline constexpr std::int64_t kMaxOutlinePoints = 65'536;      // one outline or in-between
inline constexpr std::int64_t kMaxFramePoints = 131'072;       // one decoded frame
inline constexpr std::int64_t kMaxFrameCommands = 65'536;      // commands run for one frame
inline constexpr std::int64_t kMaxDecodedPoints = 8'388'608;   // every frame of the show
inline constexpr std::int64_t kMaxDecodedCommands = 4'194'304; // every frame of the show

// What decoding has built so far, summed over the frames and scenes of a show.
struct DecodeTotals {
    std::int64_t points = 0;
    std::int64_t commands = 0;
};

// Decodes the command list that starts at `offset` in a scene's data array.
// Faulty data is reported on standard output and ends the list early; the
// polylines decoded before the fault are kept. Never reads outside `data`. Adds
// to `totals` and raises DataError when a bound above is passed.
Frame decodeFrame(std::span<const std::int32_t> data, std::int64_t offset, DecodeTotals& totals);
Frame decodeFrame(std::span<const std::int32_t> data, std::int64_t offset);

// Builds the in-between outline of the outline commands at `from` and `to`,
// `numerator / denominator` of the way from the first to the second. Returns an
// empty polyline (after a message on standard output) when either reference or
// the fraction is unusable.
Polyline decodeTween(std::span<const std::int32_t> data, std::int64_t from, std::int64_t to,
                     std::int32_t numerator, std::int32_t denominator);

} // namespace lumarok

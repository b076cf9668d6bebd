#pragma once

#include "effects/shapes.hpp"

#include <cstdint>
#include <span>

namespace lumarok {

// Decodes the command list that starts at `offset` in a scene's data array.
// Faulty data is reported on standard output and ends the list early; the
// polylines decoded before the fault are kept. Never reads outside `data`.
Frame decodeFrame(std::span<const std::int32_t> data, std::int64_t offset);

// Builds the in-between outline of the outline commands at `from` and `to`,
// `numerator / denominator` of the way from the first to the second. Returns an
// empty polyline (after a message on standard output) when either reference or
// the fraction is unusable.
Polyline decodeTween(std::span<const std::int32_t> data, std::int64_t from, std::int64_t to,
                     std::int32_t numerator, std::int32_t denominator);

} // namespace lumarok

#pragma once

#include "laser/projector_correction.hpp"

#include <memory>

namespace lumarok {

struct Options;

// The venue file of --venue, read and checked before anything starts (null without
// one). A projector named on the command line with a placement that its entry also
// gives is a UsageError.
[[nodiscard]] std::shared_ptr<const Venue> venueOf(const Options& options);

// For --render, --export-ilda and the preview: the correction of the one --projector
// named, with its entry of `venue` (which must have one); without --projector none.
[[nodiscard]] ProjectorCorrection namedCorrection(const Options& options, const Venue* venue);

} // namespace lumarok

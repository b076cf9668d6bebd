#pragma once

#include "core/shapes.hpp"
#include "show/show_timeline.hpp"

#include <cstddef>

namespace lumarok {

class AudioCapture;

inline constexpr std::size_t kShowEntryCount = 120;

// The show's fixed script. The mask effect keeps its own copy of the mask; the
// audio-reactive effects keep the capture handle (nullptr: silence), which must
// outlive the timeline.
[[nodiscard]] ShowTimeline makeShowTimeline(const Polyline& mask, const AudioCapture* audio);

} // namespace lumarok

#pragma once

#include "preview/preview_vertices.hpp"

#include <string>
#include <vector>

namespace lumarok {

class AudioCapture;
class ShowTimeline;
class TimeProvider;

// What the preview's readout reports on; any of them may be missing.
struct ReadoutSources {
    const ShowTimeline* timeline = nullptr;
    const TimeProvider* clock = nullptr;
    const AudioCapture* audio = nullptr;
};

// The readout's lines, upper case since the font has no small letters: show time, clock
// source (or "WAITING FOR /TIME ON ADDRESS:PORT" until the first message), entry number
// and effect kind, frames per second, audio level and source.
[[nodiscard]] std::vector<std::string> readoutLines(const ReadoutSources& sources, double showTime,
                                                    double framesPerSecond);

// Where and how large the readout is written, in drawing units (0..4096, y down).
inline constexpr float kReadoutLeft = 60.0f;
inline constexpr float kReadoutTop = 60.0f;
inline constexpr float kReadoutCharHeight = 72.0f;
inline constexpr float kReadoutLineHeight = 110.0f;

// Appends line segments (two vertices each) writing `lines` in the vector font, one
// under the other from the readout's corner, in a dim yellow.
void appendReadoutSegments(const std::vector<std::string>& lines,
                           std::vector<PreviewVertex>& vertices);

} // namespace lumarok

#pragma once

#include "core/shapes.hpp"

#include <glm/vec2.hpp>

#include <functional>
#include <vector>

namespace lumarok {

class AudioCapture;

// Stereo frames of one audio packet: x = first channel, y = second.
using AudioSnapshot = std::vector<glm::vec2>;

// One copy of the latest packet (taken under the capture's lock). No capture, or
// no packet yet, reads as a single silent frame, so callers can always index it.
[[nodiscard]] AudioSnapshot takeAudioSnapshot(const AudioCapture* audio);
// The same into `snapshot`, whose storage is kept.
void takeAudioSnapshot(const AudioCapture* audio, AudioSnapshot& snapshot);

// 33 points across the drawing space at baseHeight, raised by the sum of both
// channels times 400.
[[nodiscard]] Polyline waveformPolyline(const AudioSnapshot& snapshot, float baseHeight);
void waveformPolyline(const AudioSnapshot& snapshot, float baseHeight, Polyline& wave);

// 65 points round the centre (the last repeats the first); the radius is
// radius * (1 + 0.3 * (x + y)) of the frame that the point's cosine selects.
[[nodiscard]] Polyline circlePolyline(const AudioSnapshot& snapshot, float radius);
void circlePolyline(const AudioSnapshot& snapshot, float radius, Polyline& circle);

// Every point p moved to p + offset(p); same polylines in the same order.
[[nodiscard]] Frame displaceFrame(const Frame& frame,
                                  const std::function<glm::vec2(glm::vec2)>& offset);

// The push a point gets from the frame at its horizontal position (x / 4096 of the
// way through the snapshot, clamped to it): the squares of both channels times strength.
[[nodiscard]] glm::vec2 disturbanceOffset(const AudioSnapshot& snapshot, float strength,
                                          glm::vec2 point);

} // namespace lumarok

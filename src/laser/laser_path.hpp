#pragma once

#include "core/laser_sample.hpp"
#include "core/shapes.hpp"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace lumarok {

// Length of every polyline of the frame (sum of its segment lengths, 0 below two
// points), in frame order; `total` receives their sum, accumulated in frame order.
std::vector<float> pathLengths(const ColorFrame& frame, float& total);
// The same into `lengths`, whose storage is kept.
void pathLengths(const ColorFrame& frame, std::vector<float>& lengths, float& total);

// Replaces the content of `samples` (its storage is kept) with the path that traces
// `frame`: a dark move to each stroke, then samples spaced about `pointSpacing`
// drawing units along it. Strokes after the first may be drawn backwards when their
// last point is nearer the beam. Empty polylines are skipped. Returns where the
// beam ends, to be passed back in as `beamPosition` on the next call.
// Throws std::invalid_argument unless `pointSpacing` and `blankStep` are finite and > 0.
glm::vec2 buildLaserPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                         glm::vec2 beamPosition, float pointSpacing, float blankStep,
                         glm::vec3 blankColor, float intensity);

// The same with the lengths of the frame's polylines already measured by pathLengths
// (one per polyline), for callers that need the total first.
glm::vec2 buildLaserPath(const ColorFrame& frame, std::span<const float> lengths,
                         std::vector<LaserSample>& samples, glm::vec2 beamPosition,
                         float pointSpacing, float blankStep, glm::vec3 blankColor,
                         float intensity);

// Appends the samples of a straight move from `from` to `to` in steps of about
// `blankStep` units, without the start point and ending exactly on `to`.
// Throws std::invalid_argument unless `blankStep` is finite and > 0.
void appendBlankMove(std::vector<LaserSample>& samples, glm::vec2 from, glm::vec2 to,
                     float blankStep, glm::vec3 blankColor, float intensity);

// `count` points at equal arc-length steps of length / (count - 1) along `points`,
// starting on the first point; colours are interpolated along the way.
ColorPolyline resampleColorPolyline(const ColorPolyline& points, int count, float length);

// One sample for a drawing-space position and colour: both axes mirrored into the
// projector's range, colour scaled by `intensity`, every field clamped to 0..4095.
namespace detail {
inline constexpr float kProjectorMax = 4095.0f;
// Clamp first, then truncate: the order also turns NaN into 0 (std::max keeps its
// first argument when the comparison fails), so the cast is always defined.
inline std::uint16_t quantise(float value) {
    return static_cast<std::uint16_t>(std::min(kProjectorMax, std::max(0.0f, value)));
}
} // namespace detail

// Inline: the path builder makes one per sample.
inline LaserSample toLaserSample(glm::vec2 position, glm::vec3 color, float intensity) {
    using detail::kProjectorMax;
    using detail::quantise;
    // The projector's origin is the opposite corner of the drawing space.
    return LaserSample{quantise(kProjectorMax - position.x), quantise(kProjectorMax - position.y),
                       quantise(color.r * kProjectorMax * intensity),
                       quantise(color.g * kProjectorMax * intensity),
                       quantise(color.b * kProjectorMax * intensity)};
}

} // namespace lumarok

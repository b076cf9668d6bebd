#pragma once

#include "effects/shapes.hpp"
#include "laser/laser_sample.hpp"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <vector>

namespace lumarok {

// Length of every polyline of the frame (sum of its segment lengths, 0 below two
// points), in frame order; `total` receives their sum, accumulated in frame order.
std::vector<float> pathLengths(const ColorFrame& frame, float& total);

// Replaces the content of `samples` (its storage is kept) with the path that traces
// `frame`: a dark move to each stroke, then samples spaced about `pointSpacing`
// drawing units along it. Strokes after the first may be drawn backwards when their
// last point is nearer the beam. Empty polylines are skipped. Returns where the
// beam ends, to be passed back in as `beamPosition` on the next call.
// Throws std::invalid_argument unless `pointSpacing` and `blankStep` are finite and > 0.
glm::vec2 buildLaserPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                         glm::vec2 beamPosition, float pointSpacing, float blankStep,
                         glm::vec3 blankColor, float intensity);

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
LaserSample toLaserSample(glm::vec2 position, glm::vec3 color, float intensity);

} // namespace lumarok

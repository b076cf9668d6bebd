#pragma once

#include "effects/shapes.hpp"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <functional>
#include <vector>

namespace lumarok {

// Geometry shared by the effects. Pure functions in single precision: each returns a
// new value and leaves its inputs alone.

struct PolylineLengths {
    std::vector<float> lengths; // one per polyline, in frame order
    float total = 0.0f;         // float sum of lengths, accumulated in order
};

// Euclidean length of each polyline (0 for fewer than two points) and their sum.
[[nodiscard]] PolylineLengths polylineLengths(const Frame& frame);

// `count` points evenly spaced along the path, `length` being its length from
// polylineLengths. Counts of zero or less give an empty polyline, an empty
// polyline gives nothing, and a single point is repeated `count` times.
[[nodiscard]] Polyline resamplePolyline(const Polyline& polyline, std::int32_t count, float length);

// Distributes `count` points over the polylines in proportion to their lengths; the
// last polyline takes the remainder. Same number of polylines as the input.
[[nodiscard]] Frame resampleFrame(const Frame& frame, std::int32_t count);

[[nodiscard]] ColorFrame colorizeFrame(const Frame& frame, glm::vec3 color);

// colorOf is called once per point, polyline by polyline, point by point.
[[nodiscard]] ColorFrame colorizeFrameBy(const Frame& frame,
                                         std::function<glm::vec3(glm::vec2)> colorOf);

// Scales every point by `factor` about the centre (kCentre, kCentre).
[[nodiscard]] Frame scaleFrame(const Frame& frame, float factor);

struct SegmentHit {
    bool hit = false;
    float along = 0.0f; // parameter along p1->p2, handed back even without a hit
};

// Bounds are inclusive; parallel and collinear segments never hit.
[[nodiscard]] SegmentHit segmentIntersection(glm::vec2 p1, glm::vec2 p2, glm::vec2 q1,
                                             glm::vec2 q2);

// The pieces of `polyline` inside (keepInside) or outside the region bounded by the
// chain of mask segments (even-odd rule; no closing segment is added). A mask of
// fewer than two points bounds nothing: it keeps nothing inside and everything
// outside. An empty polyline yields no pieces.
[[nodiscard]] Frame clipPolylineToMask(const Polyline& polyline, const Polyline& mask,
                                       bool keepInside);

} // namespace lumarok

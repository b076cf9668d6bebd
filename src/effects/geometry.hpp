#pragma once

#include "core/frame_storage.hpp"
#include "core/shapes.hpp"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <vector>

namespace lumarok {

// Geometry shared by the effects. Pure functions in single precision: each returns a
// new value and leaves its inputs alone. The forms with an output parameter fill a
// buffer the caller keeps from frame to frame, with working storage the caller also
// keeps (see frame_storage.hpp and GeometryScratch below), and give the same values
// as the returning forms.

struct PolylineLengths {
    std::vector<float> lengths; // one per polyline, in frame order
    float total = 0.0f;         // float sum of lengths, accumulated in order
};

// Euclidean length of each polyline (0 for fewer than two points) and their sum.
[[nodiscard]] PolylineLengths polylineLengths(const Frame& frame);
void polylineLengths(const Frame& frame, PolylineLengths& out);

// `count` points evenly spaced along the path, `length` being its length from
// polylineLengths. Counts of zero or less give an empty polyline, an empty
// polyline gives nothing, and a single point is repeated `count` times.
[[nodiscard]] Polyline resamplePolyline(const Polyline& polyline, std::int32_t count, float length);
void resamplePolyline(const Polyline& polyline, std::int32_t count, float length, Polyline& out);

// Distributes `count` points over the polylines in proportion to their lengths; the
// last polyline takes the remainder. Same number of polylines as the input.
[[nodiscard]] Frame resampleFrame(const Frame& frame, std::int32_t count);
struct GeometryScratch;
void resampleFrame(const Frame& frame, std::int32_t count, Frame& out, GeometryScratch& scratch);

// Appends the polylines of `frame` to `out`, each point coloured by colorOf, which is
// called once per point, polyline by polyline, point by point. A template so that the
// colour function is inlined into the loop.
template <typename ColorOf>
void appendColorized(const Frame& frame, ColorOf&& colorOf, ColorFrame& out, FramePools& pools) {
    for (const Polyline& polyline : frame) {
        ColorPolyline& colored = addPolyline(out, pools);
        reserveRoom(colored, polyline.size());
        colored.resize(polyline.size());
        ColorPoint* target = colored.data();
        for (const glm::vec2 point : polyline) {
            *target++ = ColorPoint{point, colorOf(point)};
        }
    }
}

template <typename ColorOf>
[[nodiscard]] ColorFrame colorizeFrameBy(const Frame& frame, ColorOf&& colorOf) {
    ColorFrame result;
    result.reserve(frame.size());
    FramePools pools;
    appendColorized(frame, colorOf, result, pools);
    return result;
}

inline void appendColorized(const Frame& frame, glm::vec3 color, ColorFrame& out,
                            FramePools& pools) {
    appendColorized(
        frame, [color](glm::vec2) { return color; }, out, pools);
}

[[nodiscard]] ColorFrame colorizeFrame(const Frame& frame, glm::vec3 color);

// Scales every point by `factor` about the centre (kCentre, kCentre).
[[nodiscard]] Frame scaleFrame(const Frame& frame, float factor);
void scaleFrame(const Frame& frame, float factor, Frame& out, FramePools& pools);

struct SegmentHit {
    bool hit = false;
    float along = 0.0f; // parameter along p1->p2, handed back even without a hit
};

// Bounds are inclusive; parallel and collinear segments never hit.
[[nodiscard]] SegmentHit segmentIntersection(glm::vec2 p1, glm::vec2 p2, glm::vec2 q1,
                                             glm::vec2 q2);

// A mask prepared for clipping: its segments bucketed in a uniform grid over the
// mask's bounding box, so that a polyline segment is tested only against the mask
// segments that share a cell with it. Rebuilding keeps the storage.
class MaskIndex {
public:
    MaskIndex() = default;
    explicit MaskIndex(const Polyline& outline) { build(outline); }
    void build(const Polyline& outline);

    [[nodiscard]] const Polyline& points() const { return mask; }
    [[nodiscard]] std::size_t segmentCount() const { return mask.size() < 2 ? 0 : mask.size() - 1; }
    // Appends the index of every mask segment whose cells the box from `lo` to `hi`
    // touches, each once; `seen` (one stamp per segment, grown as needed) and `stamp`
    // keep duplicates out.
    void candidates(glm::vec2 lo, glm::vec2 hi, std::vector<std::uint32_t>& out,
                    std::vector<std::uint32_t>& seen, std::uint32_t stamp) const;

private:
    Polyline mask;
    glm::vec2 origin{0.0f}; // lower corner of the finite mask points' bounding box
    glm::vec2 upper{0.0f};  // its upper corner
    glm::vec2 cellSize{1.0f};
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::vector<std::uint32_t> cellStart; // per cell, into cellSegments; one extra at the end
    std::vector<std::uint32_t> cellSegments;
    std::vector<std::uint32_t> fillAt; // while building: per cell, the next place to fill
};

// One crossing of a polyline segment with a mask segment, found by the clipper.
struct MaskCrossing {
    float along;     // parameter along the polyline segment
    float maskAlong; // parameter along the mask segment
    std::uint32_t segment;
};

// Working storage of the clipper, kept by the caller from call to call.
struct ClipScratch {
    ClipScratch();
    std::vector<std::uint32_t> candidates;
    std::vector<std::uint32_t> seen;
    std::uint32_t stamp = 0;
    std::vector<MaskCrossing> crossings;

    std::uint32_t nextStamp();
};

// The working storage of the functions here that fill kept buffers: the polyline
// pools, the resampler's measures and the clipper's lists. One per rendering loop.
struct GeometryScratch {
    FramePools pools;
    PolylineLengths measured;
    std::vector<std::int32_t> shares;
    ClipScratch clip;
};

// The pieces of `polyline` inside (keepInside) or outside the region bounded by the
// chain of mask segments (even-odd rule; no closing segment is added). A mask of
// fewer than two points bounds nothing: it keeps nothing inside and everything
// outside. An empty polyline yields no pieces. The crossings on each polyline
// segment are taken in their order along it; crossings at one point (a mask vertex)
// count once, and a polyline vertex on a mask segment counts once where the polyline
// passes through it.
[[nodiscard]] Frame clipPolylineToMask(const Polyline& polyline, const Polyline& mask,
                                       bool keepInside);
// The same with a prepared mask, appending the pieces to `pieces`.
void clipPolylineToMask(const Polyline& polyline, const MaskIndex& mask, bool keepInside,
                        Frame& pieces, GeometryScratch& scratch);

} // namespace lumarok

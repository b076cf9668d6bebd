// Clipping polylines to a mask outline, with the mask's segments bucketed in a grid.
#include "effects/geometry.hpp"

#include <glm/common.hpp>
#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace lumarok {

namespace {

constexpr std::int32_t kMaxGridSide = 64;
// Crossings closer than this (drawing units) are one place: a mask vertex, or a
// polyline vertex lying on a mask segment.
constexpr float kSamePlace = 1e-3f;

// The grid cell of a coordinate, clamped to the grid; compares before converting so
// that NaN and huge values never reach the conversion.
std::int32_t cellOf(float value, float origin, float size, std::int32_t cells) {
    const float position = (value - origin) / size;
    if (!(position >= 1.0f)) {
        return 0;
    }
    if (position >= static_cast<float>(cells - 1)) {
        return cells - 1;
    }
    return static_cast<std::int32_t>(position);
}

bool isFinite(glm::vec2 p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

using Crossing = MaskCrossing;

// The same arithmetic as segmentIntersection, so that crossings land where they
// always did, with the mask segment's own parameter as well.
bool crossingOf(glm::vec2 p1, glm::vec2 p2, glm::vec2 q1, glm::vec2 q2, Crossing& out) {
    const float denom = (q2.y - q1.y) * (p2.x - p1.x) - (q2.x - q1.x) * (p2.y - p1.y);
    const float ua = ((p1.y - q1.y) * (q2.x - q1.x) - (p1.x - q1.x) * (q2.y - q1.y)) / denom;
    const float ub = ((p1.y - q1.y) * (p2.x - p1.x) - (p1.x - q1.x) * (p2.y - p1.y)) / denom;
    out.along = ua;
    out.maskAlong = ub;
    return ub >= 0.0f && ub <= 1.0f && ua >= 0.0f && ua <= 1.0f;
}

// Which side of the line through a and b the point lies on: -1, 0 or +1.
int sideOf(glm::vec2 a, glm::vec2 b, glm::vec2 p) {
    const float cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    return (cross > 0.0f) - (cross < 0.0f);
}

// Room made at once in the clipper's kept buffers: masks and crossings of this size,
// far above the show's, never make them grow.
constexpr std::size_t kMaskRoom = 256;

// The crossings of the segment q->e with the mask, in order along it.
void crossingsAlong(glm::vec2 q, glm::vec2 e, const MaskIndex& index, ClipScratch& scratch) {
    const Polyline& mask = index.points();
    scratch.candidates.clear();
    scratch.crossings.clear();
    index.candidates(glm::min(q, e), glm::max(q, e), scratch.candidates, scratch.seen,
                     scratch.nextStamp());
    for (const std::uint32_t i : scratch.candidates) {
        Crossing crossing{};
        if (crossingOf(q, e, mask[i], mask[i + 1], crossing)) {
            crossing.segment = i;
            scratch.crossings.push_back(crossing);
        }
    }
    // Insertion sort: few crossings per segment, and equal parameters keep mask order.
    auto& list = scratch.crossings;
    for (std::size_t k = 1; k < list.size(); ++k) {
        const Crossing moving = list[k];
        std::size_t at = k;
        while (at > 0 && list[at - 1].along > moving.along) {
            list[at] = list[at - 1];
            --at;
        }
        list[at] = moving;
    }
}

// Whether crossings a (earlier along the polyline) and b meet at the vertex shared
// by their two neighbouring mask segments.
bool atSharedVertex(const Crossing& a, const Crossing& b, const Polyline& mask) {
    const std::size_t segments = mask.size() - 1;
    const bool closed = mask.front() == mask.back();
    const auto lengthOf = [&mask](std::uint32_t i) { return glm::distance(mask[i], mask[i + 1]); };
    const auto meet = [&](const Crossing& first, const Crossing& second) {
        // first's segment ends where second's begins
        const bool adjacent = second.segment == first.segment + 1 ||
                              (closed && first.segment + 1 == segments && second.segment == 0);
        return adjacent && (1.0f - first.maskAlong) * lengthOf(first.segment) <= kSamePlace &&
               second.maskAlong * lengthOf(second.segment) <= kSamePlace;
    };
    return meet(a, b) || meet(b, a);
}

// Whether the polyline segment q->e passes through the mask vertex between the two
// segments (rather than touching it): their far ends lie on opposite sides of it.
bool passesVertex(glm::vec2 q, glm::vec2 e, const Crossing& a, const Crossing& b,
                  const Polyline& mask) {
    const auto farEnd = [&mask](const Crossing& c) {
        return c.maskAlong > 0.5f ? mask[c.segment] : mask[c.segment + 1];
    };
    return sideOf(q, e, farEnd(a)) * sideOf(q, e, farEnd(b)) < 0;
}

} // namespace

ClipScratch::ClipScratch() {
    candidates.reserve(kMaskRoom);
    seen.reserve(kMaskRoom);
    crossings.reserve(kMaskRoom);
}

std::uint32_t ClipScratch::nextStamp() {
    if (++stamp == 0) {
        std::fill(seen.begin(), seen.end(), 0u);
        stamp = 1;
    }
    return stamp;
}

void MaskIndex::build(const Polyline& givenMask) {
    // Rebuilt every frame for masks taken from the animation: storage is kept.
    reserveRoom(mask, std::max(givenMask.size(), kMaskRoom));
    mask.assign(givenMask.begin(), givenMask.end());
    cellStart.clear();
    cellSegments.clear();
    columns = 0;
    rows = 0;
    const std::size_t segments = segmentCount();
    if (segments == 0) {
        return;
    }
    glm::vec2 lo{std::numeric_limits<float>::max()};
    glm::vec2 hi{std::numeric_limits<float>::lowest()};
    for (const glm::vec2 p : mask) {
        if (isFinite(p)) {
            lo = glm::min(lo, p);
            hi = glm::max(hi, p);
        }
    }
    if (!(lo.x <= hi.x)) {
        return; // no finite point: no segment can be crossed
    }
    const auto side = static_cast<std::int32_t>(
        std::min<double>(kMaxGridSide, std::ceil(std::sqrt(static_cast<double>(segments)))));
    columns = std::max(side, 1);
    rows = columns;
    origin = lo;
    upper = hi;
    const glm::vec2 extent = hi - lo;
    cellSize = {extent.x > 0.0f ? extent.x / static_cast<float>(columns) : 1.0f,
                extent.y > 0.0f ? extent.y / static_cast<float>(rows) : 1.0f};

    // Two passes over the segments' cell ranges: count per cell, then fill.
    const auto cells = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    reserveRoom(cellStart, std::max(cells + 1, kMaskRoom));
    cellStart.assign(cells + 1, 0);
    const auto forEachCell = [this](std::size_t i, auto&& visit) {
        const glm::vec2 a = mask[i];
        const glm::vec2 b = mask[i + 1];
        if (!isFinite(a) || !isFinite(b)) {
            return; // such a segment yields no crossing parameters in range
        }
        const std::int32_t x0 = cellOf(std::min(a.x, b.x), origin.x, cellSize.x, columns);
        const std::int32_t x1 = cellOf(std::max(a.x, b.x), origin.x, cellSize.x, columns);
        const std::int32_t y0 = cellOf(std::min(a.y, b.y), origin.y, cellSize.y, rows);
        const std::int32_t y1 = cellOf(std::max(a.y, b.y), origin.y, cellSize.y, rows);
        for (std::int32_t y = y0; y <= y1; ++y) {
            for (std::int32_t x = x0; x <= x1; ++x) {
                visit(static_cast<std::size_t>(y) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(x));
            }
        }
    };
    for (std::size_t i = 0; i < segments; ++i) {
        forEachCell(i, [this](std::size_t cell) { ++cellStart[cell + 1]; });
    }
    for (std::size_t c = 0; c < cells; ++c) {
        cellStart[c + 1] += cellStart[c];
    }
    reserveRoom(cellSegments, std::max<std::size_t>(cellStart[cells], kMaskRoom));
    cellSegments.resize(cellStart[cells]);
    std::vector<std::uint32_t>& fill = cellSegments;
    reserveRoom(fillAt, std::max(cells, kMaskRoom));
    fillAt.assign(cellStart.begin(), cellStart.end() - 1);
    for (std::size_t i = 0; i < segments; ++i) {
        forEachCell(
            i, [&](std::size_t cell) { fill[fillAt[cell]++] = static_cast<std::uint32_t>(i); });
    }
}

void MaskIndex::candidates(glm::vec2 lo, glm::vec2 hi, std::vector<std::uint32_t>& out,
                           std::vector<std::uint32_t>& seen, std::uint32_t stamp) const {
    if (columns == 0) {
        return;
    }
    // Boxes wholly beside the mask meet none of its segments. The tests fail for NaN,
    // which then scans the clamped cells and finds no crossing there.
    if (hi.x < origin.x || hi.y < origin.y || lo.x > upper.x || lo.y > upper.y) {
        return;
    }
    if (seen.size() < segmentCount()) {
        reserveRoom(seen, segmentCount());
        seen.resize(segmentCount(), 0);
    }
    const std::int32_t x0 = cellOf(lo.x, origin.x, cellSize.x, columns);
    const std::int32_t x1 = cellOf(hi.x, origin.x, cellSize.x, columns);
    const std::int32_t y0 = cellOf(lo.y, origin.y, cellSize.y, rows);
    const std::int32_t y1 = cellOf(hi.y, origin.y, cellSize.y, rows);
    for (std::int32_t y = y0; y <= y1; ++y) {
        for (std::int32_t x = x0; x <= x1; ++x) {
            const std::size_t cell =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(columns) +
                static_cast<std::size_t>(x);
            for (std::uint32_t k = cellStart[cell]; k < cellStart[cell + 1]; ++k) {
                const std::uint32_t segment = cellSegments[k];
                if (seen[segment] != stamp) {
                    seen[segment] = stamp;
                    out.push_back(segment);
                }
            }
        }
    }
}

Frame clipPolylineToMask(const Polyline& polyline, const Polyline& mask, bool keepInside) {
    const MaskIndex index(mask);
    Frame pieces;
    GeometryScratch scratch;
    clipPolylineToMask(polyline, index, keepInside, pieces, scratch);
    return pieces;
}

void clipPolylineToMask(const Polyline& polyline, const MaskIndex& index, bool keepInside,
                        Frame& pieces, GeometryScratch& geometry) {
    if (polyline.empty()) {
        return;
    }
    const Polyline& mask = index.points();
    ClipScratch& scratch = geometry.clip;

    const glm::vec2 start = polyline.front();
    // Even-odd rule with a horizontal ray towards +x, longer than the drawing space.
    const glm::vec2 rayEnd = start + glm::vec2(8192.0f, 0.0f);
    scratch.candidates.clear();
    index.candidates(start, rayEnd, scratch.candidates, scratch.seen, scratch.nextStamp());
    std::size_t rayCrossings = 0;
    for (const std::uint32_t i : scratch.candidates) {
        if (segmentIntersection(mask[i], mask[i + 1], start, rayEnd).hit) {
            ++rayCrossings;
        }
    }
    bool in = keepInside != (rayCrossings % 2 == 0);
    if (in) {
        Polyline& piece = addPolyline(pieces, geometry.pools);
        reserveRoom(piece, polyline.size() + 1);
        piece.push_back(start);
    }
    // `rest`: polyline points still to come, the most a new piece can take.
    const auto toggleAt = [&](glm::vec2 x, std::size_t rest) {
        if (in) {
            pieces.back().push_back(x);
        } else {
            // A piece holds at most the crossing and the rest of the polyline.
            Polyline& piece = addPolyline(pieces, geometry.pools);
            reserveRoom(piece, rest + 1);
            piece.push_back(x);
        }
        in = !in;
    };

    // The mask segment crossed on the end point of the previous polyline segment, if
    // any: the same crossing comes back at the start of the next segment.
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t crossedAtVertex = kNone;
    for (std::size_t j = 0; j + 1 < polyline.size(); ++j) {
        const glm::vec2 q = polyline[j];
        const glm::vec2 e = polyline[j + 1];
        const float length = glm::distance(q, e);
        crossingsAlong(q, e, index, scratch);
        const std::vector<Crossing>& list = scratch.crossings;
        std::uint32_t crossedAtEnd = kNone;
        for (std::size_t k = 0; k < list.size(); ++k) {
            const Crossing& c = list[k];
            std::size_t last = k; // the crossings that make up this one place
            bool toggles = true;
            if (k + 1 < list.size() && atSharedVertex(c, list[k + 1], mask)) {
                // Through a mask vertex: one crossing if the polyline passes it,
                // none if it only touches it.
                last = k + 1;
                toggles = passesVertex(q, e, c, list[k + 1], mask);
            } else {
                // Crossings at exactly one parameter are passed together.
                while (last + 1 < list.size() && list[last + 1].along == c.along) {
                    ++last;
                }
            }
            const bool atStart = j > 0 && c.along * length <= kSamePlace;
            if (atStart && last == k && c.segment == crossedAtVertex) {
                // A polyline vertex on a mask segment, counted already at the end of the
                // previous segment. Passing through counts once; touching the mask keeps
                // the second crossing, which leaves the side unchanged.
                const glm::vec2 a = mask[c.segment];
                const glm::vec2 b = mask[c.segment + 1];
                if (sideOf(a, b, polyline[j - 1]) * sideOf(a, b, e) < 0) {
                    toggles = false;
                }
            }
            if (toggles) {
                toggleAt((e - q) * c.along + q, polyline.size() - j - 1);
            }
            if (last == k && (1.0f - c.along) * length <= kSamePlace) {
                crossedAtEnd = c.segment;
            }
            k = last;
        }
        crossedAtVertex = crossedAtEnd;
        if (in) {
            pieces.back().push_back(e);
        }
    }
}

} // namespace lumarok

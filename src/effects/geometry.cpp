#include "effects/geometry.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace lumarok {

namespace {

float distance(glm::vec2 a, glm::vec2 b) {
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// Shares in proportion to length, rounded half away from zero; the last polyline
// takes what remains. A share is capped at what remains so that rounding up can
// never hand out more than `count` points (and never a negative count).
void proportionalShares(const std::vector<float>& lengths, float total, std::int32_t count,
                        std::vector<std::int32_t>& shares) {
    shares.assign(lengths.size(), 0);
    if (shares.empty()) {
        return;
    }
    const std::size_t last = shares.size() - 1;
    std::int32_t remaining = count;
    for (std::size_t i = 0; i < last; ++i) {
        const float rounded = std::roundf(static_cast<float>(count) * lengths[i] / total);
        std::int32_t share = 0;
        // The comparisons are written so that NaN (infinite lengths) gives 0.
        if (rounded > 0.0f && remaining > 0) {
            share = static_cast<double>(rounded) >= static_cast<double>(remaining)
                        ? remaining
                        : static_cast<std::int32_t>(rounded);
        }
        shares[i] = share;
        remaining -= share;
    }
    shares[last] = remaining > 0 ? remaining : 0;
}

// With no length to go by (all dots, or NaN coordinates) the points are shared
// equally among the polylines that have a point to repeat; the last of them takes
// the remainder, so the frame still gets exactly `count` points.
void equalShares(const Frame& frame, std::int32_t count, std::vector<std::int32_t>& shares) {
    shares.assign(frame.size(), 0);
    std::int32_t nonEmpty = 0;
    std::size_t lastNonEmpty = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (!frame[i].empty()) {
            ++nonEmpty;
            lastNonEmpty = i;
        }
    }
    if (nonEmpty == 0 || count <= 0) {
        return;
    }
    const std::int32_t each = count / nonEmpty;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (!frame[i].empty()) {
            shares[i] = each;
        }
    }
    shares[lastNonEmpty] = count - each * (nonEmpty - 1);
}

} // namespace

PolylineLengths polylineLengths(const Frame& frame) {
    PolylineLengths result;
    polylineLengths(frame, result);
    return result;
}

void polylineLengths(const Frame& frame, PolylineLengths& out) {
    out.lengths.clear();
    out.total = 0.0f;
    for (const Polyline& polyline : frame) {
        float length = 0.0f;
        for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
            length += distance(polyline[i], polyline[i + 1]);
        }
        out.lengths.push_back(length);
        out.total += length;
    }
}

Polyline resamplePolyline(const Polyline& polyline, std::int32_t count, float length) {
    Polyline result;
    resamplePolyline(polyline, count, length, result);
    return result;
}

void resamplePolyline(const Polyline& polyline, std::int32_t count, float length,
                      Polyline& result) {
    result.clear();
    if (count <= 0 || polyline.empty()) {
        return;
    }
    if (polyline.size() == 1) {
        // A dot: keep its share of points so the frame's point count holds.
        result.assign(static_cast<std::size_t>(count), polyline.front());
        return;
    }
    reserveRoom(result, static_cast<std::size_t>(count));
    const float step = count > 1 ? length / static_cast<float>(count - 1) : 0.0f;
    const std::size_t lastSegment = polyline.size() - 2;
    std::size_t j = 0;
    float s = 0.0f; // distance already travelled into segment j
    // Segment j's ends and length, measured once when the walk reaches it.
    glm::vec2 a = polyline[0];
    glm::vec2 b = polyline[1];
    float segment = distance(a, b);
    for (std::int32_t i = 0; i < count; ++i) {
        // Written as !(segment > s) so NaN lengths also move on, never past the end.
        while (!(segment > s) && j < lastSegment) {
            s -= segment;
            ++j;
            a = polyline[j];
            b = polyline[j + 1];
            segment = distance(a, b);
        }
        const float f = segment > 0.001f ? s / segment : 0.0f;
        result.emplace_back(a.x * (1.0f - f) + b.x * f, a.y * (1.0f - f) + b.y * f);
        s += step;
    }
}

Frame resampleFrame(const Frame& frame, std::int32_t count) {
    Frame result;
    GeometryScratch scratch;
    resampleFrame(frame, count, result, scratch);
    return result;
}

void resampleFrame(const Frame& frame, std::int32_t count, Frame& result,
                   GeometryScratch& scratch) {
    clearFrame(result, scratch.pools);
    if (frame.empty()) {
        return;
    }
    PolylineLengths& measured = scratch.measured;
    std::vector<std::int32_t>& shares = scratch.shares;
    reserveRoom(measured.lengths, kFrameRoom);
    reserveRoom(shares, kFrameRoom);
    polylineLengths(frame, measured);
    // !(total > 0) also catches a NaN total, which would make every share NaN.
    if (measured.total > 0.0f) {
        proportionalShares(measured.lengths, measured.total, count, shares);
    } else {
        equalShares(frame, count, shares);
    }
    for (std::size_t i = 0; i < frame.size(); ++i) {
        resamplePolyline(frame[i], shares[i], measured.lengths[i],
                         addPolyline(result, scratch.pools));
    }
}

ColorFrame colorizeFrame(const Frame& frame, glm::vec3 color) {
    ColorFrame result;
    result.reserve(frame.size());
    FramePools pools;
    appendColorized(frame, color, result, pools);
    return result;
}

Frame scaleFrame(const Frame& frame, float factor) {
    Frame result;
    FramePools pools;
    scaleFrame(frame, factor, result, pools);
    return result;
}

void scaleFrame(const Frame& frame, float factor, Frame& result, FramePools& pools) {
    clearFrame(result, pools);
    for (const Polyline& polyline : frame) {
        Polyline& out = addPolyline(result, pools);
        reserveRoom(out, polyline.size());
        for (const glm::vec2 point : polyline) {
            out.emplace_back((point.x - kCentre) * factor + kCentre,
                             (point.y - kCentre) * factor + kCentre);
        }
    }
}

SegmentHit segmentIntersection(glm::vec2 p1, glm::vec2 p2, glm::vec2 q1, glm::vec2 q2) {
    // A zero denominator (parallel or collinear) gives infinite or NaN parameters,
    // which fail the range test below: no special case needed.
    const float denom = (q2.y - q1.y) * (p2.x - p1.x) - (q2.x - q1.x) * (p2.y - p1.y);
    const float ua = ((p1.y - q1.y) * (q2.x - q1.x) - (p1.x - q1.x) * (q2.y - q1.y)) / denom;
    const float ub = ((p1.y - q1.y) * (p2.x - p1.x) - (p1.x - q1.x) * (p2.y - p1.y)) / denom;
    const bool hit = ub >= 0.0f && ub <= 1.0f && ua >= 0.0f && ua <= 1.0f;
    return SegmentHit{hit, ua};
}

} // namespace lumarok

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
std::vector<std::int32_t> proportionalShares(const std::vector<float>& lengths, float total,
                                             std::int32_t count) {
    std::vector<std::int32_t> shares(lengths.size(), 0);
    if (shares.empty()) {
        return shares;
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
    return shares;
}

// With no length to go by (all dots, or NaN coordinates) the points are shared
// equally among the polylines that have a point to repeat; the last of them takes
// the remainder, so the frame still gets exactly `count` points.
std::vector<std::int32_t> equalShares(const Frame& frame, std::int32_t count) {
    std::vector<std::int32_t> shares(frame.size(), 0);
    std::int32_t nonEmpty = 0;
    std::size_t lastNonEmpty = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (!frame[i].empty()) {
            ++nonEmpty;
            lastNonEmpty = i;
        }
    }
    if (nonEmpty == 0 || count <= 0) {
        return shares;
    }
    const std::int32_t each = count / nonEmpty;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (!frame[i].empty()) {
            shares[i] = each;
        }
    }
    shares[lastNonEmpty] = count - each * (nonEmpty - 1);
    return shares;
}

} // namespace

PolylineLengths polylineLengths(const Frame& frame) {
    PolylineLengths result;
    result.lengths.reserve(frame.size());
    for (const Polyline& polyline : frame) {
        float length = 0.0f;
        for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
            length += distance(polyline[i], polyline[i + 1]);
        }
        result.lengths.push_back(length);
        result.total += length;
    }
    return result;
}

Polyline resamplePolyline(const Polyline& polyline, std::int32_t count, float length) {
    Polyline result;
    if (count <= 0 || polyline.empty()) {
        return result;
    }
    if (polyline.size() == 1) {
        // A dot: keep its share of points so the frame's point count holds.
        result.assign(static_cast<std::size_t>(count), polyline.front());
        return result;
    }
    result.reserve(static_cast<std::size_t>(count));
    const float step = count > 1 ? length / static_cast<float>(count - 1) : 0.0f;
    const std::size_t lastSegment = polyline.size() - 2;
    std::size_t j = 0;
    float s = 0.0f; // distance already travelled into segment j
    for (std::int32_t i = 0; i < count; ++i) {
        glm::vec2 a = polyline[j];
        glm::vec2 b = polyline[j + 1];
        float segment = distance(a, b);
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
    return result;
}

Frame resampleFrame(const Frame& frame, std::int32_t count) {
    Frame result;
    if (frame.empty()) {
        return result;
    }
    const PolylineLengths measured = polylineLengths(frame);
    // !(total > 0) also catches a NaN total, which would make every share NaN.
    const std::vector<std::int32_t> shares =
        measured.total > 0.0f ? proportionalShares(measured.lengths, measured.total, count)
                              : equalShares(frame, count);
    result.reserve(frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        result.push_back(resamplePolyline(frame[i], shares[i], measured.lengths[i]));
    }
    return result;
}

ColorFrame colorizeFrameBy(const Frame& frame, std::function<glm::vec3(glm::vec2)> colorOf) {
    ColorFrame result;
    result.reserve(frame.size());
    for (const Polyline& polyline : frame) {
        ColorPolyline& out = result.emplace_back();
        out.reserve(polyline.size());
        for (const glm::vec2 point : polyline) {
            out.push_back(ColorPoint{point, colorOf(point)});
        }
    }
    return result;
}

ColorFrame colorizeFrame(const Frame& frame, glm::vec3 color) {
    return colorizeFrameBy(frame, [color](glm::vec2) { return color; });
}

Frame scaleFrame(const Frame& frame, float factor) {
    Frame result;
    result.reserve(frame.size());
    for (const Polyline& polyline : frame) {
        Polyline& out = result.emplace_back();
        out.reserve(polyline.size());
        for (const glm::vec2 point : polyline) {
            out.emplace_back((point.x - kCentre) * factor + kCentre,
                             (point.y - kCentre) * factor + kCentre);
        }
    }
    return result;
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

Frame clipPolylineToMask(const Polyline& polyline, const Polyline& mask, bool keepInside) {
    Frame pieces;
    if (polyline.empty()) {
        return pieces;
    }
    const std::size_t maskSegments = mask.size() < 2 ? 0 : mask.size() - 1;

    glm::vec2 q = polyline.front();
    // Even-odd rule with a horizontal ray towards +x, longer than the drawing space.
    const glm::vec2 rayEnd = q + glm::vec2(8192.0f, 0.0f);
    std::size_t crossings = 0;
    for (std::size_t i = 0; i < maskSegments; ++i) {
        if (segmentIntersection(mask[i], mask[i + 1], q, rayEnd).hit) {
            ++crossings;
        }
    }
    bool in = keepInside != (crossings % 2 == 0);
    if (in) {
        pieces.push_back(Polyline{q});
    }

    // Two straight segments cross at most once, so a mask segment already crossed on
    // the current polyline segment is not tested again there. Without this, a
    // crossing met again through rounding (q stepping past it by less than a float
    // can resolve) would start a new piece on every look, up to millions of them.
    constexpr std::size_t kNotCrossed = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> crossedOnSegment(maskSegments, kNotCrossed);

    std::size_t j = 0;
    while (j + 1 < polyline.size()) {
        const glm::vec2 e = polyline[j + 1];
        float h = std::numeric_limits<float>::max();
        bool hit = false;
        for (std::size_t i = 0; i < maskSegments; ++i) {
            if (crossedOnSegment[i] == j) {
                continue;
            }
            const SegmentHit crossing = segmentIntersection(q, e, mask[i], mask[i + 1]);
            if (crossing.hit && !(crossing.along > h)) {
                h = crossing.along;
                hit = true;
            }
        }
        if (!hit) {
            if (in) {
                pieces.back().push_back(e);
            }
            q = e;
            ++j;
            continue;
        }
        // Every mask segment through this crossing (two at a mask vertex) is passed.
        for (std::size_t i = 0; i < maskSegments; ++i) {
            if (crossedOnSegment[i] != j) {
                const SegmentHit crossing = segmentIntersection(q, e, mask[i], mask[i + 1]);
                if (crossing.hit && crossing.along == h) {
                    crossedOnSegment[i] = j;
                }
            }
        }
        const glm::vec2 x = (e - q) * h + q;
        if (in) {
            pieces.back().push_back(x);
            in = false;
        } else {
            pieces.push_back(Polyline{x});
            in = true;
        }
        // Step a thousandth of the rest of the segment past the crossing and look again.
        q = q + (e - q) * (h + 0.001f);
    }
    return pieces;
}

} // namespace lumarok

#include "laser/laser_path.hpp"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace lumarok {

namespace {

constexpr float kProjectorMax = 4095.0f;

// Clamp first, then truncate: the order also turns NaN into 0 (std::max keeps its
// first argument when the comparison fails), so the cast below is always defined.
std::uint16_t quantise(float value) {
    const float clamped = std::min(kProjectorMax, std::max(0.0f, value));
    return static_cast<std::uint16_t>(clamped);
}

// Truncates toward zero like a plain cast, but saturates instead of invoking
// undefined behaviour for NaN (0) or values beyond the 32-bit range.
std::int32_t toCount(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    constexpr float kLimit = 2147483520.0f; // largest float below 2^31
    return value >= kLimit ? std::numeric_limits<std::int32_t>::max()
                           : static_cast<std::int32_t>(value);
}

void requirePositive(float value, const char* what) {
    if (!(value > 0.0f) || !std::isfinite(value)) {
        throw std::invalid_argument(std::string(what) + " must be finite and greater than 0");
    }
}

float polylineLength(const ColorPolyline& polyline) {
    float length = 0.0f;
    for (std::size_t i = 1; i < polyline.size(); ++i) {
        length += glm::distance(polyline[i - 1].position, polyline[i].position);
    }
    return length;
}

// Walks `points` forward at equal arc-length steps and hands every interpolated
// point to `emit`; shared by the public resampler and the path builder, which
// converts the points straight into samples without a temporary list.
template <typename Emit>
void resampleInto(const ColorPolyline& points, int count, float length, Emit&& emit) {
    if (count <= 0 || points.empty()) {
        return;
    }
    const auto m = static_cast<std::ptrdiff_t>(points.size());
    if (m == 1) {
        // No segment to walk along: every point sits on the only one.
        for (int i = 0; i < count; ++i) {
            emit(points.front());
        }
        return;
    }
    const float step = count > 1 ? length / static_cast<float>(count - 1) : 0.0f;
    std::ptrdiff_t k = 0;
    float s = 0.0f;
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(k);
        float d = glm::distance(points[index + 1].position, points[index].position);
        while (d <= s && k < m - 2) {
            s -= d;
            ++k;
            const auto next = static_cast<std::size_t>(k);
            d = glm::distance(points[next + 1].position, points[next].position);
        }
        const float t = d > 0.001f ? s / d : 0.0f;
        const ColorPoint& a = points[static_cast<std::size_t>(k)];
        const ColorPoint& b = points[static_cast<std::size_t>(k) + 1];
        emit(ColorPoint{a.position * (1.0f - t) + b.position * t,
                        a.color * (1.0f - t) + b.color * t});
        s += step;
    }
}

void appendBlankMoveUnchecked(std::vector<LaserSample>& samples, glm::vec2 from, glm::vec2 to,
                              float blankStep, glm::vec3 blankColor, float intensity) {
    const std::int32_t count = toCount(std::round(glm::distance(to, from) / blankStep));
    for (std::int32_t k = 1; k <= count; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(count);
        samples.push_back(toLaserSample(from * (1.0f - t) + to * t, blankColor, intensity));
    }
}

} // namespace

LaserSample toLaserSample(glm::vec2 position, glm::vec3 color, float intensity) {
    // The projector's origin is the opposite corner of the drawing space.
    return LaserSample{quantise(kProjectorMax - position.x), quantise(kProjectorMax - position.y),
                       quantise(color.r * kProjectorMax * intensity),
                       quantise(color.g * kProjectorMax * intensity),
                       quantise(color.b * kProjectorMax * intensity)};
}

std::vector<float> pathLengths(const ColorFrame& frame, float& total) {
    total = 0.0f;
    std::vector<float> lengths;
    lengths.reserve(frame.size());
    for (const ColorPolyline& polyline : frame) {
        lengths.push_back(polylineLength(polyline));
        total += lengths.back();
    }
    return lengths;
}

void appendBlankMove(std::vector<LaserSample>& samples, glm::vec2 from, glm::vec2 to,
                     float blankStep, glm::vec3 blankColor, float intensity) {
    requirePositive(blankStep, "blankStep");
    appendBlankMoveUnchecked(samples, from, to, blankStep, blankColor, intensity);
}

ColorPolyline resampleColorPolyline(const ColorPolyline& points, int count, float length) {
    ColorPolyline result;
    if (count > 0 && !points.empty()) {
        result.reserve(static_cast<std::size_t>(count));
    }
    resampleInto(points, count, length, [&](const ColorPoint& point) { result.push_back(point); });
    return result;
}

glm::vec2 buildLaserPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                         glm::vec2 beamPosition, float pointSpacing, float blankStep,
                         glm::vec3 blankColor, float intensity) {
    requirePositive(pointSpacing, "pointSpacing");
    requirePositive(blankStep, "blankStep");
    samples.clear();
    float total = 0.0f;
    const std::vector<float> lengths = pathLengths(frame, total);

    glm::vec2 cur = beamPosition;
    bool drewOne = false;
    ColorPolyline working;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const ColorPolyline& polyline = frame[i];
        if (polyline.empty()) {
            continue; // nothing to move to: the beam stays where it is
        }
        working.assign(polyline.begin(), polyline.end());
        if (drewOne && glm::distance(cur, working.front().position) >
                           glm::distance(cur, working.back().position)) {
            std::reverse(working.begin(), working.end());
        }
        appendBlankMoveUnchecked(samples, cur, working.front().position, blankStep, blankColor,
                                 intensity);
        const std::int32_t count = toCount(lengths[i] / pointSpacing);
        resampleInto(working, count, lengths[i], [&](const ColorPoint& point) {
            samples.push_back(toLaserSample(point.position, point.color, intensity));
        });
        cur = working.back().position;
        drewOne = true;
    }
    return cur;
}

} // namespace lumarok

#include "laser/laser_path.hpp"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumarok {

namespace {

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

// The points of a stroke in drawing order: stored order, or backwards by index so
// that a reversed stroke needs no copy.
template <bool Backward> struct StrokeView {
    const ColorPoint* points;
    std::ptrdiff_t size;
    const ColorPoint& operator[](std::ptrdiff_t i) const {
        if constexpr (Backward) {
            return points[size - 1 - i];
        } else {
            return points[i];
        }
    }
};

// Walks `points` forward at equal arc-length steps, `count` points in all (none for
// an empty stroke): emitBetween(a, b, t) for a point a fraction t from a to b, or
// emitPoint(p) for each point of a stroke of one point. Shared by the public
// resampler and the path builder, which turns the points straight into samples.
template <typename Points, typename EmitPoint, typename EmitBetween>
void resampleInto(const Points& points, std::ptrdiff_t m, int count, float length,
                  EmitPoint&& emitPoint, EmitBetween&& emitBetween) {
    if (count <= 0 || m == 0) {
        return;
    }
    if (m == 1) {
        // No segment to walk along: every point sits on the only one.
        for (int i = 0; i < count; ++i) {
            emitPoint(points[0]);
        }
        return;
    }
    const float step = count > 1 ? length / static_cast<float>(count - 1) : 0.0f;
    std::ptrdiff_t k = 0;
    float s = 0.0f;
    float d = glm::distance(points[1].position, points[0].position);
    for (int i = 0; i < count; ++i) {
        // Where segments are longer than a step the walk moves on at most once per
        // point, which is done without a branch: a mispredicted one cost more than
        // measuring the next segment whether it is needed or not.
        if (k < m - 2) {
            const bool onward = d <= s;
            const std::ptrdiff_t next = k + 1;
            const float nextD = glm::distance(points[next + 1].position, points[next].position);
            s = onward ? s - d : s;
            k = onward ? next : k;
            d = onward ? nextD : d;
        }
        while (d <= s && k < m - 2) {
            s -= d;
            ++k;
            d = glm::distance(points[k + 1].position, points[k].position);
        }
        const float t = d > 0.001f ? s / d : 0.0f;
        emitBetween(points[k], points[k + 1], t);
        s += step;
    }
}

// The point a fraction t from a to b, position and colour alike.
ColorPoint between(const ColorPoint& a, const ColorPoint& b, float t) {
    return ColorPoint{a.position * (1.0f - t) + b.position * t, a.color * (1.0f - t) + b.color * t};
}

#if defined(__SSE2__)
// toLaserSample(between(a, b, t)) with x, y, red and green in one vector. Every lane
// takes the scalar form's own operations in its order (4095 - v is 4095 + (-v); a
// colour gets (v * 4095) * intensity, then + 0), and maxps/minps with the operands
// in this order give std::max's and std::min's results, NaN included, so the samples
// are the same to the bit.
struct SampleScale {
    explicit SampleScale(float intensity_)
        : sign(_mm_setr_ps(-1.0f, -1.0f, detail::kProjectorMax, detail::kProjectorMax)),
          gain(_mm_setr_ps(1.0f, 1.0f, intensity_, intensity_)),
          offset(_mm_setr_ps(detail::kProjectorMax, detail::kProjectorMax, 0.0f, 0.0f)),
          top(_mm_set1_ps(detail::kProjectorMax)), intensity(intensity_) {}
    __m128 sign;
    __m128 gain;
    __m128 offset;
    __m128 top;
    float intensity;
};

LaserSample sampleBetween(const ColorPoint& a, const ColorPoint& b, float t, const SampleScale& k) {
    static_assert(offsetof(ColorPoint, color) == 2 * sizeof(float));
    const __m128 from = _mm_loadu_ps(&a.position.x); // x, y, r, g
    const __m128 to = _mm_loadu_ps(&b.position.x);
    const __m128 v =
        _mm_add_ps(_mm_mul_ps(from, _mm_set1_ps(1.0f - t)), _mm_mul_ps(to, _mm_set1_ps(t)));
    const __m128 scaled = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(v, k.sign), k.gain), k.offset);
    const __m128 clamped = _mm_min_ps(_mm_max_ps(scaled, _mm_setzero_ps()), k.top);
    const __m128i whole = _mm_cvttps_epi32(clamped);
    const __m128i packed = _mm_packs_epi32(whole, whole); // 0..4095 fits
    LaserSample sample;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&sample), packed);
    const float blue = a.color.b * (1.0f - t) + b.color.b * t;
    sample.b = detail::quantise(blue * detail::kProjectorMax * k.intensity);
    return sample;
}
#else
struct SampleScale {
    explicit SampleScale(float intensity_) : intensity(intensity_) {}
    float intensity;
};

LaserSample sampleBetween(const ColorPoint& a, const ColorPoint& b, float t, const SampleScale& k) {
    const ColorPoint point = between(a, b, t);
    return toLaserSample(point.position, point.color, k.intensity);
}
#endif

std::int32_t blankCount(glm::vec2 from, glm::vec2 to, float blankStep) {
    return toCount(std::round(glm::distance(to, from) / blankStep));
}

// Writes the `count` samples of a blank move from `from` to `to` at `out`.
LaserSample* writeBlankMove(LaserSample* out, std::int32_t count, glm::vec2 from, glm::vec2 to,
                            glm::vec3 blankColor, float intensity) {
    for (std::int32_t k = 1; k <= count; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(count);
        *out++ = toLaserSample(from * (1.0f - t) + to * t, blankColor, intensity);
    }
    return out;
}

// Appends the blank move to the stroke's first point and the stroke itself, walked
// through `points`. The list grows once per stroke and the samples are written in place.
template <typename Points>
void appendStroke(std::vector<LaserSample>& samples, const Points& points, float length,
                  glm::vec2 beam, float pointSpacing, float blankStep, glm::vec3 blankColor,
                  float intensity) {
    const glm::vec2 start = points[0].position;
    const std::int32_t blanks = blankCount(beam, start, blankStep);
    const std::int32_t count = toCount(length / pointSpacing);
    const std::size_t first = samples.size();
    samples.resize(first + static_cast<std::size_t>(blanks) + static_cast<std::size_t>(count));
    LaserSample* out =
        writeBlankMove(samples.data() + first, blanks, beam, start, blankColor, intensity);
    const SampleScale scale(intensity);
    resampleInto(
        points, points.size, count, length,
        [&](const ColorPoint& point) {
            *out++ = toLaserSample(point.position, point.color, intensity);
        },
        [&](const ColorPoint& a, const ColorPoint& b, float t) {
            *out++ = sampleBetween(a, b, t, scale);
        });
}

// The builder behind both public forms; `lengthOf(i)` gives polyline i's length.
template <typename LengthOf>
glm::vec2 buildPath(const ColorFrame& frame, LengthOf&& lengthOf, std::vector<LaserSample>& samples,
                    glm::vec2 beamPosition, float pointSpacing, float blankStep,
                    glm::vec3 blankColor, float intensity) {
    requirePositive(pointSpacing, "pointSpacing");
    requirePositive(blankStep, "blankStep");
    samples.clear();
    glm::vec2 cur = beamPosition;
    bool drewOne = false;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const ColorPolyline& polyline = frame[i];
        if (polyline.empty()) {
            continue; // nothing to move to: the beam stays where it is
        }
        const auto size = static_cast<std::ptrdiff_t>(polyline.size());
        const float length = lengthOf(i);
        if (drewOne && glm::distance(cur, polyline.front().position) >
                           glm::distance(cur, polyline.back().position)) {
            appendStroke(samples, StrokeView<true>{polyline.data(), size}, length, cur,
                         pointSpacing, blankStep, blankColor, intensity);
            cur = polyline.front().position;
        } else {
            appendStroke(samples, StrokeView<false>{polyline.data(), size}, length, cur,
                         pointSpacing, blankStep, blankColor, intensity);
            cur = polyline.back().position;
        }
        drewOne = true;
    }
    return cur;
}

} // namespace

std::vector<float> pathLengths(const ColorFrame& frame, float& total) {
    std::vector<float> lengths;
    pathLengths(frame, lengths, total);
    return lengths;
}

void pathLengths(const ColorFrame& frame, std::vector<float>& lengths, float& total) {
    total = 0.0f;
    lengths.clear();
    for (const ColorPolyline& polyline : frame) {
        lengths.push_back(polylineLength(polyline));
        total += lengths.back();
    }
}

void appendBlankMove(std::vector<LaserSample>& samples, glm::vec2 from, glm::vec2 to,
                     float blankStep, glm::vec3 blankColor, float intensity) {
    requirePositive(blankStep, "blankStep");
    const std::int32_t count = blankCount(from, to, blankStep);
    const std::size_t first = samples.size();
    samples.resize(first + static_cast<std::size_t>(count));
    writeBlankMove(samples.data() + first, count, from, to, blankColor, intensity);
}

ColorPolyline resampleColorPolyline(const ColorPolyline& points, int count, float length) {
    ColorPolyline result;
    if (count > 0 && !points.empty()) {
        result.reserve(static_cast<std::size_t>(count));
    }
    const auto size = static_cast<std::ptrdiff_t>(points.size());
    resampleInto(
        StrokeView<false>{points.data(), size}, size, count, length,
        [&](const ColorPoint& point) { result.push_back(point); },
        [&](const ColorPoint& a, const ColorPoint& b, float t) {
            result.push_back(between(a, b, t));
        });
    return result;
}

glm::vec2 buildLaserPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                         glm::vec2 beamPosition, float pointSpacing, float blankStep,
                         glm::vec3 blankColor, float intensity) {
    // Each stroke is measured once, just before it is drawn.
    return buildPath(
        frame, [&frame](std::size_t i) { return polylineLength(frame[i]); }, samples, beamPosition,
        pointSpacing, blankStep, blankColor, intensity);
}

glm::vec2 buildLaserPath(const ColorFrame& frame, std::span<const float> lengths,
                         std::vector<LaserSample>& samples, glm::vec2 beamPosition,
                         float pointSpacing, float blankStep, glm::vec3 blankColor,
                         float intensity) {
    if (lengths.size() != frame.size()) {
        throw std::invalid_argument("buildLaserPath needs one length per polyline");
    }
    return buildPath(
        frame, [lengths](std::size_t i) { return lengths[i]; }, samples, beamPosition, pointSpacing,
        blankStep, blankColor, intensity);
}

} // namespace lumarok

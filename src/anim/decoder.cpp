#include "anim/decoder.hpp"

#include "anim/load_diagnostics.hpp"
#include "core/data_error.hpp"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace lumarok {

namespace {

constexpr std::int32_t kOutlineFirst = 0xD0;
constexpr std::int32_t kOutlineLast = 0xDF;
constexpr std::int32_t kOutlineBits = 0xD0;
constexpr std::int64_t kTweenLength = 7;
constexpr float kGridMax = 255.0f;
constexpr float kDrawingMax = 4095.0f;
constexpr float kRowOffset = 25.5f;
constexpr float kClosingDistance = 0.001f;

bool isTweenCode(std::int32_t code) {
    return code == 0xE6 || code == 0xE7 || code == 0xE8 || code == 0xF2;
}

unsigned hex(std::int32_t code) {
    return static_cast<unsigned>(code);
}

// A stored pair is (row, column) on the 0..255 grid; the mapping divides first
// so that the result matches the authoring tool bit for bit.
glm::vec2 toDrawing(float row, float column) {
    return {column / kGridMax * kDrawingMax, (row + kRowOffset) / kGridMax * kDrawingMax};
}

// Raw grid pair k of the outline command at `at`, as (row, column).
glm::vec2 gridPair(std::span<const std::int32_t> data, std::int64_t at, std::int64_t k) {
    const auto base = static_cast<std::size_t>(at + 2 + 2 * k);
    return {static_cast<float>(data[base]), static_cast<float>(data[base + 1])};
}

std::int64_t size(std::span<const std::int32_t> data) {
    return static_cast<std::int64_t>(data.size());
}

// True when an outline of `count` points at `at` lies wholly inside the array.
bool outlineFits(std::span<const std::int32_t> data, std::int64_t at, std::int64_t count) {
    return count >= 0 && at + 2 + 2 * count <= size(data);
}

// Checks one tween reference; prints the message for the first failure.
bool tweenReferenceUsable(std::span<const std::int32_t> data, std::int64_t at) {
    if (at < 0 || at + 1 >= size(data)) {
        dataMessage("Unexpected tween idx %lld outside data\n", static_cast<long long>(at));
        return false;
    }
    const std::int32_t code = data[static_cast<std::size_t>(at)];
    if ((code & kOutlineBits) != kOutlineBits) {
        dataMessage("Unexpected tween idx (from) %X\n", hex(code));
        return false;
    }
    const std::int32_t count = data[static_cast<std::size_t>(at + 1)];
    if (count < 1 || !outlineFits(data, at, count)) {
        dataMessage("Unexpected tween outline size %d at %lld\n", count,
                    static_cast<long long>(at));
        return false;
    }
    return true;
}

void requireWithin(std::int64_t value, std::int64_t limit, const char* what) {
    if (value > limit) {
        throw DataError(std::to_string(value) + " " + what + ", more than the limit of " +
                        std::to_string(limit));
    }
}

// The point count of the outline a tween refers to, 0 when the reference is
// unusable (decodeTween then reports it and builds nothing).
std::int64_t storedPoints(std::span<const std::int32_t> data, std::int64_t at) {
    if (at < 0 || at + 1 >= size(data)) {
        return 0;
    }
    const std::int32_t count = data[static_cast<std::size_t>(at + 1)];
    return outlineFits(data, at, count) ? count : 0;
}

// Counts the points of an outline of `stored` points (one more closes it) before
// they are built.
void addPoints(std::int64_t stored, std::int64_t& framePoints, DecodeTotals& totals) {
    requireWithin(stored, kMaxOutlinePoints, "points in one outline");
    framePoints += stored + 1;
    totals.points += stored + 1;
    requireWithin(framePoints, kMaxFramePoints, "points in one frame");
    requireWithin(totals.points, kMaxDecodedPoints, "points in the show's scenes");
}

} // namespace

Polyline decodeTween(std::span<const std::int32_t> data, std::int64_t from, std::int64_t to,
                     std::int32_t numerator, std::int32_t denominator) {
    if (!tweenReferenceUsable(data, from) || !tweenReferenceUsable(data, to)) {
        return {};
    }
    const float m = denominator == 0
                        ? std::numeric_limits<float>::quiet_NaN()
                        : static_cast<float>(numerator) / static_cast<float>(denominator);
    if (!std::isfinite(m)) {
        dataMessage("Unexpected tween fraction %d/%d\n", numerator, denominator);
        return {};
    }
    const std::int32_t d = data[static_cast<std::size_t>(from + 1)];
    const std::int32_t e = data[static_cast<std::size_t>(to + 1)];
    const std::int32_t count = std::max(d, e);
    const float stepFrom = static_cast<float>(d) / static_cast<float>(count);
    const float stepTo = static_cast<float>(e) / static_cast<float>(count);

    Polyline result;
    result.reserve(static_cast<std::size_t>(count) + 1);
    for (std::int32_t j = 0; j < count; ++j) {
        const float f = static_cast<float>(j) * stepFrom;
        const float floorF = std::floor(f);
        const float t = f - floorF;
        // Single-precision products can round up to the count itself on very long
        // outlines; the clamp keeps those on the last stored point.
        const std::int64_t g = std::min<std::int64_t>(static_cast<std::int64_t>(floorF), d - 1);
        const std::int64_t h = std::min<std::int64_t>(
            static_cast<std::int64_t>(std::floor(static_cast<float>(j) * stepTo)), e - 1);
        const glm::vec2 a =
            (1.0f - t) * gridPair(data, from, g) + t * gridPair(data, from, (g + 1) % d);
        // The to side deliberately reuses the from side's fraction.
        const glm::vec2 c =
            (1.0f - t) * gridPair(data, to, h) + t * gridPair(data, to, (h + 1) % e);
        const glm::vec2 q = (1.0f - m) * a + m * c;
        result.push_back(toDrawing(q.x, q.y));
    }
    // Both outlines were checked to hold a point, but say so here too: back() and front()
    // of an empty outline would read through a null pointer.
    if (!result.empty() && glm::distance(result.back(), result.front()) > kClosingDistance) {
        result.push_back(result.front());
    }
    return result;
}

Frame decodeFrame(std::span<const std::int32_t> data, std::int64_t offset) {
    DecodeTotals totals;
    return decodeFrame(data, offset, totals);
}

Frame decodeFrame(std::span<const std::int32_t> data, std::int64_t offset, DecodeTotals& totals) {
    // Reading a frame's list costs one command even when it is empty, so that a
    // long list of frames counts against the show's bound too.
    requireWithin(++totals.commands, kMaxDecodedCommands, "commands in the show's scenes");
    if (offset < 0 || offset >= size(data)) {
        dataMessage("unexpected draw list offset %lld\n", static_cast<long long>(offset));
        return {};
    }
    const std::int32_t commands = data[static_cast<std::size_t>(offset)];
    if (commands < 0) {
        dataMessage("unexpected draw cmd count %d\n", commands);
        return {};
    }
    Frame frame;
    // The count is only a claim: a few polylines are reserved, more grow as they come.
    frame.reserve(static_cast<std::size_t>(std::min(commands, 16)));
    std::int64_t framePoints = 0;
    std::int64_t i = offset + 1;
    for (std::int32_t command = 0; command < commands; ++command) {
        requireWithin(command + 1, kMaxFrameCommands, "commands in one frame");
        requireWithin(++totals.commands, kMaxDecodedCommands, "commands in the show's scenes");
        if (i >= size(data)) {
            dataMessage("unexpected end of draw data at %lld\n", static_cast<long long>(i));
            return frame;
        }
        const std::int32_t code = data[static_cast<std::size_t>(i)];
        if (code >= kOutlineFirst && code <= kOutlineLast) {
            const std::int32_t n = i + 1 < size(data) ? data[static_cast<std::size_t>(i + 1)] : -1;
            if (!outlineFits(data, i, n)) {
                dataMessage("unexpected outline size %d at %lld\n", n, static_cast<long long>(i));
                return frame;
            }
            if (n > 0) {
                addPoints(n, framePoints, totals);
                Polyline outline;
                outline.reserve(static_cast<std::size_t>(n) + 1);
                for (std::int64_t k = 0; k < n; ++k) {
                    const glm::vec2 pair = gridPair(data, i, k);
                    outline.push_back(toDrawing(pair.x, pair.y));
                }
                outline.push_back(outline.front());
                frame.push_back(std::move(outline));
            }
            i += 2 + 2 * static_cast<std::int64_t>(n);
        } else if (isTweenCode(code)) {
            if (i + kTweenLength > size(data)) {
                dataMessage("unexpected end of draw data at %lld\n", static_cast<long long>(i));
                return frame;
            }
            const auto at = [&](std::int64_t k) {
                return static_cast<std::int64_t>(data[static_cast<std::size_t>(i + k)]);
            };
            const std::int64_t from = (i + 1) - (256 * at(1) + at(2));
            const std::int64_t to = (i + 1) + (256 * at(3) + at(4));
            addPoints(std::max(storedPoints(data, from), storedPoints(data, to)), framePoints,
                      totals);
            Polyline tween = decodeTween(data, from, to, data[static_cast<std::size_t>(i + 5)],
                                         data[static_cast<std::size_t>(i + 6)]);
            if (!tween.empty()) {
                frame.push_back(std::move(tween));
            }
            i += kTweenLength;
        } else {
            dataMessage("unexpected draw cmd %X\n", hex(code));
            return frame;
        }
    }
    return frame;
}

} // namespace lumarok

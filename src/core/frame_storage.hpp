#pragma once

#include "core/shapes.hpp"

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace lumarok {

// Reuse of polyline storage from frame to frame. Shrinking a vector of vectors would
// free the inner storage; these helpers park emptied polylines in pools the caller
// owns instead and hand them out again, so a frame that is refilled every frame stops
// allocating once its buffers have grown to the largest frame seen. A pool grows only
// while frames grow. Thread: a pool belongs to one rendering loop, used by one thread
// at a time.
struct FramePools {
    std::vector<Polyline> points;       // parked polylines of drawing points
    std::vector<ColorPolyline> colored; // parked polylines of coloured points

    template <typename Point> std::vector<std::vector<Point>>& spare() {
        if constexpr (std::is_same_v<Point, ColorPoint>) {
            return colored;
        } else {
            return points;
        }
    }
};

// Every polyline storage the pool makes has room for this many points at least: the
// longest strokes the effects draw (a thousand points resampled along a frame) fit,
// so a polyline that only changes length from frame to frame never grows. Storage
// is then made only when a loop holds more polylines at once than ever before.
inline constexpr std::size_t kPolylineRoom = 1024;
// Room for this many polylines in a frame, made with its first polyline.
inline constexpr std::size_t kFrameRoom = 64;

// Room for `count` points in a kept buffer. Frames vary a little from one to the
// next, so a buffer that must grow takes a margin at once instead of growing again
// for each new largest frame.
template <typename Point> void reserveRoom(std::vector<Point>& points, std::size_t count) {
    if (points.capacity() < count) {
        points.reserve(count + count / 2 + 16);
    }
}

// Empties the frame, keeping the storage of the frame and of its polylines.
template <typename Point>
void clearFrame(std::vector<std::vector<Point>>& frame, FramePools& pools) {
    auto& spare = pools.spare<Point>();
    // Parked last to first, so that the next frame's polyline i gets this frame's
    // polyline i back: its size is usually about the same.
    for (auto polyline = frame.rbegin(); polyline != frame.rend(); ++polyline) {
        polyline->clear();
        spare.push_back(std::move(*polyline));
    }
    frame.clear();
}

// Appends an empty polyline, with parked storage when there is some.
template <typename Point>
std::vector<Point>& addPolyline(std::vector<std::vector<Point>>& frame, FramePools& pools) {
    if (frame.capacity() < kFrameRoom) {
        frame.reserve(kFrameRoom);
    }
    auto& spare = pools.spare<Point>();
    if (spare.empty()) {
        std::vector<Point>& added = frame.emplace_back();
        added.reserve(kPolylineRoom);
        return added;
    }
    std::vector<Point>& added = frame.emplace_back(std::move(spare.back()));
    spare.pop_back();
    return added;
}

// Parks `count` polylines' storage of kPolylineRoom points in the pool beforehand, so
// that the first frames of a show find it ready; returns at once when the pool already
// holds that many.
template <typename Point> void reservePolylines(FramePools& pools, std::size_t count) {
    auto& spare = pools.spare<Point>();
    spare.reserve(count);
    while (spare.size() < count) {
        spare.emplace_back().reserve(kPolylineRoom);
    }
}

} // namespace lumarok

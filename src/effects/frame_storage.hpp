#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace lumarok {

// Reuse of polyline storage from frame to frame. Shrinking a vector of vectors would
// free the inner storage; these helpers park emptied polylines in a per-thread pool
// instead and hand them out again, so a frame that is refilled every frame stops
// allocating once its buffers have grown to the largest frame seen. The pool grows
// only while frames grow, and each thread renders into its own.
template <typename Point> std::vector<std::vector<Point>>& sparePolylines() {
    thread_local std::vector<std::vector<Point>> spare;
    return spare;
}

// Room for `count` points in a kept buffer. Frames vary a little from one to the
// next, so a buffer that must grow takes a margin at once instead of growing again
// for each new largest frame.
template <typename Point> void reserveRoom(std::vector<Point>& points, std::size_t count) {
    if (points.capacity() < count) {
        points.reserve(count + count / 2 + 16);
    }
}

// Empties the frame, keeping the storage of the frame and of its polylines.
template <typename Point> void clearFrame(std::vector<std::vector<Point>>& frame) {
    auto& spare = sparePolylines<Point>();
    // Parked last to first, so that the next frame's polyline i gets this frame's
    // polyline i back: its size is usually about the same.
    for (auto polyline = frame.rbegin(); polyline != frame.rend(); ++polyline) {
        polyline->clear();
        spare.push_back(std::move(*polyline));
    }
    frame.clear();
}

// Appends an empty polyline, with parked storage when there is some.
template <typename Point> std::vector<Point>& addPolyline(std::vector<std::vector<Point>>& frame) {
    auto& spare = sparePolylines<Point>();
    if (spare.empty()) {
        return frame.emplace_back();
    }
    std::vector<Point>& added = frame.emplace_back(std::move(spare.back()));
    spare.pop_back();
    return added;
}

// Removes the polylines from `count` on, parking their storage.
template <typename Point>
void truncateFrame(std::vector<std::vector<Point>>& frame, std::size_t count) {
    auto& spare = sparePolylines<Point>();
    while (frame.size() > count) {
        frame.back().clear();
        spare.push_back(std::move(frame.back()));
        frame.pop_back();
    }
}

} // namespace lumarok

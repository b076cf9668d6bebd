#include "anim/scene.hpp"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

namespace lumarok {

namespace {

constexpr double kFrameSeconds = 0.04;
// Neighbouring polylines that move further than this are different strokes,
// not one stroke in motion, and are not blended.
constexpr float kBlendLimit = 700.0f;

// Writes a blended toward b into `result`, whose storage is kept.
void blendInto(const Polyline& a, const Polyline& b, float t, Polyline& result) {
    result.clear();
    reserveRoom(result, a.size());
    if (a.size() != b.size()) {
        result.assign(a.begin(), a.end());
        return;
    }
    float largest = 0.0f;
    for (std::size_t j = 0; j < a.size(); ++j) {
        largest = std::max(largest, glm::distance(a[j], b[j]));
    }
    if (!(largest < kBlendLimit)) {
        result.assign(a.begin(), a.end());
        return;
    }
    for (std::size_t j = 0; j < a.size(); ++j) {
        result.push_back((1.0f - t) * a[j] + t * b[j]);
    }
}

} // namespace

Frame Scene::frameAt(double sceneSeconds) const {
    Frame result;
    FramePools pools;
    appendFrameAt(sceneSeconds, result, pools);
    return result;
}

void Scene::appendFrameAt(double sceneSeconds, Frame& out, FramePools& pools) const {
    const double p = sceneSeconds / kFrameSeconds;
    // Truncation maps -1 < p < 0 to frame 0; anything else outside the scene
    // (or not a number) shows nothing rather than reading past the frames.
    if (!(p > -1.0 && p < static_cast<double>(frames.size()))) {
        return;
    }
    const auto k = static_cast<std::size_t>(static_cast<std::int64_t>(p));
    const auto t = static_cast<float>(p - std::floor(p));
    const Frame& current = frames[k];
    if (k + 1 == frames.size() || current.size() != frames[k + 1].size()) {
        for (const Polyline& polyline : current) {
            Polyline& copy = addPolyline(out, pools);
            reserveRoom(copy, polyline.size());
            copy.assign(polyline.begin(), polyline.end());
        }
        return;
    }
    const Frame& next = frames[k + 1];
    for (std::size_t i = 0; i < current.size(); ++i) {
        blendInto(current[i], next[i], t, addPolyline(out, pools));
    }
}

} // namespace lumarok

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

Polyline blend(const Polyline& a, const Polyline& b, float t) {
    if (a.size() != b.size()) {
        return a;
    }
    float largest = 0.0f;
    for (std::size_t j = 0; j < a.size(); ++j) {
        largest = std::max(largest, glm::distance(a[j], b[j]));
    }
    if (!(largest < kBlendLimit)) {
        return a;
    }
    Polyline result;
    result.reserve(a.size());
    for (std::size_t j = 0; j < a.size(); ++j) {
        result.push_back((1.0f - t) * a[j] + t * b[j]);
    }
    return result;
}

} // namespace

Frame Scene::frameAt(double sceneSeconds) const {
    const double p = sceneSeconds / kFrameSeconds;
    // Truncation maps -1 < p < 0 to frame 0; anything else outside the scene
    // (or not a number) shows nothing rather than reading past the frames.
    if (!(p > -1.0 && p < static_cast<double>(frames.size()))) {
        return {};
    }
    const auto k = static_cast<std::size_t>(static_cast<std::int64_t>(p));
    const auto t = static_cast<float>(p - std::floor(p));
    const Frame& current = frames[k];
    if (k + 1 == frames.size() || current.size() != frames[k + 1].size()) {
        return current;
    }
    const Frame& next = frames[k + 1];
    Frame result;
    result.reserve(current.size());
    for (std::size_t i = 0; i < current.size(); ++i) {
        result.push_back(blend(current[i], next[i], t));
    }
    return result;
}

} // namespace lumarok

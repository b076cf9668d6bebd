#include "preview/preview_vertices.hpp"

namespace lumarok {

namespace {
constexpr float kMaxLevel = 4095.0f;
} // namespace

PreviewVertex previewVertex(const LaserSample& sample) {
    // The path builder mirrors both axes for the projector; mirroring again
    // shows the drawing space as authored, origin at the top-left.
    return PreviewVertex{
        kMaxLevel - static_cast<float>(sample.x), kMaxLevel - static_cast<float>(sample.y),
        static_cast<float>(sample.r) / kMaxLevel, static_cast<float>(sample.g) / kMaxLevel,
        2.0f * static_cast<float>(sample.b) / kMaxLevel};
}

void buildPreviewSegments(const std::vector<LaserSample>& samples,
                          std::vector<PreviewVertex>& vertices) {
    vertices.clear();
    if (samples.size() < 2) {
        return;
    }
    vertices.reserve(2 * (samples.size() - 1));
    PreviewVertex previous = previewVertex(samples.front());
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const PreviewVertex current = previewVertex(samples[i]);
        vertices.push_back(previous);
        vertices.push_back(current);
        previous = current;
    }
}

} // namespace lumarok

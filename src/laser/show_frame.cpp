#include "laser/show_frame.hpp"

#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "core/frame_storage.hpp"
#include "laser/laser_frame.hpp"
#include "laser/laser_path.hpp"

namespace lumarok {

namespace {
constexpr glm::vec3 kBlankColor{0.0f, 0.0f, 0.0f};
}

ColorFrame renderShowFrame(const ShowSources& sources, double showTime) {
    const Frame frame = sampleAnimation(sources.animation, showTime);
    return sources.timeline.renderAt(showTime, frame);
}

void prepareFrameStorage(const Animation& animation, FramePools& pools) {
    // The sampled frame, the effects' working frames and the drawn frame take a
    // sampled frame's polylines each, or a few dozen strokes of text.
    const std::size_t polylines = 8 * largestPolylineCount(animation) + kFrameRoom;
    reservePolylines<glm::vec2>(pools, polylines);
    reservePolylines<ColorPoint>(pools, polylines / 2);
}

const ColorFrame& renderShowFrame(const ShowSources& sources, double showTime,
                                  ShowFrameBuffers& buffers) {
    if (!buffers.prepared) {
        prepareFrameStorage(sources.animation, buffers.storage.pools());
        buffers.prepared = true;
    }
    sampleAnimation(sources.animation, showTime, buffers.animation, buffers.storage.pools());
    sources.timeline.renderAt(showTime, buffers.animation, buffers.drawn, buffers.storage);
    return buffers.drawn;
}

namespace {

// No path passes the budget (stepsWithinBudget widens its steps first), so a sample
// list with room for the budget never grows again.
void reserveBudget(std::vector<LaserSample>& samples) {
    if (samples.capacity() < kFrameSampleBudget) {
        samples.reserve(kFrameSampleBudget);
    }
}

} // namespace

glm::vec2 buildPreviewPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                           glm::vec2 beamPosition) {
    reserveBudget(samples);
    const PathSteps steps =
        stepsWithinBudget(frame, beamPosition, {kPreviewPointSpacing, kBlankStep});
    return buildLaserPath(frame, samples, beamPosition, steps.pointSpacing, steps.blankStep,
                          kBlankColor, kPreviewIntensity);
}

LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity) {
    std::vector<float> lengths;
    return buildLaserFramePath(frame, samples, beamPosition, intensity, lengths);
}

LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity,
                              std::vector<float>& lengths) {
    // Measured once: the total sets the spacing, the lengths drive the builder.
    reserveRoom(lengths, kFrameRoom);
    reserveBudget(samples);
    float total = 0.0f;
    pathLengths(frame, lengths, total);
    const PathSteps steps =
        stepsWithinBudget(frame, lengths, beamPosition, {laserPointSpacing(total), kBlankStep});
    return {buildLaserPath(frame, lengths, samples, beamPosition, steps.pointSpacing,
                           steps.blankStep, kBlankColor, intensity),
            steps.pointSpacing};
}

} // namespace lumarok

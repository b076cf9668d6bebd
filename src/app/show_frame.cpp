#include "app/show_frame.hpp"

#include "anim/sampler.hpp"
#include "app/laser_frame.hpp"
#include "laser/laser_path.hpp"

namespace lumarok {

namespace {
constexpr glm::vec3 kBlankColor{0.0f, 0.0f, 0.0f};
}

ColorFrame renderShowFrame(const ShowSources& sources, double showTime) {
    const Frame frame = sampleAnimation(sources.animation, showTime);
    return sources.timeline.renderAt(showTime, frame);
}

const ColorFrame& renderShowFrame(const ShowSources& sources, double showTime,
                                  ShowFrameBuffers& buffers) {
    sampleAnimation(sources.animation, showTime, buffers.animation);
    sources.timeline.renderAt(showTime, buffers.animation, buffers.drawn);
    return buffers.drawn;
}

glm::vec2 buildPreviewPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                           glm::vec2 beamPosition) {
    const PathSteps steps =
        stepsWithinBudget(frame, beamPosition, {kPreviewPointSpacing, kBlankStep});
    return buildLaserPath(frame, samples, beamPosition, steps.pointSpacing, steps.blankStep,
                          kBlankColor, kPreviewIntensity);
}

LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity) {
    // Measured once: the total sets the spacing, the lengths drive the builder.
    thread_local std::vector<float> lengths; // per rendering thread, kept between frames
    float total = 0.0f;
    pathLengths(frame, lengths, total);
    const PathSteps steps =
        stepsWithinBudget(frame, beamPosition, {laserPointSpacing(total), kBlankStep});
    return {buildLaserPath(frame, lengths, samples, beamPosition, steps.pointSpacing,
                           steps.blankStep, kBlankColor, intensity),
            steps.pointSpacing};
}

} // namespace lumarok

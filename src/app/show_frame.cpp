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

glm::vec2 buildPreviewPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                           glm::vec2 beamPosition) {
    const PathSteps steps =
        stepsWithinBudget(frame, beamPosition, {kPreviewPointSpacing, kBlankStep});
    return buildLaserPath(frame, samples, beamPosition, steps.pointSpacing, steps.blankStep,
                          kBlankColor, kPreviewIntensity);
}

LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity) {
    float total = 0.0f;
    (void)pathLengths(frame, total);
    const PathSteps steps =
        stepsWithinBudget(frame, beamPosition, {laserPointSpacing(total), kBlankStep});
    return {buildLaserPath(frame, samples, beamPosition, steps.pointSpacing, steps.blankStep,
                           kBlankColor, intensity),
            steps.pointSpacing};
}

} // namespace lumarok

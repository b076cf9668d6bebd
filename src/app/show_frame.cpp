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
    return buildLaserPath(frame, samples, beamPosition, kPreviewPointSpacing, kBlankStep,
                          kBlankColor, kPreviewIntensity);
}

LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity) {
    // Measured once: the total sets the spacing, the lengths drive the builder.
    thread_local std::vector<float> lengths; // per rendering thread, kept between frames
    float total = 0.0f;
    pathLengths(frame, lengths, total);
    const float pointSpacing = laserPointSpacing(total);
    return {buildLaserPath(frame, lengths, samples, beamPosition, pointSpacing, kBlankStep,
                           kBlankColor, intensity),
            pointSpacing};
}

} // namespace lumarok

#include "app/laser_loop.hpp"

namespace lumarok {

glm::vec2 runLaserLoop(const StopFlags& stop, const BuildLaserFrame& build, FrameHandoff& handoff) {
    std::vector<LaserSample> samples; // swapped with the sender's, never reallocated needlessly
    glm::vec2 beamPosition{0.0f, 0.0f};
    while (!stop.raised() && !handoff.closed()) {
        if (!handoff.waitUntilWanted(kRenderPoll)) {
            continue;
        }
        beamPosition = build(samples, beamPosition);
        handoff.publish(samples);
    }
    return beamPosition;
}

} // namespace lumarok

#include "app/laser_loop.hpp"

#include "app/laser_frame.hpp"

namespace lumarok {

glm::vec2 runLaserLoop(const std::atomic<bool>& stopRequested, const BuildLaserFrame& build,
                       const SendLaserFrame& send) {
    std::vector<LaserSample> samples; // reused frame after frame
    glm::vec2 beamPosition{0.0f, 0.0f};
    while (!stopRequested.load(std::memory_order_relaxed)) {
        beamPosition = build(samples, beamPosition);
        send(samples);
    }
    fillDarkFrame(samples, beamPosition);
    send(samples);
    return beamPosition;
}

} // namespace lumarok

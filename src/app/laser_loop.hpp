#pragma once

#include "laser/laser_sample.hpp"

#include <glm/vec2.hpp>

#include <atomic>
#include <functional>
#include <vector>

namespace lumarok {

// Renders one frame into the samples (emptied and refilled), starting the beam at the
// given position; returns where the beam ends.
using BuildLaserFrame = std::function<glm::vec2(std::vector<LaserSample>&, glm::vec2)>;
using SendLaserFrame = std::function<void(const std::vector<LaserSample>&)>;

// Renders and sends frames back to back until stopRequested is set; the sender paces
// the loop. Then sends one short dark frame at the beam's last position, so the beam
// does not stay lit where the show left it. Returns the beam's last position.
// Thread: the caller's; stopRequested may be set from a signal handler or another thread.
glm::vec2 runLaserLoop(const std::atomic<bool>& stopRequested, const BuildLaserFrame& build,
                       const SendLaserFrame& send);

} // namespace lumarok

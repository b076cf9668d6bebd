#pragma once

#include "app/frame_handoff.hpp"
#include "laser/laser_output.hpp"
#include "laser/laser_sample.hpp"

#include <glm/vec2.hpp>

#include <chrono>
#include <functional>
#include <vector>

namespace lumarok {

// Renders one frame into the samples (emptied and refilled), starting the beam at the
// given position; returns where the beam ends.
using BuildLaserFrame = std::function<glm::vec2(std::vector<LaserSample>&, glm::vec2)>;

// Longest wait of the render loop for the sender's request. The sender wakes it when
// it ends, whatever ended it, so this only bounds how late a stop nobody told the
// sender about is seen; the beam's safety never waits on it.
inline constexpr std::chrono::milliseconds kRenderPoll{250};

// Renders a frame each time the sender asks for one, at the time it asks it for, and
// hands it over, until `stop` is raised or the sender closes the handoff. The sender sets the pace;
// this loop never sends. An error of `build` leaves the loop. Returns the beam's last position.
// Thread: the caller's (the renderer); the flags may be raised from anywhere.
glm::vec2 runLaserLoop(const StopFlags& stop, const BuildLaserFrame& build, FrameHandoff& handoff);

} // namespace lumarok

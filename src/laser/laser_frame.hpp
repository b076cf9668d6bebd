#pragma once

#include "core/laser_sample.hpp"
#include "core/shapes.hpp"

#include <glm/vec2.hpp>

#include <cstddef>
#include <span>
#include <vector>

namespace lumarok {

inline constexpr float kPreviewPointSpacing = 25.0f; // drawing units
inline constexpr float kBlankStep = 30.0f;           // drawing units
inline constexpr float kPreviewIntensity = 1.0f;
// Samples in the dark frame sent when laser mode ends.
inline constexpr std::size_t kDarkFrameSamples = 100;

// No frame handed to the projector, the preview or a render holds more samples than
// this: one second at the projector's 30000 samples per second (the demo show's
// frames hold fewer than 1000).
inline constexpr std::size_t kFrameSampleBudget = 30000;

// The two steps of a path, in drawing units.
struct PathSteps {
    float pointSpacing;
    float blankStep;
};

// The most samples buildLaserPath can make of the frame with these steps from the
// beam position, whichever way it turns the strokes (with a margin for rounding).
[[nodiscard]] double pathSampleBound(const ColorFrame& frame, glm::vec2 beamPosition,
                                     PathSteps steps);

// `wanted` when the frame fits the budget with it. A larger frame gets both steps
// widened by one factor until it fits, and a line on standard error says so (at
// most one line in 5 s, counting the frames in between). Any thread.
[[nodiscard]] PathSteps stepsWithinBudget(const ColorFrame& frame, glm::vec2 beamPosition,
                                          PathSteps wanted,
                                          std::size_t budget = kFrameSampleBudget);
// The same for a frame whose polylines the caller has measured (pathLengths): a frame
// far within the budget by those lengths is passed without measuring it again.
[[nodiscard]] PathSteps stepsWithinBudget(const ColorFrame& frame, std::span<const float> lengths,
                                          glm::vec2 beamPosition, PathSteps wanted,
                                          std::size_t budget = kFrameSampleBudget);

// Laser-loop point spacing for a frame with this total path length: 25 drawing units
// up to 18000, rising linearly to 70 at 30000 and beyond (NaN counts as short).
[[nodiscard]] float laserPointSpacing(float totalPathLength);

// A black sample at a drawing-space position, mirrored and clamped the way the path
// builder maps positions for the projector.
[[nodiscard]] LaserSample darkSampleAt(glm::vec2 position);

// Replaces the list with `count` dark samples at the position, keeping its storage.
void fillDarkFrame(std::vector<LaserSample>& samples, glm::vec2 position,
                   std::size_t count = kDarkFrameSamples);

} // namespace lumarok

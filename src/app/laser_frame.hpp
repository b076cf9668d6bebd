#pragma once

#include "laser/laser_sample.hpp"

#include <glm/vec2.hpp>

#include <cstddef>
#include <vector>

namespace lumarok {

inline constexpr float kPreviewPointSpacing = 25.0f; // drawing units
inline constexpr float kBlankStep = 30.0f;           // drawing units
inline constexpr float kPreviewIntensity = 1.0f;
// Samples in the dark frame sent when laser mode ends.
inline constexpr std::size_t kDarkFrameSamples = 100;

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

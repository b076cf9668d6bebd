#include "app/laser_frame.hpp"

#include <algorithm>
#include <cstdint>

namespace lumarok {

float laserPointSpacing(float totalPathLength) {
    // max before min, so a NaN total falls to the short end instead of spreading.
    const float fade = std::min(1.0f, std::max(0.0f, (totalPathLength - 18000.0f) / 12000.0f));
    return 25.0f + 45.0f * fade;
}

namespace {

std::uint16_t projectorCoordinate(float v) {
    return static_cast<std::uint16_t>(std::min(4095.0f, std::max(0.0f, v)));
}

} // namespace

LaserSample darkSampleAt(glm::vec2 position) {
    LaserSample s;
    s.x = projectorCoordinate(4095.0f - position.x);
    s.y = projectorCoordinate(4095.0f - position.y);
    return s;
}

void fillDarkFrame(std::vector<LaserSample>& samples, glm::vec2 position, std::size_t count) {
    samples.assign(count, darkSampleAt(position));
}

} // namespace lumarok

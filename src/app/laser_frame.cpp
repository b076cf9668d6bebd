#include "app/laser_frame.hpp"

#include "laser/laser_path.hpp"

#include <algorithm>

namespace lumarok {

float laserPointSpacing(float totalPathLength) {
    // max before min, so a NaN total falls to the short end instead of spreading.
    const float fade = std::min(1.0f, std::max(0.0f, (totalPathLength - 18000.0f) / 12000.0f));
    return 25.0f + 45.0f * fade;
}

LaserSample darkSampleAt(glm::vec2 position) {
    return toLaserSample(position, glm::vec3(0.0f), 0.0f);
}

void fillDarkFrame(std::vector<LaserSample>& samples, glm::vec2 position, std::size_t count) {
    samples.assign(count, darkSampleAt(position));
}

} // namespace lumarok

#pragma once

#include <cstdint>
#include <type_traits>

namespace lumarok {

// One projector sample; these exact ten bytes travel in the sample packets.
// Every field runs 0..4095.
struct LaserSample {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t r = 0;
    std::uint16_t g = 0;
    std::uint16_t b = 0;
};
static_assert(sizeof(LaserSample) == 10, "LaserSample must be ten bytes without padding");
static_assert(std::is_trivially_copyable_v<LaserSample>);

} // namespace lumarok

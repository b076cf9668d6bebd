#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok::test {

// A device information datagram that a host other than the projector sends: a
// 30000 samples/s device with a 6000-sample buffer that claims to have moved to
// 10.213.0.77. Heeded, it would send the stream elsewhere.
inline std::vector<std::uint8_t> forgedDeviceInfo() {
    std::vector<std::uint8_t> moved(38, 0);
    moved[0] = 0x77;
    moved[10] = 0x30; // 30000 samples per second
    moved[11] = 0x75;
    moved[21] = 0x70; // a 6000-sample buffer
    moved[22] = 0x17;
    moved[32] = 10;
    moved[33] = 213;
    moved[35] = 77;
    for (const char c : std::string("forged")) {
        moved.push_back(static_cast<std::uint8_t>(c));
    }
    moved.push_back(0);
    return moved;
}

} // namespace lumarok::test

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok::relay {

struct Options {
    std::string listen;   // own IPv4 address the player sends to
    std::string device;   // the projector's IPv4 address
    double delayMs = 0.0; // one-way delay, each way
    double lossPercent = 0.0;
    std::uint32_t seed = 1;
    double seconds = 0.0; // 0: until SIGINT or SIGTERM
    bool help = false;
};

extern const char* const kUsage;

// Throws std::invalid_argument with a message for the user.
Options parseOptions(const std::vector<std::string>& arguments);

} // namespace lumarok::relay

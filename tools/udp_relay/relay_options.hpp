#pragma once

#include "net/ipv4_address.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok::relay {

struct Options {
    std::optional<Ipv4Address> listen; // own address the player sends to
    std::optional<Ipv4Address> device; // the projector's address
    double delayMs = 0.0;              // one-way delay, each way
    double lossPercent = 0.0;
    std::uint32_t seed = 1;
    double seconds = 0.0; // 0: until SIGINT or SIGTERM
    bool help = false;
};

extern const char* const kUsage;

// Throws std::invalid_argument with a message for the user.
Options parseOptions(const std::vector<std::string>& arguments);

} // namespace lumarok::relay

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok {

// Where --status-to sends: a numeric IPv4 address and a UDP port.
struct StatusTarget {
    std::string host;
    std::uint16_t port = 0;
};

// The directed broadcast address of an IPv4 subnet this machine is on (host byte order),
// with the interface's name for messages.
struct SubnetBroadcast {
    std::uint32_t address = 0;
    std::string interfaceName;
};

// The broadcast addresses of the subnets of every local IPv4 interface (loopback
// included: 127.255.255.255), /31 and /32 left out as they have none.
[[nodiscard]] std::vector<SubnetBroadcast> localSubnetBroadcasts();

// Why HOST (host byte order) is not one host to send the status to, or "" when it is:
// 0.0.0.0/8 ("this network"), multicast 224.0.0.0/4, reserved 240.0.0.0/4 with the
// limited broadcast 255.255.255.255, and the broadcast address of a local subnet.
[[nodiscard]] std::string statusHostRefusal(std::uint32_t host,
                                            const std::vector<SubnetBroadcast>& broadcasts);

// Reads "HOST:PORT" (dotted IPv4 address of one host, port 1..65535), refusing what
// statusHostRefusal refuses for this machine's subnets; throws std::invalid_argument.
[[nodiscard]] StatusTarget parseStatusTarget(const std::string& text);

} // namespace lumarok

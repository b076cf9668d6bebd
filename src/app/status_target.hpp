#pragma once

#include "clock/ipv4_address.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok {

// The directed broadcast address of an IPv4 subnet this machine is on, with the
// interface's name for messages.
struct SubnetBroadcast {
    Ipv4Address address;
    std::string interfaceName;
};

// The broadcast addresses of the subnets of every local IPv4 interface (loopback
// included: 127.255.255.255), /31 and /32 left out as they have none.
[[nodiscard]] std::vector<SubnetBroadcast> localSubnetBroadcasts();

// Why HOST is not one host to send the status to, or "" when it is:
// 0.0.0.0/8 ("this network"), multicast 224.0.0.0/4, reserved 240.0.0.0/4 with the
// limited broadcast 255.255.255.255, and the broadcast address of a local subnet.
[[nodiscard]] std::string statusHostRefusal(Ipv4Address host,
                                            const std::vector<SubnetBroadcast>& broadcasts);

// Reads where --status-to sends, "HOST:PORT" (dotted IPv4 address of one host, port
// 1..65535), refusing what statusHostRefusal refuses for this machine's subnets; throws
// std::invalid_argument.
[[nodiscard]] Ipv4Endpoint parseStatusTarget(const std::string& text);

} // namespace lumarok

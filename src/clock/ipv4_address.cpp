#include "clock/ipv4_address.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace lumarok {

std::optional<Ipv4Address> Ipv4Address::parse(const std::string& text) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    return fromNetworkOrder(parsed.s_addr);
}

Ipv4Address Ipv4Address::fromNetworkOrder(std::uint32_t networkOrder) {
    return Ipv4Address(ntohl(networkOrder));
}

std::uint32_t Ipv4Address::networkOrder() const {
    return htonl(bits);
}

std::string Ipv4Address::text() const {
    return std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xffU) + "." +
           std::to_string((bits >> 8) & 0xffU) + "." + std::to_string(bits & 0xffU);
}

std::string Ipv4Endpoint::text() const {
    return address.text() + ":" + std::to_string(port);
}

sockaddr_in socketAddress(Ipv4Endpoint endpoint) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(endpoint.port);
    result.sin_addr.s_addr = endpoint.address.networkOrder();
    return result;
}

Ipv4Endpoint endpointOf(const sockaddr_in& address) {
    return {Ipv4Address::fromNetworkOrder(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

Ipv4Address addressOf(const sockaddr* address) {
    return Ipv4Address::fromNetworkOrder(
        reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

} // namespace lumarok

#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sockaddr;
struct sockaddr_in;

namespace lumarok {

// An IPv4 address, held in host byte order: 10.0.0.1 is 0x0A000001, so the first dotted
// number is the top byte and ranges mask and compare as plain integers. Network byte
// order appears only where the system or the wire needs it, through networkOrder() and
// fromNetworkOrder(). Parsed once where the text comes in; printed by text().
class Ipv4Address {
public:
    constexpr Ipv4Address() = default;
    constexpr explicit Ipv4Address(std::uint32_t hostOrder) : bits(hostOrder) {}

    // Four decimal numbers 0..255 with dots, nothing else ("10.0.0.1"); nullopt otherwise.
    [[nodiscard]] static std::optional<Ipv4Address> parse(const std::string& text);
    [[nodiscard]] static Ipv4Address fromNetworkOrder(std::uint32_t networkOrder);

    [[nodiscard]] constexpr std::uint32_t hostOrder() const { return bits; }
    [[nodiscard]] std::uint32_t networkOrder() const;
    // Dotted decimal: parse(text()) gives the address back.
    [[nodiscard]] std::string text() const;

    friend constexpr auto operator<=>(Ipv4Address, Ipv4Address) = default;

private:
    std::uint32_t bits = 0;
};

inline constexpr Ipv4Address kAnyAddress{0};
inline constexpr Ipv4Address kBroadcastAddress{0xFFFFFFFFU};
inline constexpr Ipv4Address kLoopbackAddress{0x7F000001U};

// An IPv4 address with a UDP port (host byte order).
struct Ipv4Endpoint {
    Ipv4Address address;
    std::uint16_t port = 0;

    [[nodiscard]] std::string text() const; // "10.0.0.1:45457"
    friend constexpr bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

// The system's form of an endpoint, for the few places that call the socket layer.
[[nodiscard]] sockaddr_in socketAddress(Ipv4Endpoint endpoint);
[[nodiscard]] Ipv4Endpoint endpointOf(const sockaddr_in& address);
// The address of an AF_INET sockaddr (as getifaddrs gives them).
[[nodiscard]] Ipv4Address addressOf(const sockaddr* address);

// An IPv4 address with a prefix length: "10.0.0.0/8", or one host ("127.0.0.1" is /32).
struct AddressRange {
    Ipv4Address network; // host bits cleared
    int prefixLength = 32;

    // Throws std::invalid_argument naming the text when it is not ADDR or ADDR/0..32.
    [[nodiscard]] static AddressRange parse(const std::string& text);
    [[nodiscard]] bool contains(Ipv4Address address) const;
    [[nodiscard]] std::string text() const;
};

// Whether a sender may be heard: an empty list lets everyone in.
[[nodiscard]] bool allowedBy(const std::vector<AddressRange>& senders, Ipv4Address address);

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

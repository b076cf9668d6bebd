#include "app/status_target.hpp"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace lumarok {

namespace {

struct IfaddrsDeleter {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

} // namespace

std::vector<SubnetBroadcast> localSubnetBroadcasts() {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        throw std::system_error(errno, std::system_category(), "cannot list network interfaces");
    }
    const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
    std::vector<SubnetBroadcast> found;
    for (const ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            a->ifa_netmask == nullptr) {
            continue;
        }
        const std::uint32_t mask = addressOf(a->ifa_netmask).hostOrder();
        if ((~mask & 0xFFFFFFFEu) == 0) { // /31 and /32: every address is a host
            continue;
        }
        found.push_back({Ipv4Address(addressOf(a->ifa_addr).hostOrder() | ~mask), a->ifa_name});
    }
    return found;
}

std::string statusHostRefusal(Ipv4Address address, const std::vector<SubnetBroadcast>& broadcasts) {
    const std::uint32_t host = address.hostOrder();
    if ((host >> 24) == 0) {
        return "0.0.0.0/8 names no host";
    }
    if ((host >> 28) == 0xEu) {
        return "a multicast address";
    }
    if (host == 0xFFFFFFFFu) {
        return "the broadcast address";
    }
    if ((host >> 28) == 0xFu) {
        return "reserved (240.0.0.0/4)";
    }
    for (const SubnetBroadcast& broadcast : broadcasts) {
        if (broadcast.address == address) {
            return "the broadcast address of the subnet of " + broadcast.interfaceName;
        }
    }
    return {};
}

Ipv4Endpoint parseStatusTarget(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw std::invalid_argument("--status-to takes HOST:PORT, not '" + text + "'");
    }
    const std::string host = text.substr(0, colon);
    const std::optional<Ipv4Address> address = Ipv4Address::parse(host);
    if (!address) {
        throw std::invalid_argument("--status-to wants a numeric IPv4 address, not '" + host + "'");
    }
    const std::string refusal = statusHostRefusal(*address, localSubnetBroadcasts());
    if (!refusal.empty()) {
        throw std::invalid_argument("--status-to sends to one host, not to '" + host +
                                    "': " + refusal);
    }
    Ipv4Endpoint target{*address, 0};
    const std::string port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || error != std::errc{} || end != port.data() + port.size() || value == 0 ||
        value > 65535) {
        throw std::invalid_argument("--status-to wants a port from 1 to 65535, not '" + port + "'");
    }
    target.port = static_cast<std::uint16_t>(value);
    return target;
}

} // namespace lumarok

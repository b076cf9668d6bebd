#include "net/ipv4_address.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

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

namespace {

std::uint32_t maskOf(int prefixLength) {
    return prefixLength == 0 ? 0U : ~std::uint32_t{0} << (32 - prefixLength);
}

} // namespace

AddressRange AddressRange::parse(const std::string& text) {
    const std::size_t slash = text.find('/');
    const std::string address = text.substr(0, slash);
    const std::optional<Ipv4Address> parsed = Ipv4Address::parse(address);
    if (!parsed) {
        throw std::invalid_argument("'" + text + "' is not an IPv4 address[/prefix]");
    }
    AddressRange range;
    if (slash != std::string::npos) {
        const char* first = text.data() + slash + 1;
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, range.prefixLength);
        if (first == last || error != std::errc{} || end != last || range.prefixLength < 0 ||
            range.prefixLength > 32) {
            throw std::invalid_argument("'" + text + "' has no prefix length from 0 to 32");
        }
    }
    range.network = Ipv4Address(parsed->hostOrder() & maskOf(range.prefixLength));
    return range;
}

bool AddressRange::contains(Ipv4Address address) const {
    return Ipv4Address(address.hostOrder() & maskOf(prefixLength)) == network;
}

std::string AddressRange::text() const {
    return network.text() + "/" + std::to_string(prefixLength);
}

bool allowedBy(const std::vector<AddressRange>& senders, Ipv4Address address) {
    return senders.empty() ||
           std::any_of(senders.begin(), senders.end(),
                       [address](const AddressRange& range) { return range.contains(address); });
}

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

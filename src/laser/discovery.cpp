#include "laser/discovery.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <system_error>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// A device answering our own broadcast echo would otherwise be asked thousands of
// times per second; this is the floor between two requests on one interface.
constexpr auto kRequestInterval = std::chrono::milliseconds(250);
// The longest a wait goes without looking at the stop flag.
constexpr auto kStopCheck = std::chrono::milliseconds(50);
constexpr std::size_t kReceiveBytes = 4096;
constexpr std::array<std::byte, 1> kRequest{std::byte{kDeviceInfoTag}};

struct Interface {
    std::string name;
    unsigned index = 0;
    Ipv4Address local;
    Ipv4Address broadcast;
};

struct IfaddrsDeleter {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

// The up, broadcast-capable IPv4 interfaces, read afresh each round so that one
// coming up during discovery is asked too.
std::vector<Interface> broadcastInterfaces(const std::string& only) {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        throw std::system_error(errno, std::system_category(), "cannot list network interfaces");
    }
    const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
    std::vector<Interface> found;
    for (const ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
        const unsigned wantedFlags = IFF_UP | IFF_BROADCAST;
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            a->ifa_broadaddr == nullptr || (a->ifa_flags & wantedFlags) != wantedFlags ||
            (a->ifa_flags & IFF_LOOPBACK) != 0 || (!only.empty() && only != a->ifa_name)) {
            continue;
        }
        Interface item;
        item.name = a->ifa_name;
        item.index = ::if_nametoindex(a->ifa_name);
        item.local = addressOf(a->ifa_addr);
        item.broadcast = addressOf(a->ifa_broadaddr);
        found.push_back(item);
    }
    return found;
}

// Sends one request; with a non-zero interface index the datagram leaves through that
// interface from `local`. Returns 0 or the errno of the failure.
int sendRequest(int handle, Ipv4Address destination, unsigned interfaceIndex, Ipv4Address local) {
    sockaddr_in to = socketAddress({destination, kCommandPort});
    iovec part{const_cast<std::byte*>(kRequest.data()), kRequest.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (interfaceIndex != 0) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(interfaceIndex);
        info.ipi_spec_dst.s_addr = local.networkOrder();
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    return ::sendmsg(handle, &message, 0) < 0 ? errno : 0;
}

} // namespace

Discovery::Discovery(UdpSocket& requests, ProjectorChoice wanted)
    : socket(requests), choice(std::move(wanted)) {
    if (!choice.interfaceName.empty()) {
        interfaceIndex = ::if_nametoindex(choice.interfaceName.c_str());
        if (interfaceIndex == 0) {
            throw std::invalid_argument("no network interface " + choice.interfaceName);
        }
    }
    for (const std::string& projector : choice.projectors) {
        if (const std::optional<Ipv4Address> address = Ipv4Address::parse(projector)) {
            directAddresses.push_back(*address);
        }
    }
    // The interface an answer came in on, for --interface.
    const int on = 1;
    if (::setsockopt(requests.nativeHandle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0) {
        throw std::system_error(errno, std::system_category(), "cannot ask for packet info");
    }
}

void Discovery::sendRound() {
    lastRound = Clock::now();
    std::vector<std::pair<std::string, int>> failures;
    for (const Ipv4Address address : directAddresses) {
        if (const int error = sendRequest(socket.nativeHandle(), address, interfaceIndex, {})) {
            failures.emplace_back(address.text(), error);
        }
    }
    // Projectors chosen only by address need no broadcast.
    if (directAddresses.size() < choice.projectors.size() || choice.projectors.empty()) {
        const bool ownBroadcast = rounds % 2 == 0;
        for (const Interface& item : broadcastInterfaces(choice.interfaceName)) {
            // An address added without a broadcast address reports its own address
            // (or 0.0.0.0) there: such an interface gets only 255.255.255.255.
            const bool hasOwn = item.broadcast != kAnyAddress && item.broadcast != item.local;
            const Ipv4Address destination =
                ownBroadcast && hasOwn ? item.broadcast : kBroadcastAddress;
            if (const int error =
                    sendRequest(socket.nativeHandle(), destination, item.index, item.local)) {
                failures.emplace_back(item.name, error);
            }
        }
    }
    ++rounds;
    // An interface going down during discovery is no reason to stop; it is told once.
    for (const auto& [where, error] : failures) {
        if (reportedFailures.insert(where + std::to_string(error)).second) {
            std::fprintf(stderr, "lumarok: discovery request to %s failed: %s\n", where.c_str(),
                         std::strerror(error));
        }
    }
}

bool Discovery::receiveWanted(std::chrono::milliseconds timeout, FoundProjector& found) {
    pollfd ready{socket.nativeHandle(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    std::array<std::byte, kReceiveBytes> buffer{};
    sockaddr_in source{};
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo)) + 64> control{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t received = ::recvmsg(socket.nativeHandle(), &message, MSG_DONTWAIT);
    if (received <= 0) {
        return false;
    }
    if (interfaceIndex != 0) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                if (static_cast<unsigned>(info.ipi_ifindex) != interfaceIndex) {
                    return false; // heard on another interface
                }
            }
        }
    }
    const std::span<const std::byte> datagram(buffer.data(), static_cast<std::size_t>(received));
    DeviceDatagram parsed = parseDeviceDatagram(datagram, kDiscoveryInfoMinimum);
    if (parsed.kind != DeviceDatagram::Kind::deviceInfo) {
        return false; // our own request, or not a device
    }
    found.info = std::move(parsed.info);
    found.datagram.assign(datagram.begin(), datagram.end());
    found.source = endpointOf(source);
    // Rounds are 250 ms apart: an answer within that is (nearly always) to the last one.
    const Clock::duration sinceRound = Clock::now() - lastRound;
    found.roundTrip = sinceRound < kRequestInterval ? sinceRound : Clock::duration::zero();
    // Some devices do not know their own address; the reply's source is as good.
    if (found.info.deviceAddress == kAnyAddress) {
        found.info.deviceAddress = found.source.address;
    }
    return wanted(found);
}

bool Discovery::wanted(const FoundProjector& found) const {
    if (choice.projectors.empty()) {
        return true;
    }
    const std::string named = found.info.deviceAddress.text();
    const std::string source = found.source.address.text();
    return std::any_of(
        choice.projectors.begin(), choice.projectors.end(), [&](const std::string& projector) {
            return projector == found.info.deviceName || projector == named || projector == source;
        });
}

std::optional<FoundProjector> Discovery::next(Clock::time_point until,
                                              const std::atomic<bool>* cancel) {
    FoundProjector found;
    for (;;) {
        if (cancel != nullptr && cancel->load()) {
            throw DiscoveryCancelled("discovery cancelled");
        }
        Clock::time_point now = Clock::now();
        if (now >= until) {
            return std::nullopt;
        }
        if (now >= nextRound) {
            sendRound();
            nextRound = now + kRequestInterval;
        }
        now = Clock::now();
        const auto untilNext =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(nextRound, until) - now);
        if (receiveWanted(std::clamp(untilNext, std::chrono::milliseconds(0), kStopCheck), found)) {
            return found;
        }
    }
}

FoundProjector Discovery::waitForFirst(const std::atomic<bool>* cancel) {
    bool told = false;
    for (;;) {
        if (std::optional<FoundProjector> found = next(Clock::now() + kRequestInterval, cancel)) {
            return std::move(*found);
        }
        if (!told) {
            std::fputs((waitingLine() + "\n").c_str(), stderr);
            told = true;
        }
    }
}

std::vector<FoundProjector> Discovery::collect(std::chrono::milliseconds duration,
                                               const std::atomic<bool>* cancel) {
    std::map<Ipv4Address, FoundProjector> bySource;
    const Clock::time_point end = Clock::now() + duration;
    while (std::optional<FoundProjector> found = next(end, cancel)) {
        bySource[found->source.address] = std::move(*found);
    }
    std::vector<FoundProjector> result;
    for (auto& entry : bySource) {
        result.push_back(std::move(entry.second));
    }
    return result;
}

std::string Discovery::waitingLine() const {
    std::string line = "waiting for ";
    if (choice.projectors.empty()) {
        line += "a projector";
    } else {
        line += choice.projectors.size() == 1 ? "projector " : "one of the projectors ";
        for (std::size_t i = 0; i < choice.projectors.size(); ++i) {
            line += (i == 0 ? "" : ", ") + choice.projectors[i];
        }
    }
    if (!choice.interfaceName.empty()) {
        line += " on " + choice.interfaceName;
    }
    return line + "\u2026";
}

void bindCommandPort(UdpSocket& socket) {
    socket.allowAddressReuse();
    socket.enableBroadcast();
    socket.bind(kCommandPort);
}

std::string foundLine(const std::string& name, Ipv4Address address) {
    return "Found" + name + " Ip: " + address.text() + "\n";
}

std::string describeProjector(const FoundProjector& found) {
    const DeviceInfo& i = found.info;
    const std::string named = i.deviceAddress.text();
    std::string line = (i.deviceName.empty() ? "(no name)" : i.deviceName) + "  " + named + "  " +
                       std::to_string(i.sampleRate) + " samples/s  buffer " +
                       std::to_string(i.bufferMax) + " (" + std::to_string(i.bufferFree) + " free)";
    const std::string source = found.source.address.text();
    if (source != named) {
        line += "  answered from " + source;
    }
    std::array<char, 160> rest{};
    std::snprintf(rest.data(), rest.size(),
                  "  text \"%s\"  info 3=%u 4=%u 5=%d 14=%d 23=%d 24=%d 25=%d 37=%d",
                  i.infoText.c_str(), static_cast<unsigned>(i.infoByte3),
                  static_cast<unsigned>(i.infoByte4), i.infoFlag5 ? 1 : 0, i.infoWord14,
                  i.infoByte23, i.infoByte24, i.infoByte25, i.infoByte37);
    return line + rest.data();
}

} // namespace lumarok

#pragma once

#include "laser/device_datagram.hpp"
#include "net/udp_socket.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumarok {

// Discovery was given up because the caller asked to stop.
class DiscoveryCancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint16_t kCommandPort = 45457;

// Which projectors are wanted, and where to look for them.
struct ProjectorChoice {
    // Names or dotted IPv4 addresses as the user wrote them; empty: whichever answers. An address
    // is asked directly, so a projector behind a router is reached too.
    std::vector<std::string> projectors;
    // Only this interface is asked and heard; empty: every up, broadcast-capable one.
    std::string interfaceName;
};

struct FoundProjector {
    DeviceInfo info; // deviceAddress is the reply's source when the device does not know it
    std::vector<std::byte> datagram;
    Ipv4Endpoint source; // where it answered from
    // From the last request to the answer: the round trip, as long as it answered that
    // request (zero when it came after a later one).
    std::chrono::nanoseconds roundTrip{0};
};

// Makes a new socket the one discovery asks and hears on: bound to the device
// protocol's command port, shared with the links of the projectors already found,
// broadcast enabled.
void bindCommandPort(UdpSocket& socket);

// "Found", the device's name, " Ip: ", its address, a line break.
[[nodiscard]] std::string foundLine(const std::string& name, Ipv4Address address);

// Asks for projectors on a socket the caller owns (broadcast enabled, bound) and hears
// their answers. Each interface gets at most one request per 250 ms, alternately to its
// own broadcast address and to 255.255.255.255 (the latter sent out through that
// interface): Linux routes a plain 255.255.255.255 out of one interface only.
// Every wait returns within 50 ms of a stop request. Thread: one at a time.
class Discovery {
public:
    // Throws std::invalid_argument for a named interface that does not exist.
    Discovery(UdpSocket& requests, ProjectorChoice wanted);

    // Blocks until a wanted projector answers. Throws DiscoveryCancelled when *cancel
    // turns true first; prints waitingLine() on stderr once the first request went
    // unanswered.
    FoundProjector waitForFirst(const std::atomic<bool>* cancel);
    // Asks and hears until a wanted projector answers or `until` passes (nullopt).
    // Throws DiscoveryCancelled when *cancel turns true first.
    std::optional<FoundProjector> next(std::chrono::steady_clock::time_point until,
                                       const std::atomic<bool>* cancel);
    // Every wanted projector that answers within `duration`, one entry per source,
    // in order of address.
    std::vector<FoundProjector> collect(std::chrono::milliseconds duration,
                                        const std::atomic<bool>* cancel);
    // "waiting for a projector…", naming the wanted projectors and the interface.
    [[nodiscard]] std::string waitingLine() const;

private:
    void sendRound();
    bool receiveWanted(std::chrono::milliseconds timeout, FoundProjector& found);
    std::chrono::steady_clock::time_point nextRound{};
    std::chrono::steady_clock::time_point lastRound{};
    [[nodiscard]] bool wanted(const FoundProjector& found) const;

    UdpSocket& socket;
    ProjectorChoice choice;
    unsigned interfaceIndex = 0; // of choice.interfaceName, 0 when any
    std::vector<Ipv4Address> directAddresses;
    unsigned rounds = 0;
    std::set<std::string> reportedFailures; // each send failure is told once
};

// One line describing a projector for --list-projectors.
[[nodiscard]] std::string describeProjector(const FoundProjector& found);

} // namespace lumarok

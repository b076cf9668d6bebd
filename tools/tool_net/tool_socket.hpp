#pragma once

#include "net/ipv4_address.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>

namespace lumarok::tools {

// One datagram a tool read.
struct ToolDatagram {
    std::size_t length = 0;
    Ipv4Endpoint source;
    std::chrono::steady_clock::time_point arrival; // as the kernel stamped it, when asked
    int interfaceIndex = 0;                        // when the socket hears interfaces
};

// A UDP socket of a tool (the virtual projector, the relay), bound at construction and
// closed at destruction. Unlike the player's, it reads with the kernel's arrival time and
// the interface a datagram came in on. Thread: one.
class ToolSocket {
public:
    // `shared`: other sockets may bind the same port (several projectors in one
    // namespace need every socket on the port to allow it). Throws std::system_error
    // "Bind failed on [ADDRESS ]port N".
    ToolSocket(Ipv4Endpoint own, bool shared, bool nonBlocking);
    ~ToolSocket();
    ToolSocket(const ToolSocket&) = delete;
    ToolSocket& operator=(const ToolSocket&) = delete;

    // Datagrams then tell the interface they came in on.
    void hearInterfaces() const;
    // Datagrams then carry the time the kernel received them.
    void stampArrivals() const;
    // False when the system refused it.
    bool sendTo(Ipv4Endpoint to, std::span<const std::byte> bytes) const;
    // Never waits: nullopt when nothing is waiting.
    [[nodiscard]] std::optional<ToolDatagram> receive(std::span<std::byte> buffer) const;
    [[nodiscard]] int fd() const { return handle; }

private:
    int handle;
};

// The address of ours that `peer` reaches us on (0.0.0.0 when there is no route).
[[nodiscard]] Ipv4Address ownAddressFacing(Ipv4Endpoint peer);

} // namespace lumarok::tools

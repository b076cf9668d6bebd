#pragma once

#include "net/ipv4_address.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lumarok {

// UdpSocket objects currently alive. Linux needs no socket-layer start-up, so this is a count.
[[nodiscard]] int socketUsers();

// One received datagram. `length` is its full length on the wire: larger than the buffer when
// the datagram was cut. `error` is the errno of a receive that got nothing (0 on success).
struct ReceiveResult {
    std::size_t length = 0;
    int error = 0;
    bool truncated = false;
    Ipv4Endpoint source; // the sender
};

// One IPv4 UDP socket, owned from construction to destruction; neither copied nor moved.
// Failures throw std::system_error with errno and a fixed text ("Bind failed: ...").
// Thread: construct and destroy on the main thread; the operations may run on several
// threads at once (one sends while another receives), the wrapper adds no lock.
class UdpSocket {
public:
    // Non-zero nonBlocking: receive() returns at once when nothing is waiting.
    explicit UdpSocket(int nonBlocking);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // All local IPv4 addresses; port 0 lets the system pick one (see localPort()).
    void bind(std::uint16_t port);
    // One local IPv4 address (dotted text as the user gave it; empty: all). The error names
    // address and port: "Bind failed on 127.0.0.1:8666: Address already in use".
    void bind(const std::string& address, std::uint16_t port);
    [[nodiscard]] std::uint16_t localPort() const;
    void enableBroadcast();
    // Lets several sockets of this process share a local port (before bind): the sockets
    // of several projector links all live on the device protocol's one port.
    void allowAddressReuse();
    // Hears only this peer; sends may still name other destinations. Among sockets
    // sharing a port, a connected one gets its peer's datagrams.
    void connectTo(Ipv4Endpoint peer);
    void sendTo(Ipv4Endpoint to, std::span<const std::byte> bytes);
    // Sends the datagrams in order with one system call (the first kMaxBatch of them);
    // returns how many went out, at least one unless there were none: when the first
    // could not, throws as sendTo does.
    static constexpr std::size_t kMaxBatch = 8;
    std::size_t sendBatch(Ipv4Endpoint to, std::span<const std::span<const std::byte>> datagrams);
    // Waits (blocking socket) for one datagram; never throws.
    ReceiveResult receive(std::span<std::byte> buffer);
    // A blocking receive() gives up after this long (zero: wait for ever).
    void setReceiveTimeout(std::chrono::milliseconds timeout);
    [[nodiscard]] int nativeHandle() const { return handle; }

private:
    int handle;
};

} // namespace lumarok

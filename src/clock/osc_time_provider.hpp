#pragma once

#include "clock/time_provider.hpp"
#include "clock/udp_socket.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumarok {

inline constexpr std::uint16_t oscPort = 8666;

// The time of the last OSC "/Time" message received on a UDP port (all IPv4 addresses).
class OscTimeProvider final : public TimeProvider {
public:
    // Throws the socket's std::system_error ("Bind failed: ..."); the socket is then closed.
    // Port 0 lets the system choose (see port()).
    explicit OscTimeProvider(std::uint16_t port = oscPort);

    // Handles every datagram waiting, oldest first, then returns the last good time. Never
    // waits, never throws for what a sender sent: a malformed datagram is dropped.
    [[nodiscard]] double getTime() override;

    [[nodiscard]] std::uint16_t port() const { return socket.localPort(); }
    // Datagrams dropped as malformed or too long since construction.
    [[nodiscard]] std::uint64_t droppedDatagrams() const { return dropped; }

    static constexpr std::size_t kDatagramCapacity = 1024;
    // A flood cannot hold getTime for ever: the rest waits for the next frame.
    static constexpr int kMaxDatagramsPerCall = 4096;

private:
    void receiveAll();
    void drop(const char* why);

    UdpSocket socket;
    float lastTime = 0.0F;
    std::uint64_t dropped = 0;
    std::uint64_t receiveErrors = 0;
    // One datagram and a terminating zero; 4-byte aligned as the parser requires.
    alignas(4) std::array<std::byte, kDatagramCapacity + 1> buffer{};
};

} // namespace lumarok

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumarok::test {

// A bound UDP socket that a test speaks through, as a device or a stranger would; port 0
// lets the system choose.
class UdpEndpoint {
public:
    UdpEndpoint(const char* address, std::uint16_t port);
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    void sendTo(const char* address, std::uint16_t port,
                const std::vector<std::uint8_t>& bytes) const;
    // One datagram, or nothing within `timeout`.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>>
    receive(std::chrono::milliseconds timeout) const;

private:
    int fd;
};

} // namespace lumarok::test

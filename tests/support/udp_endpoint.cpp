#include "support/udp_endpoint.hpp"

#include "net/ipv4_address.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <string>

namespace lumarok::test {
namespace {

sockaddr_in ipv4(const char* address, std::uint16_t port) {
    return socketAddress({Ipv4Address::parse(address).value_or(kAnyAddress), port});
}

} // namespace

UdpEndpoint::UdpEndpoint(const char* address, std::uint16_t port)
    : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in own = ipv4(address, port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error(std::string("cannot bind ") + address);
    }
}

UdpEndpoint::~UdpEndpoint() {
    ::close(fd);
}

void UdpEndpoint::sendTo(const char* address, std::uint16_t port,
                         const std::vector<std::uint8_t>& bytes) const {
    const sockaddr_in to = ipv4(address, port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<std::vector<std::uint8_t>>
UdpEndpoint::receive(std::chrono::milliseconds timeout) const {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 2048> buffer{};
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + got);
}

} // namespace lumarok::test

#include "tool_socket.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace lumarok::tools {

namespace {

using Clock = std::chrono::steady_clock;

// Arrival time as the kernel stamped it, so that a moment in which this process was
// not scheduled does not look like a late packet and a buffer run dry.
Clock::time_point arrivalTime(msghdr& message) {
    const Clock::time_point now = Clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            timespec wall{};
            ::clock_gettime(CLOCK_REALTIME, &wall);
            const auto age = std::chrono::seconds(wall.tv_sec - stamp.tv_sec) +
                             std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
            if (age.count() >= 0) {
                return now - std::chrono::duration_cast<Clock::duration>(age);
            }
        }
    }
    return now;
}

void turnOn(int handle, int level, int option) {
    const int on = 1;
    ::setsockopt(handle, level, option, &on, sizeof on);
}

} // namespace

ToolSocket::ToolSocket(Ipv4Endpoint own, bool shared, bool nonBlocking)
    : handle(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0)) {
    if (handle < 0) {
        throw std::system_error(errno, std::system_category(), "Error opening socket");
    }
    if (shared) {
        turnOn(handle, SOL_SOCKET, SO_REUSEADDR);
    }
    const sockaddr_in address = socketAddress(own);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        const int code = errno;
        ::close(handle);
        const std::string where = own.address == kAnyAddress ? "" : own.address.text() + " ";
        throw std::system_error(code, std::system_category(),
                                "Bind failed on " + where + "port " + std::to_string(own.port));
    }
}

ToolSocket::~ToolSocket() {
    ::close(handle);
}

void ToolSocket::hearInterfaces() const {
    turnOn(handle, IPPROTO_IP, IP_PKTINFO);
}

void ToolSocket::stampArrivals() const {
    turnOn(handle, SOL_SOCKET, SO_TIMESTAMPNS);
}

bool ToolSocket::sendTo(Ipv4Endpoint to, std::span<const std::byte> bytes) const {
    const sockaddr_in address = socketAddress(to);
    return ::sendto(handle, bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0;
}

std::optional<ToolDatagram> ToolSocket::receive(std::span<std::byte> buffer) const {
    sockaddr_in source{};
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec)) + 64> control{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(handle, &message, MSG_DONTWAIT);
    if (got < 0) {
        return std::nullopt;
    }
    ToolDatagram datagram;
    datagram.length = static_cast<std::size_t>(got);
    datagram.source = endpointOf(source);
    datagram.arrival = arrivalTime(message);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            datagram.interfaceIndex = info.ipi_ifindex;
        }
    }
    return datagram;
}

Ipv4Address ownAddressFacing(Ipv4Endpoint peer) {
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in own{};
    socklen_t size = sizeof own;
    if (probe >= 0) {
        // Connecting a UDP socket only picks the route; nothing is sent.
        const sockaddr_in to = socketAddress(peer);
        if (::connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&own), &size);
        }
        ::close(probe);
    }
    return endpointOf(own).address;
}

} // namespace lumarok::tools

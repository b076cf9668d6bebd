#include "net/udp_socket.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <optional>
#include <system_error>

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

namespace lumarok {

namespace {

// Atomic so that a socket made on a helper thread (tests, tools) cannot corrupt the count.
std::atomic<int> gSocketUsers{0};

[[noreturn]] void throwSystemError(int code, const char* what) {
    throw std::system_error(code, std::system_category(), what);
}

// Takes the hold on the socket layer for the lifetime of a construction attempt; the
// constructor keeps it only when the socket is fully set up.
class SocketLayerHold {
public:
    SocketLayerHold() { gSocketUsers.fetch_add(1); }
    ~SocketLayerHold() {
        if (!kept) {
            gSocketUsers.fetch_sub(1);
        }
    }
    SocketLayerHold(const SocketLayerHold&) = delete;
    SocketLayerHold& operator=(const SocketLayerHold&) = delete;
    void keep() { kept = true; }

private:
    bool kept = false;
};

} // namespace

int socketUsers() {
    return gSocketUsers.load();
}

UdpSocket::UdpSocket(int nonBlocking) : handle(-1) {
    SocketLayerHold hold;
    // Close-on-exec: child processes (helpers started by tests or tools) must not keep the port.
    handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (handle < 0) {
        throwSystemError(errno, "Error opening socket");
    }
    int mode = nonBlocking != 0 ? 1 : 0;
    if (::ioctl(handle, FIONBIO, &mode) < 0) {
        const int code = errno;
        ::close(handle);
        throwSystemError(code, "Cannot set socket to non-blocking");
    }
    hold.keep();
}

UdpSocket::~UdpSocket() {
    ::close(handle);
    gSocketUsers.fetch_sub(1);
}

void UdpSocket::bind(std::uint16_t port) {
    const sockaddr_in address = socketAddress({kAnyAddress, port});
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        throwSystemError(errno, "Bind failed");
    }
}

void UdpSocket::bind(const std::string& address, std::uint16_t port) {
    const std::string shown = (address.empty() ? "0.0.0.0" : address) + ":" + std::to_string(port);
    const std::optional<Ipv4Address> local =
        address.empty() ? kAnyAddress : Ipv4Address::parse(address);
    if (!local) {
        throw std::system_error(EINVAL, std::system_category(), "Bind failed on " + shown);
    }
    const sockaddr_in own = socketAddress({*local, port});
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&own), sizeof own) < 0) {
        throw std::system_error(errno, std::system_category(), "Bind failed on " + shown);
    }
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size) < 0) {
        throwSystemError(errno, "getsockname failed");
    }
    return endpointOf(address).port;
}

void UdpSocket::enableBroadcast() {
    const int on = 1;
    if (::setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        throwSystemError(errno, "Broadcast failed");
    }
}

void UdpSocket::allowAddressReuse() {
    const int on = 1;
    if (::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
        throwSystemError(errno, "Cannot share the port");
    }
}

void UdpSocket::connectTo(Ipv4Endpoint peer) {
    const sockaddr_in address = socketAddress(peer);
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        throwSystemError(errno, "Cannot connect the socket");
    }
}

void UdpSocket::sendTo(Ipv4Endpoint to, std::span<const std::byte> bytes) {
    const sockaddr_in destination = socketAddress(to);
    if (::sendto(handle, bytes.data(), bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination) < 0) {
        throwSystemError(errno, "sendto failed");
    }
}

std::size_t UdpSocket::sendBatch(Ipv4Endpoint to,
                                 std::span<const std::span<const std::byte>> datagrams) {
    sockaddr_in destination = socketAddress(to);
    const std::size_t count = std::min(datagrams.size(), kMaxBatch);
    if (count == 0) {
        return 0;
    }
    std::array<iovec, kMaxBatch> parts{};
    std::array<mmsghdr, kMaxBatch> messages{};
    for (std::size_t i = 0; i < count; ++i) {
        // sendmmsg reads the buffers only; its interface is not const-correct.
        parts[i] = iovec{const_cast<std::byte*>(datagrams[i].data()), datagrams[i].size()};
        messages[i].msg_hdr.msg_name = &destination;
        messages[i].msg_hdr.msg_namelen = sizeof destination;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int sent = ::sendmmsg(handle, messages.data(), static_cast<unsigned>(count), 0);
    if (sent <= 0) {
        throwSystemError(sent < 0 ? errno : EAGAIN, "sendto failed");
    }
    return static_cast<std::size_t>(sent);
}

ReceiveResult UdpSocket::receive(std::span<std::byte> buffer) {
    sockaddr_in source{};
    socklen_t sourceSize = sizeof source;
    // MSG_TRUNC makes the kernel report the datagram's real length, so a cut one is visible.
    const ssize_t received = ::recvfrom(handle, buffer.data(), buffer.size(), MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceSize);
    if (received < 0) {
        return ReceiveResult{0, errno, false, {}};
    }
    const auto length = static_cast<std::size_t>(received);
    return ReceiveResult{length, 0, length > buffer.size(), endpointOf(source)};
}

void UdpSocket::setReceiveTimeout(std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) < 0) {
        throwSystemError(errno, "Cannot set receive time-out");
    }
}

} // namespace lumarok

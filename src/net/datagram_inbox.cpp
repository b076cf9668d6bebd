#include "net/datagram_inbox.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <netinet/in.h>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::nanoseconds sinceEpoch(const timespec& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

} // namespace

DatagramInbox::DatagramInbox(int socket) : handle(socket) {
    const int on = 1;
    // Without it every datagram counts as heard when read: later, never too early.
    (void)::setsockopt(handle, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

std::size_t DatagramInbox::readBatch() {
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> vectors{};
    for (std::size_t i = 0; i < kBatch; ++i) {
        vectors[i] = iovec{buffers[i].data(), kBytes};
        msghdr& header = messages[i].msg_hdr;
        header.msg_iov = &vectors[i];
        header.msg_iovlen = 1;
        header.msg_name = &sources[i];
        header.msg_namelen = sizeof sources[i];
        header.msg_control = controls[i].data();
        header.msg_controllen = controls[i].size();
    }
    const int count = ::recvmmsg(handle, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (count <= 0) {
        return 0;
    }
    // The receive times are on the wall clock; moved to the steady one by the
    // difference of the two now.
    timespec wallNow{};
    ::clock_gettime(CLOCK_REALTIME, &wallNow);
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        lengths[i] = messages[i].msg_len;
        buffers[i][lengths[i]] = std::byte{0};
        std::chrono::nanoseconds age{0};
        msghdr& header = messages[i].msg_hdr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec received{};
                std::copy_n(CMSG_DATA(c), sizeof received,
                            reinterpret_cast<unsigned char*>(&received));
                age = sinceEpoch(wallNow) - sinceEpoch(received);
            }
        }
        age = std::clamp<std::chrono::nanoseconds>(age, std::chrono::nanoseconds{0}, kOldest);
        times[i] = now - age;
    }
    return static_cast<std::size_t>(count);
}

HeardDatagram DatagramInbox::datagram(std::size_t index) const {
    Ipv4Address source;
    if (sources[index].ss_family == AF_INET) {
        source = addressOf(reinterpret_cast<const sockaddr*>(&sources[index]));
    }
    return HeardDatagram{std::span<const std::byte>(buffers[index].data(), lengths[index]), source,
                         times[index]};
}

} // namespace lumarok

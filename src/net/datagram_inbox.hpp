#pragma once

#include "net/ipv4_address.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include <sys/socket.h>

namespace lumarok {

// One datagram read from the inbox, with when the system received it.
struct HeardDatagram {
    std::span<const std::byte> bytes; // valid until the next read
    Ipv4Address source;
    std::chrono::steady_clock::time_point heard;
};

// Reads the datagrams waiting on a UDP socket without blocking, a batch per system
// call, each with the time the system received it. Reading the device's reports
// when the sender looks, rather than waking a thread for each, saves a wake-up per
// report; the receive time keeps what they say exact however long they waited.
// Thread: one at a time.
class DatagramInbox {
public:
    // Asks the socket (not owned) for receive times.
    explicit DatagramInbox(int socket);

    // Calls `heard(HeardDatagram)` for every datagram waiting, oldest first; returns
    // how many there were. Read errors end the batch (nothing is waiting then, or the
    // socket is shut down).
    template <typename Heard> std::size_t drain(Heard&& heard) {
        std::size_t total = 0;
        for (;;) {
            const std::size_t count = readBatch();
            for (std::size_t i = 0; i < count; ++i) {
                heard(datagram(i));
            }
            total += count;
            if (count < kBatch) {
                return total;
            }
        }
    }

    // Receive times older than this (or in the future) are taken as this old or as
    // now: a wall clock set while a datagram waited must not promise the device
    // played for longer than it can have.
    static constexpr std::chrono::milliseconds kOldest{40};

private:
    static constexpr std::size_t kBatch = 8;
    static constexpr std::size_t kBytes = 4096;
    std::size_t readBatch();
    [[nodiscard]] HeardDatagram datagram(std::size_t index) const;

    int handle;
    std::array<std::array<std::byte, kBytes + 1>, kBatch> buffers{};
    std::array<sockaddr_storage, kBatch> sources{};
    std::array<std::array<std::byte, 64>, kBatch> controls{};
    std::array<std::chrono::steady_clock::time_point, kBatch> times{};
    std::array<std::size_t, kBatch> lengths{};
};

} // namespace lumarok

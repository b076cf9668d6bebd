#include "clock/osc_time_provider.hpp"

#include "clock/osc_packet.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>

namespace lumarok {

namespace {

// Reports the 1st, 2nd, 4th, 8th ... occurrence, so a hostile sender cannot flood the console.
bool worthReporting(std::uint64_t count) {
    return (count & (count - 1)) == 0;
}

} // namespace

OscTimeProvider::OscTimeProvider(std::uint16_t port) : socket(1) {
    // A throwing bind destroys `socket`, which closes it, and the error goes to the caller.
    socket.bind(port);
}

double OscTimeProvider::getTime() {
    receiveAll();
    return static_cast<double>(lastTime);
}

void OscTimeProvider::receiveAll() {
    const std::span<std::byte> datagram(buffer.data(), kDatagramCapacity);
    for (int handled = 0; handled < kMaxDatagramsPerCall; ++handled) {
        const ReceiveResult received = socket.receive(datagram);
        if (received.error != 0) {
            if (received.error != EAGAIN && received.error != EWOULDBLOCK &&
                received.error != EINTR && worthReporting(++receiveErrors)) {
                std::fprintf(stderr, "lumarok: OSC receive failed (%s), %llu so far\n",
                             std::strerror(received.error),
                             static_cast<unsigned long long>(receiveErrors));
            }
            return;
        }
        if (received.truncated) {
            // Half a datagram could hold half a bundle: it is not parsed at all.
            drop("longer than 1024 bytes");
            continue;
        }
        buffer[received.length] = std::byte{0};
        try {
            handlePacket(makePacketView(buffer.data(), received.length), lastTime);
        } catch (const OSCPP::Error& error) {
            drop(error.what());
        } catch (const std::runtime_error& error) {
            drop(error.what());
        }
    }
}

void OscTimeProvider::drop(const char* why) {
    ++dropped;
    if (worthReporting(dropped)) {
        std::fprintf(stderr, "lumarok: OSC datagram dropped (%s), %llu so far\n", why,
                     static_cast<unsigned long long>(dropped));
    }
}

} // namespace lumarok

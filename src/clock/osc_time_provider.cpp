#include "clock/osc_time_provider.hpp"

#include "net/osc_packet.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>
#include <utility>

namespace lumarok {

namespace {

// Reports the 1st, 2nd, 4th, 8th ... occurrence, so a hostile sender cannot flood the console.
bool worthReporting(std::uint64_t count) {
    return (count & (count - 1)) == 0;
}

} // namespace

OscTimeProvider::OscTimeProvider(std::uint16_t port) : OscTimeProvider(OscSettings{port, {}, {}}) {}

OscTimeProvider::OscTimeProvider(OscSettings settings_)
    : settings(std::move(settings_)), socket(1) {
    // A throwing bind destroys `socket`, which closes it, and the error goes to the caller.
    socket.bind(settings.address, settings.port);
}

std::string OscTimeProvider::listenText() const {
    return (settings.address.empty() ? std::string("0.0.0.0") : settings.address) + ":" +
           std::to_string(port());
}

std::string OscTimeProvider::readoutText() const {
    return (timeReceived() ? "clock OSC " : "waiting for /Time on ") + listenText();
}

bool OscTimeProvider::senderAllowed(Ipv4Address address) const {
    return allowedBy(settings.allowedSenders, address);
}

// Anyone on the network could otherwise freeze or blank the show with one datagram; the
// operator hears of it, at most once per interval, with the count so far.
void OscTimeProvider::refuse(Ipv4Address address) {
    ++refused;
    const auto now = std::chrono::steady_clock::now();
    if (refusedReported == 0 || now - lastRefusalReport >= kRefusalReportInterval) {
        std::fprintf(stderr,
                     "lumarok: OSC datagram from %s refused (not an --osc-from sender), "
                     "%llu so far\n",
                     address.text().c_str(), static_cast<unsigned long long>(refused));
        refusedReported = refused;
        lastRefusalReport = now;
    }
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
        if (!senderAllowed(received.source.address)) {
            refuse(received.source.address);
            continue;
        }
        if (received.truncated) {
            // Half a datagram could hold half a bundle: it is not parsed at all.
            drop("longer than 1024 bytes");
            continue;
        }
        buffer[received.length] = std::byte{0};
        try {
            const PacketView packet = makePacketView(buffer.data(), received.length);
            const int times = others ? visitPacket(packet, lastTime,
                                                   [&](const OscMessageView& message) {
                                                       others(message, received.source);
                                                   })
                                     : handlePacket(packet, lastTime);
            if (times > 0) {
                timeMessages += static_cast<std::uint64_t>(times);
                lastTimeAt = std::chrono::steady_clock::now();
            }
        } catch (const OSCPP::Error& error) {
            drop(error.what());
        } catch (const std::runtime_error& error) {
            drop(error.what());
        }
    }
}

std::optional<double> OscTimeProvider::secondsSinceTime() const {
    if (timeMessages == 0) {
        return std::nullopt;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - lastTimeAt).count();
}

void OscTimeProvider::drop(const char* why) {
    ++dropped;
    if (worthReporting(dropped)) {
        std::fprintf(stderr, "lumarok: OSC datagram dropped (%s), %llu so far\n", why,
                     static_cast<unsigned long long>(dropped));
    }
}

} // namespace lumarok

#include "clock/osc_time_provider.hpp"

#include "clock/run_on.hpp"
#include "net/osc_packet.hpp"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>
#include <utility>

namespace lumarok {

namespace {

// Reports the 1st, 2nd, 4th, 8th ... occurrence, so a hostile sender cannot flood the console.
bool worthReporting(std::uint64_t count) {
    return (count & (count - 1)) == 0;
}

// When the last datagram read from `socket` arrived, as the kernel stamped it: the frame
// that reads it may come tens of milliseconds later. Now when the kernel has no stamp.
std::chrono::steady_clock::time_point arrivalOfLast(int socket) {
    const auto now = std::chrono::steady_clock::now();
    timespec stamp{};
    timespec wall{};
    if (::ioctl(socket, SIOCGSTAMPNS, &stamp) != 0 || ::clock_gettime(CLOCK_REALTIME, &wall) != 0) {
        return now;
    }
    const auto age = std::chrono::seconds(wall.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
    if (age.count() < 0 || age > std::chrono::seconds(1)) {
        return now; // the wall clock was set meanwhile
    }
    return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(age);
}

} // namespace

OscTimeProvider::OscTimeProvider(std::uint16_t port) : OscTimeProvider(OscSettings{port, {}, {}}) {}

OscTimeProvider::OscTimeProvider(OscSettings settings_)
    : settings(std::move(settings_)), socket(1) {
    // A throwing bind destroys `socket`, which closes it, and the error goes to the caller.
    socket.bind(settings.address, settings.port);
    // The first question switches the kernel's stamps on (nothing came yet to answer it),
    // so that the first /Time has its arrival too.
    timespec unused{};
    (void)::ioctl(socket.nativeHandle(), SIOCGSTAMPNS, &unused);
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

double OscTimeProvider::timeAt(std::chrono::steady_clock::time_point moment) {
    receiveAll();
    if (timeMessages == 0) {
        return static_cast<double>(lastTime);
    }
    const double since = std::chrono::duration<double>(moment - lastArrival).count();
    return runOn(static_cast<double>(lastTime), since, settings.runOnSeconds,
                 timeMessages > 1 && lastTime == timeBefore);
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
        const float before = lastTime;
        try {
            const PacketView packet = makePacketView(buffer.data(), received.length);
            const int times = others ? visitPacket(packet, lastTime,
                                                   [&](const OscMessageView& message) {
                                                       others(message, received.source);
                                                   })
                                     : handlePacket(packet, lastTime);
            if (times > 0) {
                // Of several in one datagram the one before is not known: not standing.
                timeBefore = times == 1 ? before : std::numeric_limits<float>::quiet_NaN();
                timeMessages += static_cast<std::uint64_t>(times);
                lastTimeAt = std::chrono::steady_clock::now();
                lastArrival = arrivalOfLast(socket.nativeHandle());
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

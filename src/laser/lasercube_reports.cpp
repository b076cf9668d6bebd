// The device's side of a link: its informations and buffer reports, read by the sending
// or the receive thread, checked for plausibility and credited to the buffer estimate.
#include "laser/lasercube_link.hpp"

#include "laser/device_checks.hpp"
#include "laser/device_datagram.hpp"
#include "laser/realtime.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace lumarok {

namespace {

// The sender reads the device's reports whenever it looks at the buffer (at least
// every 20 ms while it streams); the receive thread reads them this often besides,
// so they are heard while nothing is sent.
constexpr auto kQuietRead = std::chrono::milliseconds(100);
// Reads of the device's datagrams closer together than this mostly find nothing, at a
// system call each; a report read a little later is still credited from when it was
// heard, so the estimate is no worse for it.
constexpr auto kReadAtMostEvery = std::chrono::milliseconds(2);
// A device information while streaming must hold every fixed field: a short one
// would read as rate 0 and buffer 0.
constexpr std::size_t kFullInfoBytes = 38;

} // namespace

void LaserCubeLink::measureRoundTrip(Clock::time_point heard) {
    const Clock::rep asked = askedAt.exchange(0);
    const auto trip = heard - Clock::time_point(Clock::duration(asked));
    // An answer a second late is no reading of the network, nor one heard before asking.
    if (asked == 0 || trip < Clock::duration::zero() || trip > std::chrono::seconds(1)) {
        return;
    }
    roundTrips[roundTripReadings++ % roundTrips.size()] =
        std::chrono::duration_cast<std::chrono::nanoseconds>(trip).count();
    // The least of the recent readings: queueing on the way only ever adds.
    const std::size_t kept = std::min(roundTripReadings, roundTrips.size());
    roundTripNs.store(*std::min_element(roundTrips.begin(),
                                        roundTrips.begin() + static_cast<std::ptrdiff_t>(kept)));
}

std::chrono::nanoseconds LaserCubeLink::roundTrip() const {
    return std::chrono::nanoseconds(roundTripNs.load());
}

void LaserCubeLink::handleDeviceInfo(std::span<const std::byte> datagram, Clock::time_point heard) {
    if (inbox) {
        measureRoundTrip(heard);
    }
    const DeviceNumbers info = parseDeviceNumbers(datagram);
    // Implausible numbers keep the last good ones (the defaults before any).
    if (plausibleSampleRate(info.sampleRate)) {
        sampleRate.store(info.sampleRate);
    } else {
        ignoredReports.fetch_add(1);
        post(StreamEvent::implausibleRate, static_cast<std::uint32_t>(info.sampleRate),
             sampleRate.load());
    }
    if (plausibleBufferSize(info.bufferMax)) {
        bufferMax.store(info.bufferMax);
    } else {
        ignoredReports.fetch_add(1);
        post(StreamEvent::implausibleBuffer, info.bufferMax, bufferMax.load());
    }
    handleBufferFree(info.bufferFree, heard);
    // Where the stream goes was settled at discovery; a datagram cannot move it (one
    // that names what discovery heard already was told of then).
    if (!inbox) {
        namedAtDiscovery = info.address;
    } else if (info.address != kAnyAddress && info.address != device &&
               info.address != namedAtDiscovery) {
        post(StreamEvent::namesOtherAddress, info.address.hostOrder(), device.hostOrder());
    }
}

void LaserCubeLink::handleBufferFree(std::int32_t free, Clock::time_point heard) {
    const std::int32_t max = bufferMax.load();
    if (!plausibleBufferFree(free, max)) {
        ignoredReports.fetch_add(1);
        post(StreamEvent::implausibleFree, free, max);
        return;
    }
    if (free == max && lastReportedFree >= 0 && lastReportedFree < max) {
        impliedUnderruns.fetch_add(1);
    }
    lastReportedFree = free;
    deviceReports.fetch_add(1);
    // The device wrote the report half a round trip before it was heard, and had not yet
    // received what was sent in the round trip before that.
    const std::chrono::nanoseconds trip = roundTrip();
    const auto inFlight = static_cast<std::int32_t>(
        std::min<std::uint64_t>(history.sentSince(heard - trip), static_cast<std::uint64_t>(max)));
    bufferFree.report(free - inFlight, heard - trip / 2);
}

void LaserCubeLink::handleDatagram(std::span<const std::byte> datagram, Clock::time_point heard) {
    if (datagram.empty()) {
        return;
    }
    // Read in place: this may run on the real-time sender's thread.
    switch (std::to_integer<std::uint8_t>(datagram[0])) {
    case kDeviceInfoTag:
        if (datagram.size() < kFullInfoBytes) {
            ignoredReports.fetch_add(1);
            post(StreamEvent::shortInfo, static_cast<std::int64_t>(datagram.size()));
            break;
        }
        handleDeviceInfo(datagram, heard);
        break;
    case kBufferFreeTag:
        // A report cut short would read as a full device.
        if (datagram.size() >= 4) {
            handleBufferFree(parseBufferFree(datagram), heard);
        }
        break;
    default:
        break;
    }
}

void LaserCubeLink::receiveLoop() {
    // Where refused, the sender says so in its own line; nothing to add here.
    if (realtimeReceiver) {
        (void)raiseToRealtime(kReceiverPriority);
    }
    while (!stopRequested.load()) {
        const std::uint32_t seen = quiet.rings();
        quiet.waitPast(seen, Clock::now() + kQuietRead);
        if (!stopRequested.load()) {
            readReports(true);
        }
    }
}

void LaserCubeLink::readReports(bool wait) {
    std::unique_lock lock(readMutex, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return; // the receive thread is reading them right now
    }
    const Clock::time_point now = Clock::now();
    if (now - lastRead < kReadAtMostEvery) {
        return;
    }
    lastRead = now;
    inbox->drain([this](const HeardDatagram& datagram) {
        // The socket is connected, but a datagram that came before it was is dropped.
        if (datagram.source == device) {
            datagramsHeard.fetch_add(1);
            handleDatagram(datagram.bytes, datagram.heard);
        }
    });
}

} // namespace lumarok

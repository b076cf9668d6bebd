#include "laser/lasercube_link.hpp"

#include "laser/device_checks.hpp"
#include "laser/device_datagram.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <exception>
#include <system_error>

namespace lumarok {

namespace {

constexpr std::uint16_t kDataPort = 45458;
constexpr std::uint8_t kSwitchA = 0x78;
constexpr std::uint8_t kSwitchB = 0x80;
// Back-off between retries of a failing send, doubling from the first to the last.
constexpr auto kFirstRetry = std::chrono::milliseconds(2);
constexpr auto kLastRetry = std::chrono::milliseconds(100);
// Above the device's rate, the wire may carry this share more: what a busy network loses
// on the way (a tenth of the packets, say) is made up for, and a device whose reports lie
// ("all free") gets no more than that.
constexpr double kLossAllowance = 0.12;
// Packets of a frame sent on one wake-up once pacing is needed: the sleep covers the
// group's whole shortfall at once (4 x 140 samples, 19 ms at 30000/s).
constexpr std::size_t kPacketsPerWake = 4;

using Clock = std::chrono::steady_clock;

// Sleeps on the steady clock; returns the time that really passed.
std::chrono::nanoseconds sleepMicroseconds(std::chrono::microseconds duration) {
    const Clock::time_point start = Clock::now();
    if (duration.count() > 0) {
        std::this_thread::sleep_for(duration);
    }
    return Clock::now() - start;
}

// Sleeps in slices no longer than the pacing's, so a stop is seen in time.
// False when the stop came first.
bool sleepUntilUnlessStopped(Clock::time_point end, const StopFlags& stop) {
    for (;;) {
        if (stop.raised()) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= end) {
            return true;
        }
        const std::chrono::nanoseconds slice = kLongestPacingSleep;
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(end - now, slice));
    }
}

// Errors a network that comes back recovers from.
bool transientSendError(int code) {
    return code == ENOBUFS || code == ENETDOWN || code == ENETUNREACH || code == EHOSTUNREACH ||
           code == EAGAIN || code == EINTR || code == ENOMEM || code == EADDRNOTAVAIL ||
           code == ECONNREFUSED;
}

} // namespace

LaserCubeLink::LaserCubeLink(const FoundProjector& found, EventLog& events, std::uint16_t index,
                             bool realtime)
    : log(events), stream(index), socket(0), device(found.source.address),
      deviceName(found.info.deviceName), realtimeReceiver(realtime) {
    // The protocol's one port: the device answers there, whichever port it answers to.
    socket.allowAddressReuse();
    socket.bind(kCommandPort);
    socket.connectTo({device, found.source.port != 0 ? found.source.port : kCommandPort});
    // The first reading of the round trip, from discovery.
    if (found.roundTrip > std::chrono::nanoseconds::zero()) {
        roundTrips[0] = found.roundTrip.count();
        roundTripReadings = 1;
        roundTripNs.store(found.roundTrip.count());
    }
    // Nothing was sent yet: the device is empty unless its answer says otherwise.
    bufferFree.report(bufferMax.load());
    handleDeviceInfo(found.datagram, Clock::now());
    inbox.emplace(socket.nativeHandle());
    if (!sendSwitches(0x01)) {
        post(StreamEvent::sendFailing, ENETUNREACH);
    }
    try {
        receiveThread = std::thread(&LaserCubeLink::receiveLoop, this);
    } catch (...) {
        (void)sendSwitches(0x00);
        throw;
    }
}

LaserCubeLink::~LaserCubeLink() {
    stopRequested.store(true);
    quiet.ring();
    if (!switchOff()) {
        LogEvent event;
        event.kind = StreamEvent::switchOffFailed;
        event.stream = stream;
        event.setText("the network refused it");
        log.post(event);
    }
    if (receiveThread.joinable()) {
        receiveThread.join();
    }
}

void LaserCubeLink::post(StreamEvent kind, std::int64_t a, std::int64_t b) const {
    LogEvent event;
    event.kind = kind;
    event.stream = stream;
    event.a = a;
    event.b = b;
    log.post(event);
}

bool LaserCubeLink::sendSwitches(std::uint8_t state) {
    const std::array<std::byte, 2> switchA{std::byte{kSwitchA}, std::byte{state}};
    const std::array<std::byte, 2> switchB{std::byte{kSwitchB}, std::byte{state}};
    bool all = true;
    for (const auto* command : {&switchA, &switchA, &switchB, &switchB}) {
        try {
            socket.sendTo({device, kCommandPort}, *command);
        } catch (const std::system_error& error) {
            if (!transientSendError(error.code().value())) {
                throw;
            }
            all = false;
        }
    }
    return all;
}

void LaserCubeLink::askForInformation() {
    const std::array<std::byte, 1> request{std::byte{kDeviceInfoTag}};
    askedAt.store(Clock::now().time_since_epoch().count());
    try {
        socket.sendTo({device, kCommandPort}, request);
    } catch (const std::system_error&) {
        // The sender tells of a network that refuses the stream.
    }
}

bool LaserCubeLink::switchOff() {
    if (switchedOff.load()) {
        return true;
    }
    const bool sent = sendSwitches(0x00);
    switchedOff.store(sent);
    return sent;
}

std::int32_t LaserCubeLink::reserve() {
    const std::int32_t max = bufferMax.load();
    const std::int32_t rate = sampleRate.load();
    const std::int32_t burst =
        static_cast<std::int32_t>(WireLimits::kMaxBurstPackets * kMaxSamplesPerPacket);
    const std::int32_t onTheWay = samplesPlayed(roundTrip() / 2, rate);
    return std::max(pacingReserve(max), std::min(pacingReserve(max) + onTheWay, max - burst));
}

std::int32_t LaserCubeLink::allowedRate() const {
    return static_cast<std::int32_t>(sampleRate.load() * (1.0 + kLossAllowance));
}

std::int32_t LaserCubeLink::burstCapacity() {
    const auto burst =
        static_cast<std::int32_t>(WireLimits::kMaxBurstPackets * kMaxSamplesPerPacket);
    return std::min(bufferMax.load(), reserve() + burst);
}

std::size_t LaserCubeLink::sendData(std::span<const std::span<const std::byte>> datagrams,
                                    std::span<const std::size_t> sampleCounts,
                                    const StopFlags& stop, bool retry) {
    std::chrono::nanoseconds backOff = kFirstRetry;
    for (;;) {
        const WireLimits::Permit permit =
            wire.permit(sampleCounts, allowedRate(), burstCapacity(), Clock::now());
        if (permit.packets == 0) {
            if (!sleepUntilUnlessStopped(permit.retryAt, stop)) {
                return 0;
            }
            continue;
        }
        try {
            const std::size_t sent =
                socket.sendBatch({device, kDataPort}, datagrams.first(permit.packets));
            const Clock::time_point now = Clock::now();
            wire.sent(sampleCounts.first(sent), now);
            if (failingSince) {
                // What went out meanwhile may sit in the kernel until the neighbour is
                // found again: restart from the reserve, not from an empty device.
                bufferFree.report(bufferMax.load() - reserve());
                post(StreamEvent::sendWorksAgain,
                     std::chrono::duration_cast<std::chrono::milliseconds>(now - *failingSince)
                         .count());
                failingSince.reset();
                sendFailing.store(false);
                resumed = true;
            }
            return sent;
        } catch (const std::system_error& error) {
            if (!transientSendError(error.code().value())) {
                throw;
            }
            if (!failingSince) {
                failingSince = Clock::now();
                sendFailing.store(true);
            }
            post(StreamEvent::sendFailing, error.code().value());
            // The network may be gone for long: the stream keeps its place and tries
            // again until it is back or the stream is stopped.
            if (!retry || !sleepUntilUnlessStopped(Clock::now() + backOff, stop)) {
                return 0;
            }
            backOff = std::min<std::chrono::nanoseconds>(backOff * 2, kLastRetry);
        }
    }
}

std::size_t LaserCubeLink::writePackets(std::span<const LaserSample> samples,
                                        std::span<std::span<const std::byte>> datagrams,
                                        std::span<std::size_t> sampleCounts) {
    PacketCounters next = counters;
    std::size_t count = 0;
    for (std::size_t at = 0; at < samples.size() && count < packetBuffers.size(); ++count) {
        const std::size_t take = std::min(samples.size() - at, kMaxSamplesPerPacket);
        const std::size_t length =
            writeSampleDataPacket(packetBuffers[count], next, samples.subspan(at, take));
        datagrams[count] = std::span<const std::byte>(packetBuffers[count].data(), length);
        sampleCounts[count] = take;
        ++next.messageCounter;
        at += take;
    }
    return count;
}

std::size_t LaserCubeLink::countSent(std::span<const std::size_t> sampleCounts) {
    std::size_t total = 0;
    for (const std::size_t samples : sampleCounts) {
        bufferFree.bufferFree.fetch_sub(static_cast<std::int32_t>(samples));
        history.record(Clock::now(), samplesSent.fetch_add(samples) + samples);
        packetsSent.fetch_add(1);
        ++counters.messageCounter;
        total += samples;
    }
    return total;
}

bool LaserCubeLink::sendPackets(std::span<const LaserSample> samples, const StopFlags& stop,
                                bool retry) {
    std::array<std::span<const std::byte>, UdpSocket::kMaxBatch> datagrams{};
    std::array<std::size_t, UdpSocket::kMaxBatch> sampleCounts{};
    for (std::size_t at = 0; at < samples.size();) {
        const std::size_t count = writePackets(samples.subspan(at), datagrams, sampleCounts);
        const std::size_t sent =
            sendData(std::span<const std::span<const std::byte>>(datagrams).first(count),
                     std::span<const std::size_t>(sampleCounts).first(count), stop, retry);
        if (sent == 0) {
            return false;
        }
        // What did not go out is written again, with the counters it carries then.
        at += countSent(std::span(sampleCounts).first(sent));
    }
    return true;
}

std::int32_t LaserCubeLink::freeNow() {
    readReports(false);
    const Clock::time_point now = Clock::now();
    idleCredit.credit(bufferFree, bufferMax.load(), sampleRate.load(), now);
    idleCredit.restart(bufferFree, now);
    return bufferFree.bufferFree.load();
}

std::size_t LaserCubeLink::samplesWithRoom(std::size_t frameSamples, bool onlyAtReserve) {
    const std::int32_t free = freeNow();
    // A device that says it is full (or never makes room) then gets only what its
    // pacing allows, however small the frame.
    if (onlyAtReserve && needsPacing(free, bufferMax.load(), reserve())) {
        return 0;
    }
    if (free >= static_cast<std::int64_t>(frameSamples)) {
        return frameSamples;
    }
    const std::size_t group = kPacketsPerWake * kMaxSamplesPerPacket;
    return free >= static_cast<std::int64_t>(group) ? group : 0;
}

SendOutcome LaserCubeLink::sendFrame(std::span<const LaserSample> whole, const StopFlags& stop,
                                     FrameStart start, std::size_t darkLead) {
    if (whole.empty()) {
        return SendOutcome::sent;
    }
    std::span<const LaserSample> samples = whole;
    const auto packetsFor = [](std::size_t count) {
        return (count + kMaxSamplesPerPacket - 1) / kMaxSamplesPerPacket;
    };
    darkLead = std::min(darkLead, whole.size());
    if (darkLead > 0 &&
        packetsFor(darkLead) + packetsFor(whole.size() - darkLead) > WireLimits::kMaxBurstPackets) {
        // The dark lead on its own, then the frame in a burst of its own.
        if (!sendPackets(whole.first(darkLead), stop, true)) {
            ++counters.frameCounter;
            return SendOutcome::stopped;
        }
        wire.endBurst();
        samples = whole.subspan(darkLead);
    }
    SendOutcome outcome = SendOutcome::sent;
    std::size_t sent = 0;
    // Sent at once: a frame's samples play when the device gets to them, however early
    // they came, so only room at the device limits how many go out without pacing.
    // Only to a device down to the reserve: one that never makes room (or says so)
    // gets what its pacing allows, however small the frame.
    const std::size_t atOnce =
        start == FrameStart::paced ? 0 : samplesWithRoom(samples.size(), true);
    for (std::size_t packet = 0; sent < samples.size();) {
        // Paced once per group: the pacing leaves the device at most the reserve, and
        // the rest of the group goes straight out after the first packet.
        if (packet % kPacketsPerWake == 0 && sent >= atOnce) {
            readReports(false);
            const std::int32_t max = bufferMax.load();
            const std::int32_t rate = sampleRate.load();
            idleCredit.credit(bufferFree, max, rate, Clock::now());
            const auto drain =
                std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 * max / rate));
            const auto sleepThenRead = [this](std::chrono::microseconds duration) {
                const std::chrono::nanoseconds slept = sleepMicroseconds(duration);
                readReports(false);
                return slept;
            };
            const PaceResult paced = paceBeforePacket(
                bufferFree, max, rate, sleepThenRead, [] { return Clock::now(); },
                [&] { return stop.raised(); }, drain + kStallMargin, nullptr, reserve());
            idleCredit.restart(bufferFree, Clock::now());
            if (paced == PaceResult::stopped) {
                outcome = SendOutcome::stopped;
                break;
            }
            if (paced == PaceResult::stalled) {
                stalls.fetch_add(1);
                if (!stalled) {
                    post(StreamEvent::stalled,
                         std::chrono::duration_cast<std::chrono::milliseconds>(drain + kStallMargin)
                             .count());
                    stalled = true;
                }
                outcome = SendOutcome::stalled;
                break;
            }
        }
        // This packet and those up to the next pacing go out together.
        std::size_t end = sent;
        std::size_t count = 0;
        do {
            end += std::min(samples.size() - end, kMaxSamplesPerPacket);
            ++count;
        } while (end < samples.size() && count < UdpSocket::kMaxBatch &&
                 ((packet + count) % kPacketsPerWake != 0 || end < atOnce));
        const std::size_t darkEnd = endOnDark(samples, sent, end, bufferFree.bufferFree.load());
        if (!sendPackets(samples.subspan(sent, darkEnd - sent), stop, true)) {
            outcome = SendOutcome::stopped;
            break;
        }
        sent = darkEnd;
        packet += count;
        if (darkEnd != end) {
            packet += kPacketsPerWake - packet % kPacketsPerWake; // paced again next
        }
        if (resumed) {
            // The network is back after the device starved: the rest of this frame is
            // stale, and the device is told dark first.
            resumed = false;
            outcome = SendOutcome::interrupted;
            break;
        }
    }
    // A cut frame still ends here, so the next one is told apart; one of which
    // nothing went out was no frame.
    if (sent > 0 || samples.size() != whole.size()) {
        ++counters.frameCounter;
    }
    if (outcome == SendOutcome::sent && stalled) {
        post(StreamEvent::takesSamplesAgain);
        stalled = false;
    }
    return outcome;
}

bool LaserCubeLink::sendUnpaced(std::span<const LaserSample> samples) {
    const bool all = sendPackets(samples, {}, false);
    if (!samples.empty()) {
        ++counters.frameCounter;
    }
    return all;
}

std::chrono::nanoseconds LaserCubeLink::timeUntilQueued(std::int32_t samples) {
    const std::int32_t free = freeNow();
    const std::int32_t rate = sampleRate.load();
    const std::int64_t queued = static_cast<std::int64_t>(bufferMax.load()) - free;
    if (queued <= samples || rate <= 0) {
        return std::chrono::nanoseconds{0};
    }
    return std::chrono::nanoseconds(static_cast<std::int64_t>(
        1e9 * static_cast<double>(queued - samples) / static_cast<double>(rate)));
}

std::int32_t LaserCubeLink::queuedSamples() {
    const std::int32_t free = freeNow();
    return std::max(0, bufferMax.load() - free);
}

LinkStats LaserCubeLink::stats() const {
    LinkStats s;
    s.samplesSent = samplesSent.load();
    s.packetsSent = packetsSent.load();
    s.deviceReports = deviceReports.load();
    s.datagramsHeard = datagramsHeard.load();
    s.ignoredReports = ignoredReports.load();
    s.impliedUnderruns = impliedUnderruns.load();
    s.stalls = stalls.load();
    s.bufferFree = bufferFree.bufferFree.load();
    s.bufferMax = bufferMax.load();
    s.sampleRate = sampleRate.load();
    s.roundTripMicroseconds = roundTripNs.load() / 1000;
    s.sendFailing = sendFailing.load();
    return s;
}

} // namespace lumarok

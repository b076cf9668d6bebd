#include "laser/lasercube_link.hpp"

#include "laser/device_datagram.hpp"
#include "laser/realtime.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace lumarok {

namespace {

constexpr std::uint16_t kDataPort = 45458;
constexpr std::uint8_t kSwitchA = 0x78;
constexpr std::uint8_t kSwitchB = 0x80;
// Discovery's receives give up this often to look at the cancel flag.
constexpr auto kReceiveTimeout = std::chrono::milliseconds(50);
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
// Back-off between retries of a failing send, doubling from the first to the last.
constexpr auto kFirstRetry = std::chrono::milliseconds(2);
// Packets of a frame sent on one wake-up. Pacing before every packet woke the sender
// once per packet (about 210 times a second at 30000 samples/s); paced once per group,
// the sleep covers the group's whole shortfall at once (4 x 140 samples, 19 ms at
// 30000/s, within the longest pacing sleep). The device then holds at most the pacing
// reserve plus one group, 700 samples more than before at the peak.
constexpr std::size_t kPacketsPerWake = 4;
constexpr auto kLastRetry = std::chrono::milliseconds(100);

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
bool sleepUnlessStopped(std::chrono::nanoseconds duration, const StopFlags& stop) {
    const Clock::time_point end = Clock::now() + duration;
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
           code == EAGAIN || code == EINTR || code == ENOMEM;
}

std::string dottedAddress(std::uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    std::array<char, INET_ADDRSTRLEN> text{};
    ::inet_ntop(AF_INET, &address, text.data(), text.size());
    return text.data();
}

} // namespace

LaserCubeLink::LaserCubeLink(const std::atomic<bool>* cancel, const ProjectorChoice& choice,
                             bool realtime, LinkPorts ports)
    : commandSocket(0), dataSocket(0), realtimeReceiver(realtime) {
    commandSocket.enableBroadcast();
    if (ports == LinkPorts::fixed) {
        commandSocket.bind(kCommandPort);
        dataSocket.bind(kDataPort);
    } else {
        commandSocket.bind(0);
    }
    commandSocket.setReceiveTimeout(kReceiveTimeout);
    discover(cancel, choice);
    inbox.emplace(commandSocket.nativeHandle());
    try {
        receiveThread = std::thread(&LaserCubeLink::receiveLoop, this);
    } catch (...) {
        sendSwitches(0x00);
        throw;
    }
}

LaserCubeLink::~LaserCubeLink() {
    {
        const std::lock_guard lock(quietMutex);
        stopRequested.store(true);
    }
    quiet.notify_all();
    try {
        switchOff();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok: switching the projector off failed: %s\n", error.what());
    }
    if (receiveThread.joinable()) {
        receiveThread.join();
    }
}

void LaserCubeLink::sendTo(const std::string& address, std::uint16_t port,
                           std::span<const std::byte> bytes) {
    commandSocket.sendTo(address, port, bytes);
}

void LaserCubeLink::sendSwitches(std::uint8_t state) {
    const std::string target = address();
    const std::array<std::byte, 2> switchA{std::byte{kSwitchA}, std::byte{state}};
    const std::array<std::byte, 2> switchB{std::byte{kSwitchB}, std::byte{state}};
    sendTo(target, kCommandPort, switchA);
    sendTo(target, kCommandPort, switchA);
    sendTo(target, kCommandPort, switchB);
    sendTo(target, kCommandPort, switchB);
}

void LaserCubeLink::switchOff() {
    if (!switchedOff.exchange(true)) {
        sendSwitches(0x00);
    }
}

void LaserCubeLink::discover(const std::atomic<bool>* cancel, const ProjectorChoice& choice) {
    Discovery discovery(commandSocket, choice);
    const FoundProjector found = discovery.waitForFirst(cancel);
    deviceSource = found.source;
    // Nothing was sent yet: the device is empty unless its answer says otherwise.
    bufferFree.report(bufferMax.load());
    handleDeviceInfo(found.datagram, found.source, true, Clock::now());
    const std::string line = "Found" + name() + " Ip: " + address() + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    sendSwitches(0x01);
}

void LaserCubeLink::warnFromReceiver(const std::string& text) {
    ignoredReports.fetch_add(1);
    receiveWarnings.print(text);
}

void LaserCubeLink::handleDeviceInfo(std::span<const std::byte> datagram,
                                     std::uint32_t sourceAddress, bool atDiscovery,
                                     Clock::time_point heard) {
    if (!atDiscovery && datagram.size() < kFullInfoBytes) {
        warnFromReceiver("a short projector information (" + std::to_string(datagram.size()) +
                         " bytes) ignored");
        return;
    }
    DeviceInfo info = parseDeviceInfo(datagram);
    infoByte3.store(info.infoByte3);
    infoByte4.store(info.infoByte4);
    infoFlag5.store(info.infoFlag5);
    infoWord14.store(info.infoWord14);
    infoByte23.store(info.infoByte23);
    infoByte24.store(info.infoByte24);
    infoByte25.store(info.infoByte25);
    infoByte37.store(info.infoByte37);
    // Implausible numbers keep the last good ones (the defaults before any).
    if (plausibleSampleRate(info.sampleRate)) {
        sampleRate.store(info.sampleRate);
    } else {
        warnFromReceiver("the projector states a sample rate of " +
                         std::to_string(static_cast<std::uint32_t>(info.sampleRate)) +
                         " samples/s; ignored, pacing goes on at " +
                         std::to_string(sampleRate.load()));
    }
    if (plausibleBufferSize(info.bufferMax)) {
        bufferMax.store(info.bufferMax);
    } else {
        warnFromReceiver("the projector states a buffer of " + std::to_string(info.bufferMax) +
                         " samples; ignored, pacing goes on with " +
                         std::to_string(bufferMax.load()));
    }
    handleBufferFree(info.bufferFree, heard);
    const std::string source = dottedAddress(sourceAddress);
    const std::lock_guard lock(textMutex);
    infoText = std::move(info.infoText);
    if (!atDiscovery) {
        // Where the stream goes was settled at discovery; a datagram cannot move it.
        if (info.deviceAddress != deviceAddress && info.deviceAddress != "0.0.0.0") {
            warnFromReceiver("the projector's information names " + info.deviceAddress +
                             "; the stream stays with " + deviceAddress);
        }
        return;
    }
    // Some devices do not know their own address; the reply's source is as good. One
    // that names another address (or a broadcast) is reached where it answered from.
    if (info.deviceAddress != "0.0.0.0" && info.deviceAddress != source) {
        std::fprintf(stderr,
                     "lumarok: the projector names address %s but answers from %s; using %s\n",
                     info.deviceAddress.c_str(), source.c_str(), source.c_str());
    }
    deviceAddress = source;
    deviceName = std::move(info.deviceName);
}

void LaserCubeLink::handleBufferFree(std::int32_t free, Clock::time_point heard) {
    const std::int32_t max = bufferMax.load();
    if (!plausibleBufferFree(free, max)) {
        warnFromReceiver("the projector reports " + std::to_string(free) + " free of a " +
                         std::to_string(max) + "-sample buffer; ignored");
        return;
    }
    if (free == max && lastReportedFree >= 0 && lastReportedFree < max) {
        impliedUnderruns.fetch_add(1);
    }
    lastReportedFree = free;
    deviceReports.fetch_add(1);
    bufferFree.report(free, heard);
}

void LaserCubeLink::handleDatagram(std::span<const std::byte> datagram, std::uint32_t sourceAddress,
                                   Clock::time_point heard) {
    const DeviceDatagram parsed = parseDeviceDatagram(datagram, kStreamingInfoMinimum);
    switch (parsed.kind) {
    case DeviceDatagram::Kind::deviceInfo:
        handleDeviceInfo(datagram, sourceAddress, false, heard);
        break;
    case DeviceDatagram::Kind::bufferFree:
        handleBufferFree(parsed.bufferFree, heard);
        break;
    case DeviceDatagram::Kind::ignored:
        if (!datagram.empty() && std::to_integer<std::uint8_t>(datagram[0]) == kDeviceInfoTag) {
            warnFromReceiver("a short projector information (" + std::to_string(datagram.size()) +
                             " bytes) ignored");
        }
        break;
    }
}

void LaserCubeLink::receiveLoop() {
    // Where refused, the sender says so in its own line; nothing to add here.
    if (realtimeReceiver) {
        (void)raiseToRealtime(kReceiverPriority);
    }
    for (;;) {
        {
            std::unique_lock lock(quietMutex);
            if (quiet.wait_for(lock, kQuietRead, [this] { return stopRequested.load(); })) {
                return;
            }
        }
        readReports();
    }
}

void LaserCubeLink::readReports() {
    const std::lock_guard lock(readMutex);
    const Clock::time_point now = Clock::now();
    if (now - lastRead < kReadAtMostEvery) {
        return;
    }
    lastRead = now;
    inbox->drain([this](const HeardDatagram& datagram) {
        try {
            // Only the device that answered discovery may steer the stream.
            if (datagram.source == deviceSource) {
                handleDatagram(datagram.bytes, datagram.source, datagram.heard);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "lumarok: device datagram dropped: %s\n", error.what());
        }
    });
}

std::size_t LaserCubeLink::sendData(std::span<const std::span<const std::byte>> datagrams,
                                    const StopFlags& stop) {
    std::chrono::nanoseconds backOff = kFirstRetry;
    for (;;) {
        try {
            const std::size_t sent = commandSocket.sendBatch(deviceAddress, kDataPort, datagrams);
            if (failingSince) {
                const Clock::time_point now = Clock::now();
                // What went out meanwhile may sit in the kernel until the neighbour is
                // found again: restart from the pacing threshold, not from an empty
                // device, so a burst cannot be larger than the reserve.
                bufferFree.report(bufferMax.load() - kPacingReserve);
                const std::chrono::duration<double> down = now - *failingSince;
                std::fprintf(stderr, "lumarok: sending to the projector works again after %.1f s\n",
                             down.count());
                failingSince.reset();
                sendFailing.store(false);
            }
            return sent;
        } catch (const std::system_error& error) {
            if (!transientSendError(error.code().value())) {
                throw;
            }
            const Clock::time_point now = Clock::now();
            if (!failingSince) {
                failingSince = now;
                sendFailing.store(true);
            }
            if (now - *failingSince > kGiveUpAfter) {
                throw std::runtime_error("the projector stayed unreachable for " +
                                         std::to_string(kGiveUpAfter.count()) +
                                         " s: " + error.code().message());
            }
            sendWarnings.print("sending to the projector failed (" + error.code().message() +
                               "); retrying");
            if (!sleepUnlessStopped(backOff, stop)) {
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
        samplesSent.fetch_add(samples);
        packetsSent.fetch_add(1);
        ++counters.messageCounter;
        total += samples;
    }
    return total;
}

template <typename Send>
bool LaserCubeLink::sendInBatches(std::span<const LaserSample> samples, Send&& send) {
    std::array<std::span<const std::byte>, UdpSocket::kMaxBatch> datagrams{};
    std::array<std::size_t, UdpSocket::kMaxBatch> sampleCounts{};
    for (std::size_t at = 0; at < samples.size();) {
        const std::size_t count = writePackets(samples.subspan(at), datagrams, sampleCounts);
        const std::size_t sent =
            send(std::span<const std::span<const std::byte>>(datagrams).first(count));
        if (sent == 0) {
            return false;
        }
        // What did not go out is written again, with the counters it carries then.
        at += countSent(std::span(sampleCounts).first(sent));
    }
    return true;
}

bool LaserCubeLink::sendPackets(std::span<const LaserSample> samples, const StopFlags& stop) {
    return sendInBatches(samples, [&](std::span<const std::span<const std::byte>> datagrams) {
        return sendData(datagrams, stop);
    });
}

std::int32_t LaserCubeLink::freeNow() {
    readReports();
    const Clock::time_point now = Clock::now();
    idleCredit.credit(bufferFree, bufferMax.load(), sampleRate.load(), now);
    idleCredit.restart(bufferFree, now);
    return bufferFree.bufferFree.load();
}

std::size_t LaserCubeLink::samplesWithRoom(std::size_t frameSamples, bool onlyAtReserve) {
    const std::int32_t free = freeNow();
    // A device that says it is full (or never makes room) then gets only what its
    // pacing allows, however small the frame.
    if (onlyAtReserve && needsPacing(free, bufferMax.load())) {
        return 0;
    }
    if (free >= static_cast<std::int64_t>(frameSamples)) {
        return frameSamples;
    }
    const std::size_t group = kPacketsPerWake * kMaxSamplesPerPacket;
    return free >= static_cast<std::int64_t>(group) ? group : 0;
}

SendOutcome LaserCubeLink::sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                                     FrameStart start) {
    if (samples.empty()) {
        return SendOutcome::sent;
    }
    SendOutcome outcome = SendOutcome::sent;
    std::size_t sent = 0;
    // Sent at once: a frame's samples play when the device gets to them, however early
    // they came, so only room at the device limits how many go out without pacing.
    const std::size_t atOnce =
        start == FrameStart::paced
            ? 0
            : samplesWithRoom(samples.size(), start == FrameStart::atReserve);
    for (std::size_t packet = 0; sent < samples.size();) {
        // Paced once per group: the pacing leaves the device at most the reserve, and
        // the rest of the group goes straight out after the first packet.
        if (packet % kPacketsPerWake == 0 && sent >= atOnce) {
            readReports();
            const std::int32_t max = bufferMax.load();
            const std::int32_t rate = sampleRate.load();
            idleCredit.credit(bufferFree, max, rate, Clock::now());
            const auto drain =
                std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 * max / rate));
            const auto sleepThenRead = [this](std::chrono::microseconds duration) {
                const std::chrono::nanoseconds slept = sleepMicroseconds(duration);
                readReports();
                return slept;
            };
            const PaceResult paced = paceBeforePacket(
                bufferFree, max, rate, sleepThenRead, [] { return Clock::now(); },
                [&] { return stop.raised(); }, drain + kStallMargin);
            idleCredit.restart(bufferFree, Clock::now());
            if (paced == PaceResult::stopped) {
                outcome = SendOutcome::stopped;
                break;
            }
            if (paced == PaceResult::stalled) {
                stalls.fetch_add(1);
                if (!stalled) {
                    std::fprintf(stderr,
                                 "lumarok: the projector made no room for %lld ms; sending dark "
                                 "and waiting for it\n",
                                 static_cast<long long>(
                                     std::chrono::duration_cast<std::chrono::milliseconds>(
                                         drain + kStallMargin)
                                         .count()));
                    stalled = true;
                }
                outcome = SendOutcome::stalled;
                break;
            }
        }
        // This packet and those up to the next pacing go out in one system call.
        std::size_t end = sent;
        std::size_t count = 0;
        do {
            end += std::min(samples.size() - end, kMaxSamplesPerPacket);
            ++count;
        } while (end < samples.size() && count < UdpSocket::kMaxBatch &&
                 ((packet + count) % kPacketsPerWake != 0 || end < atOnce));
        if (!sendPackets(samples.subspan(sent, end - sent), stop)) {
            outcome = SendOutcome::stopped;
            break;
        }
        sent = end;
        packet += count;
    }
    // A cut frame still ends here, so the next one is told apart; one of which
    // nothing went out was no frame.
    if (sent > 0) {
        ++counters.frameCounter;
    }
    if (outcome == SendOutcome::sent && stalled) {
        std::fputs("lumarok: the projector takes samples again\n", stderr);
        stalled = false;
    }
    return outcome;
}

void LaserCubeLink::sendUnpaced(std::span<const LaserSample> samples) {
    sendInBatches(samples, [&](std::span<const std::span<const std::byte>> datagrams) {
        return commandSocket.sendBatch(deviceAddress, kDataPort, datagrams);
    });
    if (!samples.empty()) {
        ++counters.frameCounter;
    }
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

std::string LaserCubeLink::name() const {
    const std::lock_guard lock(textMutex);
    return deviceName;
}

std::string LaserCubeLink::address() const {
    const std::lock_guard lock(textMutex);
    return deviceAddress;
}

LinkStats LaserCubeLink::stats() const {
    LinkStats s;
    s.samplesSent = samplesSent.load();
    s.packetsSent = packetsSent.load();
    s.deviceReports = deviceReports.load();
    s.ignoredReports = ignoredReports.load();
    s.impliedUnderruns = impliedUnderruns.load();
    s.stalls = stalls.load();
    s.bufferFree = bufferFree.bufferFree.load();
    s.bufferMax = bufferMax.load();
    s.sampleRate = sampleRate.load();
    s.sendFailing = sendFailing.load();
    return s;
}

} // namespace lumarok

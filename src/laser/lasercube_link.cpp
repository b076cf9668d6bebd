#include "laser/lasercube_link.hpp"

#include "laser/device_datagram.hpp"

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace lumarok {

namespace {

constexpr std::uint16_t kDataPort = 45458;
constexpr std::uint8_t kSwitchA = 0x78;
constexpr std::uint8_t kSwitchB = 0x80;
// The receive loop wakes this often to look at its stop flag.
constexpr auto kReceiveTimeout = std::chrono::milliseconds(50);
constexpr std::size_t kReceiveBytes = 4096;

using Clock = std::chrono::steady_clock;

// Sleeps on the steady clock; returns the time that really passed.
std::chrono::nanoseconds sleepMicroseconds(std::chrono::microseconds duration) {
    const Clock::time_point start = Clock::now();
    if (duration.count() > 0) {
        std::this_thread::sleep_for(duration);
    }
    return Clock::now() - start;
}

struct Received {
    std::span<const std::byte> datagram;
    std::uint32_t source = 0; // network byte order
    bool ok = false;
};

Received receiveFrom(const UdpSocket& socket, std::array<std::byte, kReceiveBytes + 1>& buffer) {
    sockaddr_in source{};
    socklen_t sourceSize = sizeof source;
    const ssize_t received = ::recvfrom(socket.nativeHandle(), buffer.data(), kReceiveBytes, 0,
                                        reinterpret_cast<sockaddr*>(&source), &sourceSize);
    if (received <= 0) {
        return {};
    }
    const auto length = static_cast<std::size_t>(received);
    buffer[length] = std::byte{0};
    return Received{std::span<const std::byte>(buffer.data(), length), source.sin_addr.s_addr,
                    true};
}

std::string dottedAddress(std::uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    std::array<char, INET_ADDRSTRLEN> text{};
    ::inet_ntop(AF_INET, &address, text.data(), text.size());
    return text.data();
}

} // namespace

LaserCubeLink::LaserCubeLink(const std::atomic<bool>* cancel, const ProjectorChoice& choice)
    : commandSocket(0), dataSocket(0) {
    commandSocket.enableBroadcast();
    commandSocket.bind(kCommandPort);
    dataSocket.bind(kDataPort);
    commandSocket.setReceiveTimeout(kReceiveTimeout);
    discover(cancel, choice);
    try {
        receiveThread = std::thread(&LaserCubeLink::receiveLoop, this);
    } catch (...) {
        sendSwitches(0x00);
        throw;
    }
}

LaserCubeLink::~LaserCubeLink() {
    stopRequested.store(true);
    try {
        sendSwitches(0x00);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok: switching the projector off failed: %s\n", error.what());
    }
    try {
        commandSocket.shutdown(); // wakes the receive thread at once
    } catch (const std::exception& error) {
        // The receive time-out still ends the loop, only later.
        std::fprintf(stderr, "lumarok: %s\n", error.what());
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

void LaserCubeLink::discover(const std::atomic<bool>* cancel, const ProjectorChoice& choice) {
    Discovery discovery(commandSocket, choice);
    const FoundProjector found = discovery.waitForFirst(cancel);
    deviceSource = found.source;
    handleDeviceInfo(found.datagram, found.source);
    const std::string line = "Found" + name() + " Ip: " + address() + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    sendSwitches(0x01);
}

void LaserCubeLink::handleDeviceInfo(std::span<const std::byte> datagram,
                                     std::uint32_t sourceAddress) {
    DeviceInfo info = parseDeviceInfo(datagram);
    // Some devices do not know their own address; the reply's source is as good.
    if (info.deviceAddress == "0.0.0.0") {
        info.deviceAddress = dottedAddress(sourceAddress);
    }
    infoByte3.store(info.infoByte3);
    infoByte4.store(info.infoByte4);
    infoFlag5.store(info.infoFlag5);
    sampleRate.store(info.sampleRate);
    infoWord14.store(info.infoWord14);
    bufferFree.report(info.bufferFree);
    bufferMax.store(info.bufferMax);
    infoByte23.store(info.infoByte23);
    infoByte24.store(info.infoByte24);
    infoByte25.store(info.infoByte25);
    infoByte37.store(info.infoByte37);
    const std::lock_guard lock(textMutex);
    infoText = std::move(info.infoText);
    deviceAddress = std::move(info.deviceAddress);
    deviceName = std::move(info.deviceName);
}

void LaserCubeLink::handleDatagram(std::span<const std::byte> datagram,
                                   std::uint32_t sourceAddress) {
    const DeviceDatagram parsed = parseDeviceDatagram(datagram, kStreamingInfoMinimum);
    switch (parsed.kind) {
    case DeviceDatagram::Kind::deviceInfo:
        handleDeviceInfo(datagram, sourceAddress);
        break;
    case DeviceDatagram::Kind::bufferFree: {
        // A buffer that was filled and is reported all free again ran dry.
        const bool empty = parsed.bufferFree >= bufferMax.load();
        if (empty && !bufferWasEmpty) {
            emptyReports.fetch_add(1);
        }
        bufferWasEmpty = empty;
        bufferFree.report(parsed.bufferFree);
        break;
    }
    case DeviceDatagram::Kind::ignored:
        break;
    }
}

void LaserCubeLink::receiveLoop() {
    std::array<std::byte, kReceiveBytes + 1> buffer{};
    while (!stopRequested.load()) {
        try {
            const Received received = receiveFrom(commandSocket, buffer);
            // Only the device that answered discovery may steer the stream.
            if (received.ok && received.source == deviceSource) {
                handleDatagram(received.datagram, received.source);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "lumarok: device datagram dropped: %s\n", error.what());
        }
    }
}

void LaserCubeLink::sendFrame(const std::vector<LaserSample>& samples) {
    if (samples.empty()) {
        return;
    }
    const std::string target = address();
    packFrame(
        samples, counters, packetBuffer,
        [this] {
            const std::int32_t max = bufferMax.load();
            const std::int32_t rate = sampleRate.load();
            idleCredit.credit(bufferFree, max, rate, IdleCredit::Clock::now());
            paceBeforePacket(bufferFree, max, rate, sleepMicroseconds);
            idleCredit.restart(bufferFree, IdleCredit::Clock::now());
        },
        [&](std::span<const std::byte> bytes, std::size_t count) {
            sendTo(target, kDataPort, bytes);
            bufferFree.bufferFree.fetch_sub(static_cast<std::int32_t>(count));
        });
}

LaserCubeLink::Readout LaserCubeLink::readout() const {
    return {bufferFree.bufferFree.load(), bufferMax.load(), sampleRate.load(), emptyReports.load()};
}

std::string LaserCubeLink::name() const {
    const std::lock_guard lock(textMutex);
    return deviceName;
}

std::string LaserCubeLink::address() const {
    const std::lock_guard lock(textMutex);
    return deviceAddress;
}

} // namespace lumarok

#pragma once

#include "clock/udp_socket.hpp"
#include "laser/discovery.hpp"
#include "laser/laser_sample.hpp"
#include "laser/pacing.hpp"
#include "laser/sample_packets.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

// Drives one projector over UDP: finds it by broadcast, switches it on, streams
// sample frames paced against its buffer, and switches it off on destruction.
// Thread: construct, sendFrame and destroy on one thread; a receive thread of the
// link's own hears the device meanwhile.
class LaserCubeLink {
public:
    // Blocks until a device (the chosen one, if any) answers. Throws DiscoveryCancelled
    // when *stopRequested turns true first, std::system_error on socket failures.
    explicit LaserCubeLink(const std::atomic<bool>* stopRequested = nullptr,
                           const ProjectorChoice& choice = {});
    ~LaserCubeLink();
    LaserCubeLink(const LaserCubeLink&) = delete;
    LaserCubeLink& operator=(const LaserCubeLink&) = delete;

    // Sends one frame; may sleep to let the device catch up. Throws "sendto failed".
    void sendFrame(const std::vector<LaserSample>& samples);

    [[nodiscard]] std::string name() const;
    [[nodiscard]] std::string address() const;

    // What the status line shows; cheap, any thread.
    struct Readout {
        std::int32_t bufferFree = 0; // the estimate
        std::int32_t bufferMax = 0;
        std::int32_t sampleRate = 0;
        std::uint64_t emptyReports = 0; // the device said its buffer ran empty
    };
    [[nodiscard]] Readout readout() const;

private:
    void sendTo(const std::string& address, std::uint16_t port, std::span<const std::byte> bytes);
    void sendSwitches(std::uint8_t state);
    void discover(const std::atomic<bool>* cancel, const ProjectorChoice& choice);
    void handleDeviceInfo(std::span<const std::byte> datagram, std::uint32_t sourceAddress);
    void handleDatagram(std::span<const std::byte> datagram, std::uint32_t sourceAddress);
    void receiveLoop();

    UdpSocket commandSocket;
    UdpSocket dataSocket;
    std::atomic<std::uint8_t> infoByte3{0};
    std::atomic<std::uint8_t> infoByte4{0};
    std::atomic<bool> infoFlag5{false};
    std::atomic<std::int32_t> sampleRate{0};
    std::atomic<std::int32_t> infoWord14{0};
    BufferEstimate bufferFree; // the estimate and the count of device reports
    IdleCredit idleCredit;     // the sender's own: playing time outside pacing
    std::atomic<std::int32_t> bufferMax{0};
    std::atomic<std::int32_t> infoByte23{0};
    std::atomic<std::int32_t> infoByte24{0};
    std::atomic<std::int32_t> infoByte25{0};
    mutable std::mutex textMutex; // guards the three texts below
    std::string infoText;
    std::string deviceAddress;
    std::atomic<std::int32_t> infoByte37{0};
    std::string deviceName;
    // The source that answered discovery, network byte order; the only one heard after.
    std::uint32_t deviceSource = 0;
    std::atomic<std::uint64_t> emptyReports{0};
    bool bufferWasEmpty = true; // receive thread only
    PacketCounters counters;
    SampleDataBuffer packetBuffer{};
    std::atomic<bool> stopRequested{false};
    std::thread receiveThread;
};

} // namespace lumarok

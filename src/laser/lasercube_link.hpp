#pragma once

#include "clock/udp_socket.hpp"
#include "laser/datagram_inbox.hpp"
#include "laser/device_checks.hpp"
#include "laser/discovery.hpp"
#include "laser/laser_output.hpp"
#include "laser/laser_sample.hpp"
#include "laser/pacing.hpp"
#include "laser/sample_packets.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

// A cheap copy of the link's counters and the device's last stated numbers.
struct LinkStats {
    std::uint64_t samplesSent = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t deviceReports = 0;    // buffer reports and informations heeded
    std::uint64_t ignoredReports = 0;   // implausible numbers, short informations
    std::uint64_t impliedUnderruns = 0; // reports of an empty buffer after a fuller one
    std::uint64_t stalls = 0;
    std::int32_t bufferFree = 0; // the current estimate
    std::int32_t bufferMax = 0;
    std::int32_t sampleRate = 0;
    bool sendFailing = false; // transient send errors right now
};

// Which local ports a link listens on: the fixed command and data ports (one link per
// machine), or ports the system picks, so that several links live side by side; a
// projector answers to where it was asked from.
enum class LinkPorts { fixed, anyFree };

// Drives one projector over UDP: finds it by broadcast, switches it on, streams
// sample frames paced against its buffer, and switches it off on destruction.
// The address found at discovery is kept for the link's life; later datagrams can
// change the pacing numbers (when plausible) but never where the stream goes.
// Thread: construct, send and destroy on one thread at a time (the sending thread
// may differ from the constructing one when the handover is ordered); stats() from
// any thread. The device's datagrams are read by the sending thread whenever it looks
// at the buffer, and every 100 ms besides by a receive thread of the link's own.
class LaserCubeLink final : public LaserOutput {
public:
    // Blocks until a device (the chosen one, if any) answers. Throws DiscoveryCancelled
    // when *stopRequested turns true first (seen within 50 ms), std::system_error on
    // socket failures. `realtime`: the receive thread asks for SCHED_FIFO (kReceiverPriority).
    explicit LaserCubeLink(const std::atomic<bool>* stopRequested = nullptr,
                           const ProjectorChoice& choice = {}, bool realtime = false,
                           LinkPorts ports = LinkPorts::fixed);
    ~LaserCubeLink() override;
    LaserCubeLink(const LaserCubeLink&) = delete;
    LaserCubeLink& operator=(const LaserCubeLink&) = delete;

    // Sends one frame; may sleep to let the device catch up. Transient network errors
    // are retried for kGiveUpAfter; then, or on any other error, throws.
    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                          FrameStart start) override;
    void sendFrame(const std::vector<LaserSample>& samples) {
        (void)sendFrame(samples, {}, FrameStart::paced);
    }
    void sendUnpaced(std::span<const LaserSample> samples) override;
    // Sends the switch-off now instead of at destruction (once); throws on errors.
    void switchOff() override;
    [[nodiscard]] std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override;
    [[nodiscard]] std::int32_t queuedSamples() override;
    [[nodiscard]] std::int32_t playRate() override { return sampleRate.load(); }

    [[nodiscard]] std::string name() const;
    [[nodiscard]] std::string address() const;
    [[nodiscard]] LinkStats stats() const;

    // Transient send errors are retried this long before the link gives up.
    static constexpr std::chrono::seconds kGiveUpAfter{10};
    // Beyond the time the whole buffer takes to drain, before a device is stalled.
    static constexpr std::chrono::milliseconds kStallMargin{250};

private:
    void sendTo(const std::string& address, std::uint16_t port, std::span<const std::byte> bytes);
    // Sends sample data datagrams with one system call, retrying transient failures;
    // returns how many went out, 0 when a stop came while it retried.
    std::size_t sendData(std::span<const std::span<const std::byte>> datagrams,
                         const StopFlags& stop);
    // Writes the first packets of `samples` (as many as there are packet buffers) with the
    // counters they will carry; returns how many.
    std::size_t writePackets(std::span<const LaserSample> samples,
                             std::span<std::span<const std::byte>> datagrams,
                             std::span<std::size_t> sampleCounts);
    // Counts packets that went out, with these many samples each; returns their samples.
    std::size_t countSent(std::span<const std::size_t> sampleCounts);
    // Sends `samples` as sample data packets a batch at a time through `send` (the
    // datagrams; returns how many went out, 0 to give up) and counts what went out;
    // false when `send` gave up.
    template <typename Send> bool sendInBatches(std::span<const LaserSample> samples, Send&& send);
    // Sample data packets, counted; false when a stop came while they were retried.
    bool sendPackets(std::span<const LaserSample> samples, const StopFlags& stop);
    // The free-space estimate brought up to now: the reports waiting read, the time
    // since the last look credited.
    std::int32_t freeNow();
    // How many of a frame's first samples may go out unpaced now: all of them, one group
    // of packets, or none, as far as the device has room; none at all unless it is down
    // to the pacing reserve, if `onlyAtReserve`.
    std::size_t samplesWithRoom(std::size_t frameSamples, bool onlyAtReserve);
    void sendSwitches(std::uint8_t state);
    void discover(const std::atomic<bool>* cancel, const ProjectorChoice& choice);
    using Clock = std::chrono::steady_clock;
    void handleDeviceInfo(std::span<const std::byte> datagram, std::uint32_t sourceAddress,
                          bool atDiscovery, Clock::time_point heard);
    void handleBufferFree(std::int32_t free, Clock::time_point heard);
    void handleDatagram(std::span<const std::byte> datagram, std::uint32_t sourceAddress,
                        Clock::time_point heard);
    // Reads every device datagram waiting; from the sending or the receive thread.
    void readReports();
    void receiveLoop();
    void warnFromReceiver(const std::string& text);

    UdpSocket commandSocket;
    UdpSocket dataSocket;
    std::atomic<std::uint8_t> infoByte3{0};
    std::atomic<std::uint8_t> infoByte4{0};
    std::atomic<bool> infoFlag5{false};
    std::atomic<std::int32_t> sampleRate{kDefaultSampleRate};
    std::atomic<std::int32_t> infoWord14{0};
    BufferEstimate bufferFree; // the estimate and the count of device reports
    IdleCredit idleCredit;     // the sender's own: playing time outside pacing
    std::atomic<std::int32_t> bufferMax{kDefaultBufferSize};
    std::atomic<std::int32_t> infoByte23{0};
    std::atomic<std::int32_t> infoByte24{0};
    std::atomic<std::int32_t> infoByte25{0};
    mutable std::mutex textMutex; // guards the three texts below
    std::string infoText;
    // Written once at discovery, before the receive thread starts, and never again:
    // the sending thread reads it without the lock.
    std::string deviceAddress;
    std::atomic<std::int32_t> infoByte37{0};
    std::string deviceName;
    // The source that answered discovery, network byte order; the only one heard after.
    std::uint32_t deviceSource = 0;
    PacketCounters counters;
    std::array<SampleDataBuffer, UdpSocket::kMaxBatch> packetBuffers{};
    std::atomic<bool> stopRequested{false};

    // Counters for stats(); written by the sending or the receive thread.
    std::atomic<std::uint64_t> samplesSent{0};
    std::atomic<std::uint64_t> packetsSent{0};
    std::atomic<std::uint64_t> deviceReports{0};
    std::atomic<std::uint64_t> ignoredReports{0};
    std::atomic<std::uint64_t> impliedUnderruns{0};
    std::atomic<std::uint64_t> stalls{0};
    std::atomic<bool> sendFailing{false};
    std::atomic<bool> switchedOff{false};
    bool realtimeReceiver = false;
    std::mutex readMutex;               // one reader of the device's datagrams at a time
    std::optional<DatagramInbox> inbox; // made at discovery; under readMutex
    std::int32_t lastReportedFree = -1; // under readMutex
    std::chrono::steady_clock::time_point lastRead{}; // under readMutex
    RateLimitedLine receiveWarnings;                  // under readMutex
    RateLimitedLine sendWarnings;                     // sending thread only
    bool stalled = false;                             // sending thread only: said so already
    std::optional<std::chrono::steady_clock::time_point> failingSince; // sending thread

    std::mutex quietMutex; // the receive thread's wait between reads
    std::condition_variable quiet;
    std::thread receiveThread;
};

} // namespace lumarok

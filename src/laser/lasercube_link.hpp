#pragma once

#include "core/laser_sample.hpp"
#include "laser/device_checks.hpp"
#include "laser/discovery.hpp"
#include "laser/event_log.hpp"
#include "laser/laser_output.hpp"
#include "laser/pacing.hpp"
#include "laser/projector_link.hpp"
#include "laser/sample_packets.hpp"
#include "laser/send_history.hpp"
#include "laser/wire_limits.hpp"
#include "net/datagram_inbox.hpp"
#include "net/udp_socket.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace lumarok {

// Drives one projector that discovery found: switches it on, streams sample frames paced
// against its buffer, and switches it off on destruction. Its socket shares the device
// protocol's command port with every other link and with discovery, and is connected
// to the device, so it hears that device alone; the device's answers arrive on that
// port whether it answers to the port a request came from or to the protocol's own.
// The address found at discovery is kept for the link's life.
// Thread: construct and destroy on one thread; sendFrame, sendUnpaced, switchOff and
// the buffer questions on the sending thread (wait-free but for the pacing sleeps they
// name, and for the socket's system calls); stats() from any. The device's datagrams
// are read by the sending thread when it looks at the buffer (never waiting for the
// lock: when the link's own receive thread is reading, it goes on without), and every
// 100 ms besides by that thread. Messages go to the event log, never to stderr.
class LaserCubeLink final : public ProjectorLink {
public:
    // `stream` numbers the projector in the log's events. `realtime`: the receive
    // thread asks for SCHED_FIFO (kReceiverPriority). Throws std::system_error on
    // socket failures.
    LaserCubeLink(const FoundProjector& found, EventLog& log, std::uint16_t stream = 0,
                  bool realtime = false);
    ~LaserCubeLink() override;
    LaserCubeLink(const LaserCubeLink&) = delete;
    LaserCubeLink& operator=(const LaserCubeLink&) = delete;

    // Sends one frame; may sleep to let the device catch up. Transient network errors
    // are retried until they clear or a stop comes; any other error throws.
    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                          FrameStart start, std::size_t darkLead = 0) override;
    bool sendUnpaced(std::span<const LaserSample> samples) override;
    // Sends the switch-off now instead of at destruction (once it went out); false when
    // the network refused it.
    bool switchOff() override;
    [[nodiscard]] std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override;
    [[nodiscard]] std::int32_t queuedSamples() override;
    [[nodiscard]] std::int32_t playRate() override { return sampleRate.load(); }
    [[nodiscard]] std::int32_t bufferSize() override { return bufferMax.load(); }
    // The pacing reserve plus what the device plays while a packet is on its way to it,
    // so that a slow network does not starve it; room for a burst is kept above it.
    [[nodiscard]] std::int32_t reserve() override;
    // The round trip to the device as last measured (zero until then).
    [[nodiscard]] std::chrono::nanoseconds roundTrip() const;

    // Asks the device for its information (the discovery request, to its address): a
    // device that stopped reporting but still answers is not lost. Thread: any but the
    // sender's; never throws.
    void askForInformation() override;

    [[nodiscard]] const std::string& name() const override { return deviceName; }
    [[nodiscard]] Ipv4Address address() const override { return device; }
    [[nodiscard]] LinkStats stats() const override;

    // Beyond the time the whole buffer takes to drain, before a device is stalled.
    static constexpr std::chrono::milliseconds kStallMargin{250};

private:
    // Sends sample data datagrams within the wire's limits, retrying transient failures
    // while `retry`; returns how many went out, 0 when a stop came or (without retry) the
    // network refused them.
    std::size_t sendData(std::span<const std::span<const std::byte>> datagrams,
                         std::span<const std::size_t> sampleCounts, const StopFlags& stop,
                         bool retry);
    std::size_t writePackets(std::span<const LaserSample> samples,
                             std::span<std::span<const std::byte>> datagrams,
                             std::span<std::size_t> sampleCounts);
    std::size_t countSent(std::span<const std::size_t> sampleCounts);
    // Sample data packets, counted; false when they did not all go out.
    bool sendPackets(std::span<const LaserSample> samples, const StopFlags& stop, bool retry);
    std::int32_t freeNow();
    std::size_t samplesWithRoom(std::size_t frameSamples, bool onlyAtReserve);
    bool sendSwitches(std::uint8_t state);
    using Clock = std::chrono::steady_clock;
    void handleDeviceInfo(std::span<const std::byte> datagram, Clock::time_point heard);
    void handleBufferFree(std::int32_t free, Clock::time_point heard);
    // A request for the device's information answered: one more round-trip reading.
    void measureRoundTrip(Clock::time_point heard);
    void handleDatagram(std::span<const std::byte> datagram, Clock::time_point heard);
    // Reads every device datagram waiting; from the sending or the receive thread. The
    // sender passes `wait` false and skips the read when the other thread is at it.
    void readReports(bool wait);
    void receiveLoop();
    void post(StreamEvent kind, std::int64_t a = 0, std::int64_t b = 0) const;
    [[nodiscard]] std::int32_t burstCapacity();
    // Samples a second the wire may carry to the device.
    [[nodiscard]] std::int32_t allowedRate() const;

    EventLog& log;
    std::uint16_t stream;
    UdpSocket socket;
    std::atomic<std::int32_t> sampleRate{kDefaultSampleRate};
    std::atomic<std::int32_t> bufferMax{kDefaultBufferSize};
    BufferEstimate bufferFree; // the estimate and the count of device reports
    IdleCredit idleCredit;     // the sender's own: playing time outside pacing
    // Written at construction, read only after.
    Ipv4Address device; // where it answered discovery from: the only source heard
    std::string deviceName;
    Ipv4Address namedAtDiscovery; // the address its first information named
    PacketCounters counters;
    std::array<SampleDataBuffer, UdpSocket::kMaxBatch> packetBuffers{};
    std::atomic<bool> stopRequested{false};

    // Counters for stats(); written by the sending or the receive thread.
    std::atomic<std::uint64_t> samplesSent{0};
    std::atomic<std::uint64_t> packetsSent{0};
    std::atomic<std::uint64_t> deviceReports{0};
    std::atomic<std::uint64_t> datagramsHeard{0};
    std::atomic<std::uint64_t> ignoredReports{0};
    std::atomic<std::uint64_t> impliedUnderruns{0};
    std::atomic<std::uint64_t> stalls{0};
    std::atomic<bool> sendFailing{false};
    std::atomic<bool> switchedOff{false};
    bool realtimeReceiver = false;
    std::mutex readMutex;                          // one reader of the device's datagrams at a time
    std::optional<DatagramInbox> inbox;            // under readMutex
    std::int32_t lastReportedFree = -1;            // under readMutex
    Clock::time_point lastRead{};                  // under readMutex
    WireLimits wire;                               // sending thread only
    bool stalled = false;                          // sending thread only
    std::optional<Clock::time_point> failingSince; // sending thread only
    bool resumed = false; // sending thread only: sends work again since the frame began

    SendHistory history;                      // written by the sending thread
    std::atomic<Clock::rep> askedAt{0};       // the last information request, 0 once answered
    std::array<std::int64_t, 8> roundTrips{}; // nanoseconds, newest readings; under readMutex
    std::size_t roundTripReadings = 0;        // under readMutex
    std::atomic<std::int64_t> roundTripNs{0}; // the least of the readings kept

    Doorbell quiet; // wakes the receive thread to end it
    std::thread receiveThread;
};

} // namespace lumarok

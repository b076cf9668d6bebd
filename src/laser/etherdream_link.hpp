#pragma once

#include "laser/etherdream_protocol.hpp"
#include "laser/event_log.hpp"
#include "laser/projector_link.hpp"
#include "net/ipv4_address.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace lumarok {

// A DAC heard by its status broadcast.
struct EtherDreamFound {
    Ipv4Address source; // where its broadcast came from
    etherdream::Broadcast broadcast;
    [[nodiscard]] std::string name() const { return etherdream::deviceName(broadcast); }
};

// Drives one network DAC over its TCP connection: clears an e-stop and prepares it,
// writes a first fill, begins at the chosen point rate, and keeps its buffer filled by
// the status in every response; an underflow or e-stop is told in one line and
// recovered by preparing again. Every wait is bounded: the connect and the first
// answers (2 s, on the owner's thread), and on the sending thread each write waits at
// most 20 ms for the socket at a time, seeing a stop in between. The socket never
// blocks. Destruction stops the DAC ('s') and closes the connection.
// Thread: construct and destroy on one thread; the output's operations on the sending
// thread, which alone writes to the socket; a receive thread of its own reads the
// responses; stats() and askForInformation() from any.
class EtherDreamLink final : public ProjectorLink {
public:
    // Throws std::runtime_error when the DAC cannot be reached, refuses to prepare or
    // `pointRate` is above its maximum, or when `stop` is raised while it is asked (the
    // flags must outlive the constructor only).
    EtherDreamLink(const EtherDreamFound& found, std::uint32_t pointRate, EventLog& log,
                   std::uint16_t stream = 0, const StopFlags& stop = {});
    ~EtherDreamLink() override;
    EtherDreamLink(const EtherDreamLink&) = delete;
    EtherDreamLink& operator=(const EtherDreamLink&) = delete;

    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                          FrameStart start, std::size_t darkLead) override;
    bool sendUnpaced(std::span<const LaserSample> samples) override;
    bool switchOff() override;
    [[nodiscard]] std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override;
    [[nodiscard]] std::int32_t queuedSamples() override;
    [[nodiscard]] std::int32_t playRate() override { return static_cast<std::int32_t>(rate); }
    [[nodiscard]] std::int32_t bufferSize() override { return capacity; }
    [[nodiscard]] std::int32_t reserve() override { return reserveSamples; }

    void askForInformation() override { pingWanted.store(true); }
    [[nodiscard]] LinkStats stats() const override;
    [[nodiscard]] const std::string& name() const override { return deviceName; }
    [[nodiscard]] Ipv4Address address() const override { return deviceAddress; }

    // Beyond the time the whole buffer takes to drain, before a device is stalled.
    static constexpr std::chrono::milliseconds kStallMargin{250};

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        std::uint8_t command = 0;
        std::uint16_t points = 0;
        std::uint32_t generation = 0;
        bool afterBegin = false;
    };
    static constexpr std::size_t kPendingSlots = 512;

    // The owner's thread, before the receive thread runs.
    etherdream::Response awaitResponse(std::chrono::milliseconds timeout);
    void commandAndWait(etherdream::Command command, std::chrono::milliseconds timeout);
    // The sending thread.
    bool queueCommand(std::span<const std::byte> bytes, std::uint16_t points);
    bool flush(const StopFlags& stop, Clock::duration longest);
    void restartIfStopped();
    // A ping asked for by another thread, sent without waiting.
    void pingIfAsked();
    void beginIfFilled(bool endOfCall);
    // Points the DAC may take now: its free room, the wire's allowance, the write queue.
    std::int32_t room();
    std::size_t writeUpTo(std::span<const LaserSample> samples, std::size_t count);
    std::int32_t estimatedQueued();
    void receiveLoop();
    void handleResponse(const etherdream::Response& response, Clock::time_point heard);
    void post(StreamEvent kind, const char* text = "", std::int64_t a = 0) const;

    EventLog& log;
    std::uint16_t stream;
    StopFlags starting; // the constructor's only
    int fd = -1;
    std::string deviceName;
    Ipv4Address deviceAddress;
    std::uint32_t rate;
    std::int32_t capacity;
    std::int32_t reserveSamples;

    // The sending thread's.
    std::array<std::byte, 32 * 1024> out{};
    std::size_t outStart = 0;
    std::size_t outEnd = 0;
    std::array<std::byte, etherdream::kMaxWriteBytes> scratch{};
    std::uint32_t generation = 0;
    bool begun = false;
    bool stopped = false;
    double wireCredit = 0.0; // points the wire may still carry
    Clock::time_point creditAt{};
    Clock::time_point lastRestart{};
    bool stalled = false;

    // Sender pushes, receive thread pops, in order.
    std::array<Pending, kPendingSlots> pending{};
    std::atomic<std::size_t> pendingHead{0}; // next to push
    std::atomic<std::size_t> pendingTail{0}; // next to pop

    // The last status, published by the receive thread under a sequence count.
    std::atomic<std::uint32_t> statusSequence{0};
    std::atomic<std::int32_t> fullness{0};
    std::atomic<std::uint64_t> pointsAnswered{0}; // of commands answered so far
    std::atomic<Clock::rep> statusAt{0};
    std::atomic<Clock::rep> progressAt{0}; // when the DAC's point count last moved
    std::uint32_t lastPointCount = 0;      // the receive thread's
    std::atomic<std::uint8_t> playback{0};
    std::atomic<std::uint8_t> lightEngine{0};
    std::atomic<std::uint16_t> playbackFlags{0};
    std::atomic<std::uint32_t> currentGeneration{0};
    std::atomic<bool> playbackLost{false}; // it went idle after it began
    std::atomic<bool> connectionLost{false};
    std::atomic<bool> pingWanted{false};
    std::atomic<bool> stopAcknowledged{false};
    std::atomic<bool> ending{false};

    std::atomic<std::uint64_t> samplesSent{0};
    std::atomic<std::uint64_t> commandsSent{0};
    std::atomic<std::uint64_t> responses{0};
    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> stalls{0};
    std::atomic<bool> sendFailing{false};

    std::thread receiveThread;
};

} // namespace lumarok

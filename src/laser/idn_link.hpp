#pragma once

#include "laser/event_log.hpp"
#include "laser/idn_protocol.hpp"
#include "laser/projector_link.hpp"
#include "net/ipv4_address.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace lumarok {

// An IDN unit and the laser service chosen on it.
struct IdnFound {
    Ipv4Address source;
    idn::Unit unit;
    idn::Service service;
    [[nodiscard]] std::string name() const;
};

// Streams to one IDN unit's laser service over UDP: one realtime channel in continuous
// mode, the XYRGBI configuration in the first message and every 250 ms after, wave
// chunks whose timestamps chain on their durations at the chosen rate. The unit tells
// nothing of its buffer: the link keeps the stream kLead ahead of the time it plays (as
// if the unit's buffer held that much), never faster than the rate. Every 250 ms a
// message asks for an acknowledgement: a unit that answers is heard, one that refuses
// (all sessions occupied, client group excluded) is told in one line and ends the
// stream. Closing sends the channel's close, then the connection's.
// Thread: as EtherDreamLink; a receive thread of its own hears the unit.
class IdnLink final : public ProjectorLink {
public:
    IdnLink(const IdnFound& found, std::uint32_t pointRate, EventLog& log,
            std::uint16_t stream = 0);
    ~IdnLink() override;
    IdnLink(const IdnLink&) = delete;
    IdnLink& operator=(const IdnLink&) = delete;

    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                          FrameStart start, std::size_t darkLead) override;
    bool sendUnpaced(std::span<const LaserSample> samples) override;
    bool switchOff() override;
    [[nodiscard]] std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override;
    [[nodiscard]] std::int32_t queuedSamples() override;
    [[nodiscard]] std::int32_t playRate() override { return static_cast<std::int32_t>(rate); }
    [[nodiscard]] std::int32_t bufferSize() override { return capacity; }
    [[nodiscard]] std::int32_t reserve() override { return reserveSamples; }

    void askForInformation() override;
    [[nodiscard]] LinkStats stats() const override;
    [[nodiscard]] const std::string& name() const override { return unitName; }
    [[nodiscard]] Ipv4Address address() const override { return unitAddress; }

private:
    using Clock = std::chrono::steady_clock;
    std::int32_t queued(Clock::time_point now) const;
    // Sends up to `count` samples as chunks; false when the network refused one.
    bool sendChunks(std::span<const LaserSample> samples);
    bool sendDatagram(std::span<const std::byte> bytes);
    void receiveLoop();

    EventLog& log;
    std::uint16_t stream;
    int fd = -1;
    std::string unitName;
    Ipv4Address unitAddress;
    std::uint8_t serviceId;
    std::uint8_t channel;
    std::uint32_t rate;
    std::int32_t capacity;
    std::int32_t reserveSamples;

    // The sending thread's.
    std::array<std::byte, idn::kMaxPayload> datagram{};
    std::uint64_t chainStartUs = 0; // the timestamp the chain began at
    std::uint64_t chainSamples = 0; // samples since
    Clock::time_point chainStart{};
    Clock::time_point lastConfiguration{};
    Clock::time_point lastAckAsked{};
    bool configured = false;
    bool closed = false;

    std::atomic<Clock::rep> playsUntil{0}; // when what was sent has played
    std::atomic<std::uint16_t> sequence{0};
    std::atomic<bool> refused{false};
    std::atomic<bool> ending{false};
    std::atomic<std::uint64_t> samplesSent{0};
    std::atomic<std::uint64_t> messagesSent{0};
    std::atomic<std::uint64_t> heard{0};
    std::atomic<bool> sendFailing{false};
    std::thread receiveThread;
};

} // namespace lumarok

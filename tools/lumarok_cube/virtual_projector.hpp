#pragma once

#include "arrival_stats.hpp"
#include "core/laser_sample.hpp"
#include "net/ipv4_address.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumarok {

// A stand-in for a projector, without sockets: it answers discovery, takes sample
// packets into a buffer of bufferSize samples and plays them at sampleRate in real
// time. Used by the virtual projector tool to rehearse shows and by the tests.
// Thread: one thread drives it.
class VirtualProjector {
public:
    using Clock = std::chrono::steady_clock;

    struct Config {
        std::string name = "lumarok-cube";
        std::int32_t sampleRate = 30000;
        std::int32_t bufferSize = 6000;
        bool hideAddress = false; // answer discovery with 0.0.0.0 as its own address
    };

    // Lies for fault tests; < 0 (or empty) tells the truth.
    struct Lies {
        std::int64_t claimedSampleRate = -1;       // DeviceInfo's rate field, up to 0xFFFFFFFF
        std::int32_t claimedBufferSize = -1;       // DeviceInfo's buffer size field
        std::int32_t reportedFree = -1;            // every free-space report says this
        std::optional<Ipv4Address> claimedAddress; // the address DeviceInfo names
    };

    struct Counts {
        std::uint64_t packets = 0;
        std::uint64_t frames = 0;         // frames completed (the next frame began)
        std::uint64_t samples = 0;        // samples received
        std::uint64_t underruns = 0;      // the buffer ran dry and the stream went on
        std::uint64_t overflows = 0;      // packets that did not fit
        std::uint64_t droppedSamples = 0; // the part of them that was lost
        std::uint64_t malformed = 0;      // sample packets with a bad header or length
        std::uint64_t messageGaps = 0;    // message counter not one more than the last
        std::uint64_t frameGaps = 0;      // frame counter not one more than the last
        std::uint64_t switchCommands = 0;
        // Time the buffer stood empty while switched on with a lit last sample: a
        // static lit beam on a projector that does not blank when starved.
        std::chrono::nanoseconds litStarved{0};
    };

    struct Frame {
        std::uint8_t frameCounter = 0;
        Clock::time_point firstPacket; // arrival of its first packet
        // When its first sample plays: after what the buffer held when it came.
        Clock::time_point firstPlayed;
        std::vector<LaserSample> samples;
    };

    explicit VirtualProjector(Config config);
    VirtualProjector(Config config, Lies lies);

    // The answer to a discovery request, naming `ownAddress` as the device's.
    [[nodiscard]] std::vector<std::byte> deviceInfo(Ipv4Address ownAddress) const;
    [[nodiscard]] std::vector<std::byte> bufferFreeReport() const;

    // A datagram on the command port. Returns the switch command it held, as text
    // such as "switch A on", or an empty text.
    std::string handleCommand(std::span<const std::byte> datagram,
                              Clock::time_point now = Clock::now());
    void handleSampleData(std::span<const std::byte> datagram, Clock::time_point now);
    // Plays what is due up to `now`.
    void advance(Clock::time_point now);

    // Called with every completed frame.
    void onFrame(std::function<void(const Frame&)> callback) { frameDone = std::move(callback); }

    [[nodiscard]] std::int32_t bufferFree() const;
    [[nodiscard]] const Counts& counts() const { return totals; }
    // Bursts and rates of the well-formed sample packets.
    [[nodiscard]] const ArrivalStats& arrivals() const { return arrived; }
    // The last completed frame, or the one being received when none is complete.
    [[nodiscard]] const std::vector<LaserSample>& lastFrame() const;
    [[nodiscard]] bool streaming() const { return isStreaming; }
    [[nodiscard]] bool switchedOn() const { return isOn; }
    // Whether the last sample received (the last one played once the buffer is dry) is lit.
    [[nodiscard]] bool lastSampleLit() const { return lastLit; }
    // Brings the lit-starved time up to `now` (before the counts are read at the end).
    void settle(Clock::time_point now);

private:
    Config config;
    Lies lies;
    Counts totals;
    ArrivalStats arrived;
    std::int64_t queued = 0;
    double owed = 0.0; // fraction of a sample carried to the next advance
    Clock::time_point lastAdvance{};
    bool isStreaming = false;
    bool ranDry = false; // dry while streaming; an underrun if the stream goes on
    bool isOn = false;   // switched on by the last switch command
    bool dry = false;    // the buffer is empty since dryFrom
    Clock::time_point dryFrom{};
    bool lastLit = false; // the last sample received (so the last one played) is lit
    bool haveMessage = false;
    std::uint8_t lastMessage = 0;
    bool haveFrame = false;
    Frame current;
    Frame completed;
    std::function<void(const Frame&)> frameDone;
};

} // namespace lumarok

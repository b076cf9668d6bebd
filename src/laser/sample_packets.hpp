#pragma once

#include "core/laser_sample.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumarok {

inline constexpr std::uint8_t kSampleDataTag = 0xA9;
inline constexpr std::size_t kSampleDataHeaderBytes = 4;
inline constexpr std::size_t kMaxSamplesPerPacket = 140;
inline constexpr std::size_t kMaxSampleDataBytes =
    kSampleDataHeaderBytes + kMaxSamplesPerPacket * sizeof(LaserSample);

using SampleDataBuffer = std::array<std::byte, kMaxSampleDataBytes>;

// Counters carried in every packet header; both wrap from 255 to 0.
struct PacketCounters {
    std::uint8_t messageCounter = 0; // +1 per packet
    std::uint8_t frameCounter = 0;   // +1 per non-empty frame
};

// Writes the header and up to kMaxSamplesPerPacket samples; returns the packet length.
std::size_t writeSampleDataPacket(SampleDataBuffer& packet, const PacketCounters& counters,
                                  std::span<const LaserSample> samples);

// Where a part of a frame sent from `from` up to `end` should end instead so that the
// device, should the sender stall right after it, stands on a dark sample rather than
// a frozen lit beam: just past the next dark sample within `room` samples of `from`,
// else just past the last one before `end`, else `end` itself.
[[nodiscard]] std::size_t endOnDark(std::span<const LaserSample> samples, std::size_t from,
                                    std::size_t end, std::int32_t room);

// Splits one frame into packets assembled in `packet`. Before each packet
// `beforePacket()` runs (pacing); `send(bytes, sampleCount)` then sends it.
// An empty frame sends nothing and leaves the counters alone.
template <typename BeforePacket, typename Send>
void packFrame(std::span<const LaserSample> samples, PacketCounters& counters,
               SampleDataBuffer& packet, BeforePacket&& beforePacket, Send&& send) {
    if (samples.empty()) {
        return;
    }
    for (std::size_t sent = 0; sent < samples.size();) {
        beforePacket();
        const std::size_t count = std::min(samples.size() - sent, kMaxSamplesPerPacket);
        const std::size_t length =
            writeSampleDataPacket(packet, counters, samples.subspan(sent, count));
        send(std::span<const std::byte>(packet.data(), length), count);
        sent += count;
        ++counters.messageCounter;
    }
    ++counters.frameCounter;
}

} // namespace lumarok

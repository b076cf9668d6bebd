#include "laser/sample_packets.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lumarok {

// Samples are copied byte for byte; the wire wants little-endian fields.
static_assert(std::endian::native == std::endian::little);

std::size_t writeSampleDataPacket(SampleDataBuffer& packet, const PacketCounters& counters,
                                  std::span<const LaserSample> samples) {
    const std::size_t count = std::min(samples.size(), kMaxSamplesPerPacket);
    packet[0] = std::byte{kSampleDataTag};
    packet[1] = std::byte{0};
    packet[2] = std::byte{counters.messageCounter};
    packet[3] = std::byte{counters.frameCounter};
    std::memcpy(packet.data() + kSampleDataHeaderBytes, samples.data(),
                count * sizeof(LaserSample));
    return kSampleDataHeaderBytes + count * sizeof(LaserSample);
}

} // namespace lumarok

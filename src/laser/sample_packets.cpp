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

std::size_t endOnDark(std::span<const LaserSample> samples, std::size_t from, std::size_t end,
                      std::int32_t room) {
    const auto dark = [](const LaserSample& s) { return s.r == 0 && s.g == 0 && s.b == 0; };
    if (end >= samples.size() || end <= from || dark(samples[end - 1])) {
        return end;
    }
    // Forward to the next dark sample while the device has room for it ...
    const auto limit =
        std::min(samples.size(), from + static_cast<std::size_t>(std::max<std::int32_t>(room, 0)));
    for (std::size_t at = end; at < limit; ++at) {
        if (dark(samples[at])) {
            return at + 1;
        }
    }
    // ... else back to the last one in this part, else as it is.
    for (std::size_t at = end - 1; at > from; --at) {
        if (dark(samples[at - 1])) {
            return at;
        }
    }
    return end;
}

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The encoders and decoders of the ILDA Digital Network's hello and stream layers, as
// the IDN link and the virtual IDN unit use them.
namespace lumarok::idn {

inline constexpr std::uint16_t kPort = 7255;
inline constexpr std::size_t kHelloBytes = 4;
inline constexpr std::size_t kScanResponseBytes = 40;
inline constexpr std::size_t kServiceEntryBytes = 24;
inline constexpr std::size_t kChannelHeaderBytes = 8;
// XYRGBI: X and Y 16 bits, red, green, blue, intensity 8 bits each.
inline constexpr std::size_t kSampleBytes = 8;
// A whole datagram stays within one Ethernet frame.
inline constexpr std::size_t kMaxPayload = 1454;

enum class Hello : std::uint8_t {
    pingRequest = 0x08,
    pingResponse = 0x09,
    scanRequest = 0x10,
    scanResponse = 0x11,
    serviceMapRequest = 0x12,
    serviceMapResponse = 0x13,
    channelMessage = 0x40,
    channelMessageAck = 0x41,
    close = 0x44,
    closeAck = 0x45,
    acknowledge = 0x47,
};

// Scan status bits.
inline constexpr std::uint8_t kMalfunction = 0x80;
inline constexpr std::uint8_t kOffline = 0x40;
inline constexpr std::uint8_t kExcluded = 0x20;
inline constexpr std::uint8_t kOccupied = 0x10;
inline constexpr std::uint8_t kRealtime = 0x01;

struct Unit {
    std::uint8_t version = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> unitId; // category and ID octets
    std::string hostName;
};

struct Service {
    std::uint8_t id = 0;
    std::uint8_t type = 0; // 0x80 laser projector
    std::uint8_t flags = 0;
    std::uint8_t relay = 0;
    std::string name;
};

struct Acknowledgement {
    std::int8_t result = 0; // 0 accepted; negative: refused
    std::uint16_t events = 0;
};

// The 4-octet hello header, big-endian sequence; client group 0.
std::size_t writeHello(std::span<std::byte> out, Hello command, std::uint16_t sequence);
// Nullopt unless it is a scan response of at least 40 octets after the header.
[[nodiscard]] std::optional<Unit> readScanResponse(std::span<const std::byte> datagram);
// The services (relay entries skipped); nullopt for a malformed map.
[[nodiscard]] std::optional<std::vector<Service>>
readServiceMap(std::span<const std::byte> datagram);
[[nodiscard]] std::optional<Acknowledgement>
readAcknowledgement(std::span<const std::byte> datagram);

// One sample: positions as ILDA has them (X = w(4095 − x), Y = w(y), w as for the
// Ether Dream), colours round(v × 255 / 4095), intensity the brightest colour.
void writeSample(std::span<std::byte, kSampleBytes> out, const LaserSample& sample);

struct WaveChunk {
    std::uint8_t channel = 0;
    std::uint8_t serviceId = 0;
    bool withConfiguration = false; // routing set; repeated every 250 ms
    std::uint8_t dataMatch = 0;     // SDM / SCM, 0..3
    std::uint32_t timestamp = 0;    // microseconds
    std::uint32_t duration = 0;     // microseconds, < 2^24
};

// A whole datagram: hello header (0x40), channel message of chunk type 0x01 (wave
// samples, continuous mode), the XYRGBI configuration when asked for, the sample chunk
// header and the samples. Returns its length; `out` must hold it.
std::size_t writeWaveMessage(std::span<std::byte> out, std::uint16_t sequence,
                             const WaveChunk& chunk, std::span<const LaserSample> samples);
// The channel's close: a void chunk with the close flag, its configuration empty.
std::size_t writeCloseMessage(std::span<std::byte> out, std::uint16_t sequence,
                              std::uint8_t channel, std::uint8_t serviceId);
// The duration of `samples` at `rate` a second, in microseconds, rounded.
[[nodiscard]] std::uint32_t durationOf(std::size_t samples, std::uint32_t rate);

} // namespace lumarok::idn

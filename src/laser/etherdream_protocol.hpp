#pragma once

#include "core/laser_sample.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumarok::etherdream {

// The network DAC's wire format: little-endian, packed, no padding.
inline constexpr std::uint16_t kCommandPort = 7765;   // TCP, one client at a time
inline constexpr std::uint16_t kBroadcastPort = 7654; // UDP status, once a second
inline constexpr std::size_t kPointBytes = 18;
inline constexpr std::size_t kStatusBytes = 20;
inline constexpr std::size_t kResponseBytes = 22;
inline constexpr std::size_t kBroadcastBytes = 36;
// Points per data command: 80 × 18 + 3 stays within one 1460-byte TCP segment.
inline constexpr std::size_t kMaxPointsPerWrite = 80;
inline constexpr std::size_t kMaxWriteBytes = 3 + kMaxPointsPerWrite * kPointBytes;

enum class Command : std::uint8_t {
    prepare = 0x70,   // 'p'
    begin = 0x62,     // 'b'
    queueRate = 0x71, // 'q'
    write = 0x64,     // 'd'
    stop = 0x73,      // 's'
    clearStop = 0x63, // 'c'
    ping = 0x3F,      // '?'
    emergency = 0x00, // e-stop (0xFF too)
};

enum class Reply : std::uint8_t {
    ack = 0x61,           // 'a'
    full = 0x46,          // 'F'
    invalid = 0x49,       // 'I'
    stopCondition = 0x21, // '!'
};

enum class LightEngine : std::uint8_t { ready = 0, warmup = 1, cooldown = 2, emergencyStop = 3 };
enum class Playback : std::uint8_t { idle = 0, prepared = 1, playing = 2 };

// Playback flag bits.
inline constexpr std::uint16_t kShutterOpen = 0x0001;
inline constexpr std::uint16_t kEndedByUnderflow = 0x0002;
inline constexpr std::uint16_t kEndedByEmergencyStop = 0x0004;

struct Status {
    std::uint8_t protocol = 0;
    std::uint8_t lightEngine = 0; // LightEngine, as the device sent it
    std::uint8_t playback = 0;    // Playback, as the device sent it
    std::uint8_t source = 0;      // 0 network, 1 SD card, 2 abstract generator
    std::uint16_t lightEngineFlags = 0;
    std::uint16_t playbackFlags = 0;
    std::uint16_t sourceFlags = 0;
    std::uint16_t bufferFullness = 0;
    std::uint32_t pointRate = 0;
    std::uint32_t pointCount = 0;
};

struct Response {
    std::uint8_t reply = 0;   // Reply
    std::uint8_t command = 0; // the command answered
    Status status;
};

struct Broadcast {
    std::array<std::uint8_t, 6> mac{};
    std::uint16_t hardwareRevision = 0;
    std::uint16_t softwareRevision = 0;
    std::uint16_t bufferCapacity = 0;
    std::uint32_t maxPointRate = 0;
    Status status;
};

// One 18-byte point. Positions: ILDA's orientation, which the LaserCube's picture has
// mirrored on both axes: X = w(4095 − x), Y = w(y) with w(v) = 16 v + ⌊v / 256⌋ − 32768.
// Colours: 12 bits widened to 16 the same way, v × 16 + ⌊v / 256⌋ (4095 → 65535), and
// intensity the largest of the three. A sample beyond 4095 is held at 4095.
void writePoint(std::span<std::byte, kPointBytes> out, const LaserSample& sample,
                bool takeNextRate = false);
// The inverse: the sample a point stands for (as the virtual DAC records it).
[[nodiscard]] LaserSample readPoint(std::span<const std::byte, kPointBytes> in);
[[nodiscard]] bool pointLit(std::span<const std::byte, kPointBytes> in);

// Commands; each returns its length. `out` must hold it.
std::size_t writeCommand(std::span<std::byte> out, Command command);
std::size_t writeBegin(std::span<std::byte> out, std::uint32_t pointRate);
std::size_t writeQueueRate(std::span<std::byte> out, std::uint32_t pointRate);
// 'd', the count, then the points; at most kMaxPointsPerWrite samples.
std::size_t writeData(std::span<std::byte> out, std::span<const LaserSample> samples);

[[nodiscard]] Status readStatus(std::span<const std::byte, kStatusBytes> in);
void writeStatus(std::span<std::byte, kStatusBytes> out, const Status& status);
// Nullopt when the bytes are no response (an unknown reply code).
[[nodiscard]] std::optional<Response> readResponse(std::span<const std::byte, kResponseBytes> in);
void writeResponse(std::span<std::byte, kResponseBytes> out, const Response& response);
// Nullopt for a datagram of another length.
[[nodiscard]] std::optional<Broadcast> readBroadcast(std::span<const std::byte> datagram);
void writeBroadcast(std::span<std::byte, kBroadcastBytes> out, const Broadcast& broadcast);

// "etherdream-XXXXXX" from the last three bytes of the MAC address.
[[nodiscard]] std::string deviceName(const Broadcast& broadcast);
// "idle", "prepared", "playing"; "e-stop" and the like for the light engine.
[[nodiscard]] const char* playbackName(std::uint8_t playback);
[[nodiscard]] const char* lightEngineName(std::uint8_t state);

} // namespace lumarok::etherdream

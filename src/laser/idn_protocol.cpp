#include "laser/idn_protocol.hpp"

#include <algorithm>

namespace lumarok::idn {

namespace {

constexpr std::uint16_t kChannelMessageBit = 0x8000;
constexpr std::uint16_t kConfigFollows = 0x4000; // CCLF
constexpr std::uint8_t kChunkVoid = 0x00;
constexpr std::uint8_t kChunkWave = 0x01;
constexpr std::uint8_t kRouting = 0x01;
constexpr std::uint8_t kCloseChannel = 0x02;
constexpr std::uint8_t kModeGraphicContinuous = 1;
// X, precision, Y, precision, red 638 nm, green 532 nm, blue 460 nm, intensity.
constexpr std::array<std::uint16_t, 8> kXyrgbiTags{0x4200, 0x4010, 0x4210, 0x4010,
                                                   0x527E, 0x5214, 0x51CC, 0x5C10};

void put16(std::span<std::byte> out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::byte>(v >> 8U);
    out[at + 1] = static_cast<std::byte>(v & 0xFFU);
}

void put32(std::span<std::byte> out, std::size_t at, std::uint32_t v) {
    put16(out, at, static_cast<std::uint16_t>(v >> 16U));
    put16(out, at + 2, static_cast<std::uint16_t>(v & 0xFFFFU));
}

std::uint8_t get8(std::span<const std::byte> in, std::size_t at) {
    return std::to_integer<std::uint8_t>(in[at]);
}

std::uint16_t get16(std::span<const std::byte> in, std::size_t at) {
    return static_cast<std::uint16_t>((get8(in, at) << 8U) | get8(in, at + 1));
}

std::string text(std::span<const std::byte> in) {
    std::string out;
    for (const std::byte b : in) {
        if (b == std::byte{0}) {
            break;
        }
        out.push_back(static_cast<char>(b));
    }
    return out;
}

std::uint16_t held(std::uint16_t v) {
    return std::min<std::uint16_t>(v, 4095);
}

std::int16_t position(std::uint16_t v) {
    v = held(v);
    return static_cast<std::int16_t>(static_cast<int>(v * 16U + v / 256U) - 32768);
}

std::uint8_t colour(std::uint16_t v) {
    return static_cast<std::uint8_t>((held(v) * 255U + 2047U) / 4095U);
}

} // namespace

std::size_t writeHello(std::span<std::byte> out, Hello command, std::uint16_t sequence) {
    out[0] = static_cast<std::byte>(command);
    out[1] = std::byte{0};
    put16(out, 2, sequence);
    return kHelloBytes;
}

std::optional<Unit> readScanResponse(std::span<const std::byte> in) {
    if (in.size() < kHelloBytes + kScanResponseBytes ||
        get8(in, 0) != static_cast<std::uint8_t>(Hello::scanResponse)) {
        return std::nullopt;
    }
    const std::span<const std::byte> body = in.subspan(kHelloBytes);
    if (get8(body, 0) < kScanResponseBytes) {
        return std::nullopt;
    }
    Unit unit;
    unit.version = get8(body, 1);
    unit.status = get8(body, 2);
    const std::size_t idLength = std::min<std::size_t>(get8(body, 4), 15);
    for (std::size_t i = 0; i < idLength; ++i) {
        unit.unitId.push_back(get8(body, 5 + i));
    }
    unit.hostName = text(body.subspan(20, 20));
    return unit;
}

std::optional<std::vector<Service>> readServiceMap(std::span<const std::byte> in) {
    if (in.size() < kHelloBytes + 4 ||
        get8(in, 0) != static_cast<std::uint8_t>(Hello::serviceMapResponse)) {
        return std::nullopt;
    }
    const std::span<const std::byte> body = in.subspan(kHelloBytes);
    const std::size_t headerSize = get8(body, 0);
    const std::size_t entrySize = get8(body, 1);
    const std::size_t relays = get8(body, 2);
    const std::size_t services = get8(body, 3);
    if (headerSize < 4 || entrySize < kServiceEntryBytes ||
        body.size() < headerSize + (relays + services) * entrySize) {
        return std::nullopt;
    }
    std::vector<Service> list;
    for (std::size_t i = 0; i < services; ++i) {
        const std::span<const std::byte> e =
            body.subspan(headerSize + (relays + i) * entrySize, kServiceEntryBytes);
        list.push_back(
            Service{get8(e, 0), get8(e, 1), get8(e, 2), get8(e, 3), text(e.subspan(4, 20))});
    }
    return list;
}

std::optional<Acknowledgement> readAcknowledgement(std::span<const std::byte> in) {
    if (in.size() < kHelloBytes + 4 ||
        get8(in, 0) != static_cast<std::uint8_t>(Hello::acknowledge)) {
        return std::nullopt;
    }
    const std::span<const std::byte> body = in.subspan(kHelloBytes);
    if (get8(body, 0) < 4 || body.size() < get8(body, 0)) {
        return std::nullopt;
    }
    return Acknowledgement{static_cast<std::int8_t>(get8(body, 1)), get16(body, 2)};
}

void writeSample(std::span<std::byte, kSampleBytes> out, const LaserSample& s) {
    put16(out, 0,
          static_cast<std::uint16_t>(position(static_cast<std::uint16_t>(4095 - held(s.x)))));
    put16(out, 2, static_cast<std::uint16_t>(position(s.y)));
    out[4] = static_cast<std::byte>(colour(s.r));
    out[5] = static_cast<std::byte>(colour(s.g));
    out[6] = static_cast<std::byte>(colour(s.b));
    out[7] = static_cast<std::byte>(colour(std::max({s.r, s.g, s.b})));
}

std::size_t writeWaveMessage(std::span<std::byte> out, std::uint16_t sequence,
                             const WaveChunk& chunk, std::span<const LaserSample> samples) {
    std::size_t at = writeHello(out, Hello::channelMessage, sequence);
    const std::size_t message = at;
    const auto contentId = static_cast<std::uint16_t>(
        kChannelMessageBit | (chunk.withConfiguration ? kConfigFollows : 0) |
        ((chunk.channel & 0x3FU) << 8U) | kChunkWave);
    put16(out, at + 2, contentId);
    put32(out, at + 4, chunk.timestamp);
    at += kChannelHeaderBytes;
    if (chunk.withConfiguration) {
        out[at] = static_cast<std::byte>(kXyrgbiTags.size() / 2);
        out[at + 1] = static_cast<std::byte>(((chunk.dataMatch & 0x3U) << 4U) | kRouting);
        out[at + 2] = static_cast<std::byte>(chunk.serviceId);
        out[at + 3] = static_cast<std::byte>(kModeGraphicContinuous);
        at += 4;
        for (const std::uint16_t tag : kXyrgbiTags) {
            put16(out, at, tag);
            at += 2;
        }
    }
    put32(out, at, ((chunk.dataMatch & 0x3U) << 28U) | (chunk.duration & 0xFFFFFFU));
    at += 4;
    for (const LaserSample& s : samples) {
        writeSample(out.subspan(at).first<kSampleBytes>(), s);
        at += kSampleBytes;
    }
    put16(out, message, static_cast<std::uint16_t>(at - message));
    return at;
}

std::size_t writeCloseMessage(std::span<std::byte> out, std::uint16_t sequence,
                              std::uint8_t channel, std::uint8_t serviceId) {
    std::size_t at = writeHello(out, Hello::channelMessage, sequence);
    put16(out, at, 12);
    put16(out, at + 2,
          static_cast<std::uint16_t>(kChannelMessageBit | kConfigFollows |
                                     ((channel & 0x3FU) << 8U) | kChunkVoid));
    put32(out, at + 4, 0);
    at += kChannelHeaderBytes;
    out[at] = std::byte{0};
    out[at + 1] = static_cast<std::byte>(kCloseChannel);
    out[at + 2] = static_cast<std::byte>(serviceId);
    out[at + 3] = std::byte{0};
    return at + 4;
}

std::uint32_t durationOf(std::size_t samples, std::uint32_t rate) {
    if (rate == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(
        (static_cast<std::uint64_t>(samples) * 1'000'000U + rate / 2) / rate);
}

} // namespace lumarok::idn

#include "laser/etherdream_protocol.hpp"

#include <algorithm>
#include <cstdio>

namespace lumarok::etherdream {

namespace {

void put16(std::span<std::byte> out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::byte>(value & 0xFFU);
    out[at + 1] = static_cast<std::byte>(value >> 8U);
}

void put32(std::span<std::byte> out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::byte>((value >> (8U * i)) & 0xFFU);
    }
}

std::uint16_t get16(std::span<const std::byte> in, std::size_t at) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(in[at]) |
                                      (std::to_integer<unsigned>(in[at + 1]) << 8U));
}

std::uint32_t get32(std::span<const std::byte> in, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::to_integer<std::uint32_t>(in[at + i]) << (8U * i);
    }
    return value;
}

std::uint16_t level12(std::uint16_t v) {
    return std::min<std::uint16_t>(v, 4095);
}

// 0..4095 onto 0..65535 by repeating the top bits: both ends land on the ends.
std::uint16_t widen(std::uint16_t v) {
    v = level12(v);
    return static_cast<std::uint16_t>(v * 16U + v / 256U);
}

std::int16_t position(std::uint16_t v) {
    return static_cast<std::int16_t>(static_cast<int>(widen(v)) - 32768);
}

// The inverse of widen, exact for every value it makes and nearest for the rest.
std::uint16_t narrow(std::uint16_t v) {
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(v) * 4095U + 32767U) / 65535U);
}

} // namespace

void writePoint(std::span<std::byte, kPointBytes> out, const LaserSample& s, bool takeNextRate) {
    put16(out, 0, takeNextRate ? 0x8000 : 0);
    put16(out, 2,
          static_cast<std::uint16_t>(position(static_cast<std::uint16_t>(4095 - level12(s.x)))));
    put16(out, 4, static_cast<std::uint16_t>(position(s.y)));
    put16(out, 6, widen(s.r));
    put16(out, 8, widen(s.g));
    put16(out, 10, widen(s.b));
    put16(out, 12, widen(std::max({s.r, s.g, s.b})));
    put16(out, 14, 0);
    put16(out, 16, 0);
}

LaserSample readPoint(std::span<const std::byte, kPointBytes> in) {
    const auto level = [&](std::size_t at) {
        return narrow(static_cast<std::uint16_t>(static_cast<std::int16_t>(get16(in, at)) + 32768));
    };
    return LaserSample{static_cast<std::uint16_t>(4095 - level(2)), level(4), narrow(get16(in, 6)),
                       narrow(get16(in, 8)), narrow(get16(in, 10))};
}

bool pointLit(std::span<const std::byte, kPointBytes> in) {
    return get16(in, 6) != 0 || get16(in, 8) != 0 || get16(in, 10) != 0;
}

std::size_t writeCommand(std::span<std::byte> out, Command command) {
    out[0] = static_cast<std::byte>(command);
    return 1;
}

std::size_t writeBegin(std::span<std::byte> out, std::uint32_t pointRate) {
    out[0] = static_cast<std::byte>(Command::begin);
    put16(out, 1, 0); // the low-water mark, unused by the DAC
    put32(out, 3, pointRate);
    return 7;
}

std::size_t writeQueueRate(std::span<std::byte> out, std::uint32_t pointRate) {
    out[0] = static_cast<std::byte>(Command::queueRate);
    put32(out, 1, pointRate);
    return 5;
}

std::size_t writeData(std::span<std::byte> out, std::span<const LaserSample> samples) {
    const std::size_t count = std::min(samples.size(), kMaxPointsPerWrite);
    out[0] = static_cast<std::byte>(Command::write);
    put16(out, 1, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        writePoint(out.subspan(3 + i * kPointBytes).first<kPointBytes>(), samples[i]);
    }
    return 3 + count * kPointBytes;
}

Status readStatus(std::span<const std::byte, kStatusBytes> in) {
    Status s;
    s.protocol = std::to_integer<std::uint8_t>(in[0]);
    s.lightEngine = std::to_integer<std::uint8_t>(in[1]);
    s.playback = std::to_integer<std::uint8_t>(in[2]);
    s.source = std::to_integer<std::uint8_t>(in[3]);
    s.lightEngineFlags = get16(in, 4);
    s.playbackFlags = get16(in, 6);
    s.sourceFlags = get16(in, 8);
    s.bufferFullness = get16(in, 10);
    s.pointRate = get32(in, 12);
    s.pointCount = get32(in, 16);
    return s;
}

void writeStatus(std::span<std::byte, kStatusBytes> out, const Status& s) {
    out[0] = static_cast<std::byte>(s.protocol);
    out[1] = static_cast<std::byte>(s.lightEngine);
    out[2] = static_cast<std::byte>(s.playback);
    out[3] = static_cast<std::byte>(s.source);
    put16(out, 4, s.lightEngineFlags);
    put16(out, 6, s.playbackFlags);
    put16(out, 8, s.sourceFlags);
    put16(out, 10, s.bufferFullness);
    put32(out, 12, s.pointRate);
    put32(out, 16, s.pointCount);
}

std::optional<Response> readResponse(std::span<const std::byte, kResponseBytes> in) {
    Response r;
    r.reply = std::to_integer<std::uint8_t>(in[0]);
    switch (static_cast<Reply>(r.reply)) {
    case Reply::ack:
    case Reply::full:
    case Reply::invalid:
    case Reply::stopCondition:
        break;
    default:
        return std::nullopt;
    }
    r.command = std::to_integer<std::uint8_t>(in[1]);
    r.status = readStatus(in.subspan<2, kStatusBytes>());
    return r;
}

void writeResponse(std::span<std::byte, kResponseBytes> out, const Response& r) {
    out[0] = static_cast<std::byte>(r.reply);
    out[1] = static_cast<std::byte>(r.command);
    writeStatus(out.subspan<2, kStatusBytes>(), r.status);
}

std::optional<Broadcast> readBroadcast(std::span<const std::byte> in) {
    if (in.size() != kBroadcastBytes) {
        return std::nullopt;
    }
    Broadcast b;
    for (std::size_t i = 0; i < b.mac.size(); ++i) {
        b.mac[i] = std::to_integer<std::uint8_t>(in[i]);
    }
    b.hardwareRevision = get16(in, 6);
    b.softwareRevision = get16(in, 8);
    b.bufferCapacity = get16(in, 10);
    b.maxPointRate = get32(in, 12);
    b.status = readStatus(in.subspan(16).first<kStatusBytes>());
    return b;
}

void writeBroadcast(std::span<std::byte, kBroadcastBytes> out, const Broadcast& b) {
    for (std::size_t i = 0; i < b.mac.size(); ++i) {
        out[i] = static_cast<std::byte>(b.mac[i]);
    }
    put16(out, 6, b.hardwareRevision);
    put16(out, 8, b.softwareRevision);
    put16(out, 10, b.bufferCapacity);
    put32(out, 12, b.maxPointRate);
    writeStatus(out.subspan<16, kStatusBytes>(), b.status);
}

std::string deviceName(const Broadcast& b) {
    char text[32];
    std::snprintf(text, sizeof text, "etherdream-%02x%02x%02x", b.mac[3], b.mac[4], b.mac[5]);
    return text;
}

const char* playbackName(std::uint8_t playback) {
    switch (playback) {
    case 0:
        return "idle";
    case 1:
        return "prepared";
    case 2:
        return "playing";
    default:
        return "unknown";
    }
}

const char* lightEngineName(std::uint8_t state) {
    switch (state) {
    case 0:
        return "ready";
    case 1:
        return "warming up";
    case 2:
        return "cooling down";
    case 3:
        return "e-stop";
    default:
        return "unknown";
    }
}

} // namespace lumarok::etherdream

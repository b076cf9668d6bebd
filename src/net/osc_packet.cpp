#include "net/osc_packet.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace lumarok {

namespace {

constexpr char kBundleMarker[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
constexpr std::size_t kBundleHeaderSize = 16; // marker and time tag
constexpr std::size_t kTimeTagSize = 8;
constexpr char kTimeAddress[] = "/Time"; // with its zero byte: six bytes

std::size_t remaining(const std::byte* from, const std::byte* end) {
    return static_cast<std::size_t>(end - from);
}

bool isAligned(const std::byte* at) {
    return reinterpret_cast<std::uintptr_t>(at) % 4 == 0;
}

void requireAligned(const std::byte* at) {
    if (!isAligned(at)) {
        throw std::runtime_error("Unaligned pointer");
    }
}

std::uint32_t readBigEndian32(const std::byte* at) {
    unsigned char bytes[4];
    std::memcpy(bytes, at, 4);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool startsWithBundleMarker(const std::byte* begin, std::size_t size) {
    return size >= kBundleHeaderSize && std::memcmp(begin, kBundleMarker, 8) == 0;
}

// An OSC string padded to whole 4-byte groups ends with the first group whose last byte is
// zero. Returns the first byte after it.
const std::byte* skipPaddedString(const std::byte* from, const std::byte* end) {
    const std::size_t size = remaining(from, end);
    for (std::size_t last = 3; last < size; last += 4) {
        if (from[last] == std::byte{0}) {
            return from + last + 1;
        }
    }
    throw OSCPP::UnderrunError();
}

std::uint64_t readBigEndian64(const std::byte* at) {
    return (std::uint64_t{readBigEndian32(at)} << 32) | readBigEndian32(at + 4);
}

// NaN or infinity would reach every later stage as a show time; it is refused instead,
// and so is a double beyond the float range the time is kept in.
float finiteSeconds(double seconds) {
    const auto narrowed = static_cast<float>(seconds);
    if (!std::isfinite(seconds) || !std::isfinite(narrowed)) {
        throw OSCPP::ParseError("Time is not a finite number");
    }
    return narrowed;
}

// The first argument of a "/Time" message as seconds: float32 'f', int32 'i', float64 'd'
// or int64 'h'. The caller stores it only when this returns, so a failed message never
// changes the time.
float readTimeArgument(char tag, const std::byte* argument, const std::byte* end) {
    std::size_t size = 0;
    switch (tag) {
    case 'f':
    case 'i':
        size = 4;
        break;
    case 'd':
    case 'h':
        size = 8;
        break;
    default:
        throw OSCPP::ParseError("Cannot convert argument to float");
    }
    if (remaining(argument, end) < size) {
        throw OSCPP::UnderrunError();
    }
    requireAligned(argument);
    if (tag == 'i') {
        return static_cast<float>(static_cast<std::int32_t>(readBigEndian32(argument)));
    }
    if (tag == 'h') {
        return static_cast<float>(static_cast<std::int64_t>(readBigEndian64(argument)));
    }
    if (tag == 'd') {
        const std::uint64_t bits = readBigEndian64(argument);
        double seconds = 0.0;
        static_assert(sizeof seconds == sizeof bits);
        std::memcpy(&seconds, &bits, sizeof seconds);
        return finiteSeconds(seconds);
    }
    const std::uint32_t bits = readBigEndian32(argument);
    float seconds = 0.0F;
    static_assert(sizeof seconds == sizeof bits);
    std::memcpy(&seconds, &bits, sizeof seconds);
    return finiteSeconds(seconds);
}

// Returns 1 when the message was a "/Time" whose time was stored, else 0; any other
// message goes to `other` when there is one.
int handleMessage(const std::byte* begin, const std::byte* end, float& lastTime,
                  const OscMessageVisitor* other) {
    if (remaining(begin, end) < 4) {
        throw OSCPP::UnderrunError();
    }
    const std::byte* const tags = skipPaddedString(begin, end);
    const std::byte* const arguments = skipPaddedString(tags, end);
    if (static_cast<char>(tags[0]) != ',') {
        throw OSCPP::ParseError("Tag string doesn't start with ','");
    }
    // The address region is at least four bytes and the tag string follows it, so six
    // bytes are readable here.
    if (std::memcmp(begin, kTimeAddress, sizeof kTimeAddress) != 0) {
        if (other != nullptr) {
            (*other)(OscMessageView{reinterpret_cast<const char*>(begin),
                                    static_cast<char>(tags[1]), arguments, end});
        }
        return 0;
    }
    const char firstTag = static_cast<char>(tags[1]);
    if (firstTag == '\0') {
        throw OSCPP::UnderrunError();
    }
    lastTime = readTimeArgument(firstTag, arguments, end);
    return 1;
}

int handleBundle(const PacketView& bundle, float& lastTime, int depth,
                 const OscMessageVisitor* other) {
    if (depth >= kMaxBundleDepth) {
        throw OSCPP::ParseError("Bundles nested too deeply");
    }
    const std::byte* at = bundle.position;
    if (remaining(at, bundle.end) < kTimeTagSize) {
        throw OSCPP::UnderrunError();
    }
    at += kTimeTagSize; // time tags are not interpreted
    int stored = 0;
    while (at != bundle.end) {
        if (remaining(at, bundle.end) < 4) {
            throw OSCPP::UnderrunError();
        }
        requireAligned(at);
        const auto size = static_cast<std::int32_t>(readBigEndian32(at));
        at += 4;
        if (size < 0 || static_cast<std::size_t>(size) > remaining(at, bundle.end)) {
            throw OSCPP::UnderrunError();
        }
        const PacketView element = makePacketView(at, static_cast<std::size_t>(size));
        if (element.isBundle) {
            stored += handleBundle(element, lastTime, depth + 1, other);
        } else {
            stored += handleMessage(element.begin, element.end, lastTime, other);
        }
        at = element.end;
    }
    return stored;
}

} // namespace

PacketView makePacketView(const std::byte* begin, std::size_t size) {
    PacketView view{begin, begin + size, begin, false};
    if (startsWithBundleMarker(begin, size)) {
        view.isBundle = true;
        view.position = begin + sizeof kBundleMarker;
    }
    return view;
}

int handlePacket(const PacketView& packet, float& lastTime) {
    if (packet.isBundle) {
        return handleBundle(packet, lastTime, 0, nullptr);
    }
    return handleMessage(packet.position, packet.end, lastTime, nullptr);
}

int visitPacket(const PacketView& packet, float& lastTime, const OscMessageVisitor& other) {
    if (packet.isBundle) {
        return handleBundle(packet, lastTime, 0, &other);
    }
    return handleMessage(packet.position, packet.end, lastTime, &other);
}

float numberArgument(const OscMessageView& message) {
    if (message.firstTag == '\0') {
        throw OSCPP::UnderrunError();
    }
    return readTimeArgument(message.firstTag, message.argument, message.end);
}

} // namespace lumarok

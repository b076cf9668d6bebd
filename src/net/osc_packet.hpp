#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace OSCPP {

// Errors of the OSC packet parser; what() is the message text.
class Error : public std::exception {
public:
    explicit Error(std::string text) : message(std::move(text)) {}
    [[nodiscard]] const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

class ParseError final : public Error {
public:
    using Error::Error;
};

class UnderrunError final : public Error {
public:
    UnderrunError() : Error("Buffer underrun") {}
};

} // namespace OSCPP

namespace lumarok {

// Nested bundles deeper than this are refused, so a crafted datagram cannot exhaust the stack.
inline constexpr int kMaxBundleDepth = 16;

// A byte range of the caller's receive buffer holding one OSC packet; nothing is copied.
struct PacketView {
    const std::byte* begin = nullptr;
    const std::byte* end = nullptr;
    const std::byte* position = nullptr; // next byte to read
    bool isBundle = false;
};

// A bundle when longer than 15 bytes and starting with "#bundle\0" (then reading starts
// after the marker); a message otherwise.
[[nodiscard]] PacketView makePacketView(const std::byte* begin, std::size_t size);

// Walks one packet, bundles recursively, and stores the first argument of every "/Time"
// message in lastTime, in the order the messages stand (float32, int32, float64 or int64
// seconds; NaN and infinity refused). Returns how many "/Time" messages it stored. Throws
// OSCPP::ParseError, OSCPP::UnderrunError or std::runtime_error("Unaligned pointer") on malformed
// input; lastTime then holds what the messages before the fault set. Never reads outside the view.
int handlePacket(const PacketView& packet, float& lastTime);

// One message of a packet: its address and its first argument, if any.
struct OscMessageView {
    const char* address = nullptr; // zero-terminated, within the packet
    char firstTag = '\0';          // '\0' when the message has no argument
    const std::byte* argument = nullptr;
    const std::byte* end = nullptr;
};

// The first argument as a number (float32, int32, float64 or int64; NaN and infinity
// refused). Throws as handlePacket does.
[[nodiscard]] float numberArgument(const OscMessageView& message);

// Walks one packet as handlePacket does, storing "/Time" the same way, and hands every
// other message to `other` (which may throw the parser's errors). Returns how many
// "/Time" messages it stored.
using OscMessageVisitor = std::function<void(const OscMessageView&)>;
int visitPacket(const PacketView& packet, float& lastTime, const OscMessageVisitor& other);

} // namespace lumarok

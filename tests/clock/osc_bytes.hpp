#pragma once

// Hand-built OSC datagrams for the clock tests.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumarok::test {

using Bytes = std::vector<std::byte>;

inline void appendBigEndian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::byte>((value >> shift) & 0xFFu));
    }
}

// Text, a zero byte, and zero padding to a multiple of four.
inline Bytes oscString(const std::string& text) {
    Bytes out;
    for (const char c : text) {
        out.push_back(static_cast<std::byte>(c));
    }
    do {
        out.push_back(std::byte{0});
    } while (out.size() % 4 != 0);
    return out;
}

inline Bytes floatArgument(float value) {
    Bytes out;
    appendBigEndian(out, std::bit_cast<std::uint32_t>(value));
    return out;
}

inline Bytes intArgument(std::int32_t value) {
    Bytes out;
    appendBigEndian(out, static_cast<std::uint32_t>(value));
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Bytes message(const std::string& address, const std::string& tags, const Bytes& arguments) {
    return concat({oscString(address), oscString(tags), arguments});
}

inline Bytes timeMessage(float seconds) {
    return message("/Time", ",f", floatArgument(seconds));
}

// A size-prefixed bundle element whose size field says `declaredSize`.
inline Bytes element(const Bytes& content, std::uint32_t declaredSize) {
    Bytes out;
    appendBigEndian(out, declaredSize);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes element(const Bytes& content) {
    return element(content, static_cast<std::uint32_t>(content.size()));
}

// "#bundle", a time tag, then the given (already size-prefixed) elements.
inline Bytes bundle(std::initializer_list<Bytes> elements) {
    Bytes out = oscString("#bundle");
    appendBigEndian(out, 0);
    appendBigEndian(out, 1); // "immediately"
    for (const Bytes& e : elements) {
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

inline Bytes text(const std::string& raw) {
    Bytes out;
    for (const char c : raw) {
        out.push_back(static_cast<std::byte>(c));
    }
    return out;
}

} // namespace lumarok::test

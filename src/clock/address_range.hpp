#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok {

// An IPv4 address with a prefix length: "10.0.0.0/8", or one host ("127.0.0.1" is /32).
struct AddressRange {
    std::uint32_t network = 0; // host byte order, host bits cleared
    int prefixLength = 32;

    // Throws std::invalid_argument naming the text when it is not ADDR or ADDR/0..32.
    [[nodiscard]] static AddressRange parse(const std::string& text);
    [[nodiscard]] bool contains(std::uint32_t address) const; // host byte order
    [[nodiscard]] std::string text() const;
};

// Whether a sender may be heard: an empty list lets everyone in. Host byte order.
[[nodiscard]] bool allowedBy(const std::vector<AddressRange>& senders, std::uint32_t address);

// Dotted text of a host-order IPv4 address.
[[nodiscard]] std::string dottedAddress(std::uint32_t address);

} // namespace lumarok

#pragma once

#include "clock/ipv4_address.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace lumarok {

// An IPv4 address with a prefix length: "10.0.0.0/8", or one host ("127.0.0.1" is /32).
struct AddressRange {
    Ipv4Address network; // host bits cleared
    int prefixLength = 32;

    // Throws std::invalid_argument naming the text when it is not ADDR or ADDR/0..32.
    [[nodiscard]] static AddressRange parse(const std::string& text);
    [[nodiscard]] bool contains(Ipv4Address address) const;
    [[nodiscard]] std::string text() const;
};

// Whether a sender may be heard: an empty list lets everyone in.
[[nodiscard]] bool allowedBy(const std::vector<AddressRange>& senders, Ipv4Address address);

} // namespace lumarok

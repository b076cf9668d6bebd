#include "clock/address_range.hpp"

#include <algorithm>

#include <arpa/inet.h>

#include <charconv>
#include <stdexcept>

namespace lumarok {

namespace {

std::uint32_t maskOf(int prefixLength) {
    return prefixLength == 0 ? 0U : ~std::uint32_t{0} << (32 - prefixLength);
}

} // namespace

AddressRange AddressRange::parse(const std::string& text) {
    const std::size_t slash = text.find('/');
    const std::string address = text.substr(0, slash);
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        throw std::invalid_argument("'" + text + "' is not an IPv4 address[/prefix]");
    }
    AddressRange range;
    if (slash != std::string::npos) {
        const char* first = text.data() + slash + 1;
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, range.prefixLength);
        if (first == last || error != std::errc{} || end != last || range.prefixLength < 0 ||
            range.prefixLength > 32) {
            throw std::invalid_argument("'" + text + "' has no prefix length from 0 to 32");
        }
    }
    range.network = ntohl(parsed.s_addr) & maskOf(range.prefixLength);
    return range;
}

bool AddressRange::contains(std::uint32_t address) const {
    return (address & maskOf(prefixLength)) == network;
}

std::string AddressRange::text() const {
    return dottedAddress(network) + "/" + std::to_string(prefixLength);
}

bool allowedBy(const std::vector<AddressRange>& senders, std::uint32_t address) {
    return senders.empty() ||
           std::any_of(senders.begin(), senders.end(),
                       [address](const AddressRange& range) { return range.contains(address); });
}

std::string dottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xffU) + "." +
           std::to_string((address >> 8) & 0xffU) + "." + std::to_string(address & 0xffU);
}

} // namespace lumarok

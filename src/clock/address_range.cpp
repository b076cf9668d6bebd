#include "clock/address_range.hpp"

#include <algorithm>
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
    const std::optional<Ipv4Address> parsed = Ipv4Address::parse(address);
    if (!parsed) {
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
    range.network = Ipv4Address(parsed->hostOrder() & maskOf(range.prefixLength));
    return range;
}

bool AddressRange::contains(Ipv4Address address) const {
    return Ipv4Address(address.hostOrder() & maskOf(prefixLength)) == network;
}

std::string AddressRange::text() const {
    return network.text() + "/" + std::to_string(prefixLength);
}

bool allowedBy(const std::vector<AddressRange>& senders, Ipv4Address address) {
    return senders.empty() ||
           std::any_of(senders.begin(), senders.end(),
                       [address](const AddressRange& range) { return range.contains(address); });
}

} // namespace lumarok

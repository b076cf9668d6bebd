#include "tool_options.hpp"

#include <optional>
#include <stdexcept>

namespace lumarok::tools {

double numberOption(const std::string& option, const std::string& text, double low, double high) {
    std::size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !(value >= low && value <= high)) {
        throw std::invalid_argument(option + " wants a number from " + std::to_string(low) +
                                    " to " + std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

Ipv4Address addressOption(const std::string& option, const std::string& text) {
    const std::optional<Ipv4Address> address = Ipv4Address::parse(text);
    if (!address) {
        throw std::invalid_argument(option + " wants an IPv4 address, not '" + text + "'");
    }
    return *address;
}

} // namespace lumarok::tools

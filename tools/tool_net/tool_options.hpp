#pragma once

#include "net/ipv4_address.hpp"

#include <string>

namespace lumarok::tools {

// A number from `low` to `high`; else throws std::invalid_argument naming the option:
// "--loss wants a number from 0.000000 to 100.000000, not 'x'".
[[nodiscard]] double numberOption(const std::string& option, const std::string& text, double low,
                                  double high);

// Throws std::invalid_argument "--device wants an IPv4 address, not 'x'".
[[nodiscard]] Ipv4Address addressOption(const std::string& option, const std::string& text);

} // namespace lumarok::tools

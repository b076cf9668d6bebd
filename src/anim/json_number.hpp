#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

namespace lumarok {

// A JSON number or boolean as a 32-bit int: booleans are 0 and 1, floating
// values are truncated. Values outside the int range stick at its ends rather
// than wrapping, so a huge offset never aliases a valid one. Anything else
// raises the library's type error 302.
std::int32_t toInt32(const nlohmann::json& value);

} // namespace lumarok

#include "anim/json_number.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumarok {

std::int32_t toInt32(const nlohmann::json& value) {
    using Type = nlohmann::json::value_t;
    using Limits = std::numeric_limits<std::int32_t>;
    switch (value.type()) {
    case Type::boolean:
        return value.get<bool>() ? 1 : 0;
    case Type::number_integer:
        return static_cast<std::int32_t>(
            std::clamp<std::int64_t>(value.get<std::int64_t>(), Limits::min(), Limits::max()));
    case Type::number_unsigned:
        return static_cast<std::int32_t>(
            std::min<std::uint64_t>(value.get<std::uint64_t>(), Limits::max()));
    case Type::number_float: {
        // Casting an out-of-range double is undefined, so clamp before it.
        const double truncated = std::trunc(value.get<double>());
        if (!(truncated >= Limits::min())) {
            return Limits::min();
        }
        if (truncated > Limits::max()) {
            return Limits::max();
        }
        return static_cast<std::int32_t>(truncated);
    }
    default:
        return value.get<std::int32_t>();
    }
}

} // namespace lumarok

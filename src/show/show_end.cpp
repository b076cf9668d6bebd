#include "show/show_end.hpp"

#include <cmath>

namespace lumarok {

std::optional<AtEnd> parseAtEnd(const std::string& word) {
    if (word == "hold") {
        return AtEnd::hold;
    }
    if (word == "dark") {
        return AtEnd::dark;
    }
    if (word == "loop") {
        return AtEnd::loop;
    }
    return std::nullopt;
}

EndedClock atShowEnd(const ShowEnd& end, double clockSeconds) {
    if (end.mode == AtEnd::hold || clockSeconds < end.clockSeconds) {
        return {clockSeconds, false};
    }
    if (end.mode == AtEnd::loop && end.steadyClock && end.clockSeconds > 0.0) {
        return {std::fmod(clockSeconds, end.clockSeconds), false};
    }
    return {clockSeconds, true};
}

} // namespace lumarok

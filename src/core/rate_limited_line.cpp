#include "core/rate_limited_line.hpp"

#include <cstdio>

namespace lumarok {

bool RateLimitedLine::print(const std::string& text, Clock::time_point now) {
    if (printed && now - last < interval) {
        ++held;
        return false;
    }
    if (held > 0) {
        std::fprintf(stderr, "lumarok: %s (%llu more like it held back)\n", text.c_str(),
                     static_cast<unsigned long long>(held));
    } else {
        std::fprintf(stderr, "lumarok: %s\n", text.c_str());
    }
    printed = true;
    last = now;
    held = 0;
    return true;
}

} // namespace lumarok

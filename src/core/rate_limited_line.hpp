#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lumarok {

// A complaint that may repeat thousands of times a second (a flood of bad reports, a
// network that is down) is printed at most once per interval, as "lumarok: TEXT",
// with the number of repeats held back since the last line.
// Thread: one thread per instance.
class RateLimitedLine {
public:
    using Clock = std::chrono::steady_clock;
    explicit RateLimitedLine(std::chrono::milliseconds every = std::chrono::seconds(2))
        : interval(every) {}
    // True when the line was printed.
    bool print(const std::string& text, Clock::time_point now = Clock::now());

private:
    std::chrono::milliseconds interval;
    Clock::time_point last{};
    bool printed = false;
    std::uint64_t held = 0;
};

} // namespace lumarok

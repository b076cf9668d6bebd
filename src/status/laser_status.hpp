#pragma once

#include "status/terminal_relay.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace lumarok {

// The head of the status line, "show M:SS.s  entry N KIND  F frames/s", written
// into `out` as snprintf does; returns what snprintf returns.
int writeShowHead(std::span<char> out, double showSeconds, std::size_t entry, const char* kind,
                  double framesPerSecond);

// Where and how often the status goes: rewritten in place at most twice a second on
// a terminal, otherwise one plain line per period. On stderr's terminal every other
// line written meanwhile comes above it, never into it. Thread: one.
class StatusLine {
public:
    using Clock = std::chrono::steady_clock;
    enum class Style { off, terminal, plain };
    static constexpr auto kTerminalPeriod = std::chrono::milliseconds(500);
    static constexpr auto kPlainPeriod = std::chrono::seconds(10);

    StatusLine(std::FILE* out, Style style, Clock::duration period, Clock::time_point start,
               std::unique_ptr<TerminalRelay> relay = nullptr);
    // On stderr: off when quiet, terminal style when stderr is one, plain otherwise.
    static StatusLine forStderr(bool quiet, Clock::time_point start);
    // Leaves the terminal line with a line break, so later messages start afresh.
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    [[nodiscard]] bool due(Clock::time_point now) const {
        return style != Style::off && now >= next;
    }
    void show(const std::string& line, Clock::time_point now);

private:
    std::FILE* out;
    Style style;
    Clock::duration period;
    Clock::time_point next;
    bool shown = false;
    std::unique_ptr<TerminalRelay> relay; // stderr's terminal only
};

} // namespace lumarok

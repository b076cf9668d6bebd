#include "status/laser_status.hpp"

#include "status/terminal_relay.hpp"

#include <array>
#include <cmath>

#include <unistd.h>

namespace lumarok {

int writeShowHead(std::span<char> out, double showSeconds, std::size_t entry, const char* kind,
                  double framesPerSecond) {
    // Minutes and seconds read at a glance; a show time before the start stays negative.
    const double magnitude = std::fabs(showSeconds);
    const auto minutes = static_cast<long long>(magnitude / 60.0);
    return std::snprintf(out.data(), out.size(), "show %s%lld:%04.1f  entry %zu %s  %.1f frames/s",
                         showSeconds < 0.0 ? "-" : "", minutes,
                         magnitude - 60.0 * static_cast<double>(minutes), entry, kind,
                         framesPerSecond);
}

StatusLine::StatusLine(std::FILE* stream, Style chosen, Clock::duration every,
                       Clock::time_point start, std::unique_ptr<TerminalRelay> terminalRelay)
    : out(stream), style(chosen), period(every), next(start + every),
      relay(std::move(terminalRelay)) {}

StatusLine StatusLine::forStderr(bool quiet, Clock::time_point start) {
    if (quiet) {
        return {stderr, Style::off, kPlainPeriod, start};
    }
    if (::isatty(STDERR_FILENO) == 1) {
        return {stderr, Style::terminal, kTerminalPeriod, start, std::make_unique<TerminalRelay>()};
    }
    return {stderr, Style::plain, kPlainPeriod, start};
}

StatusLine::~StatusLine() {
    if (relay) {
        relay.reset(); // ends the status line itself
        return;
    }
    if (style == Style::terminal && shown) {
        std::fputc('\n', out);
    }
}

void StatusLine::show(const std::string& line, Clock::time_point now) {
    if (relay) {
        relay->show(line);
    } else if (style == Style::terminal) {
        // Back to the line's start, then clear what a longer earlier line left.
        std::fprintf(out, "\r%s\x1b[K", line.c_str());
    } else if (style == Style::plain) {
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fflush(out);
    shown = true;
    // From now, not from the missed deadline: a stalled loop gives no burst of lines.
    next = now + period;
}

} // namespace lumarok

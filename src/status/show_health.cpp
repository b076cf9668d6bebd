#include "status/show_health.hpp"

#include "status/laser_status.hpp"

#include "clock/time_provider.hpp"

#include <array>
#include <cstdio>

namespace lumarok {

const char* clockStateName(ClockState state) {
    switch (state) {
    case ClockState::live:
        return "live";
    case ClockState::waiting:
        return "waiting";
    case ClockState::stale:
        return "stale";
    }
    return "?";
}

ClockState clockStateFor(std::optional<double> silentSeconds, double timeoutSeconds) {
    if (!silentSeconds) {
        return ClockState::waiting;
    }
    if (timeoutSeconds > 0.0 && *silentSeconds >= timeoutSeconds) {
        return ClockState::stale;
    }
    return ClockState::live;
}

void describeClock(const TimeProvider& clock, double timeoutSeconds, ShowHealth& health) {
    health.clockSource = clock.sourceName();
    health.clockHeard = clock.heardName();
    const std::optional<double> silent = clock.silentSeconds();
    health.clockState = clockStateFor(silent, timeoutSeconds);
    health.clockSilentSeconds = silent.value_or(0.0);
    health.clockLive = health.clockState == ClockState::live;
}

std::string formatHealthLine(const ShowHealth& health) {
    std::array<char, 160> text{};
    const char* const heard = health.clockHeard.c_str();
    if (health.clockState == ClockState::waiting) {
        std::snprintf(text.data(), text.size(), "waiting for %s", heard);
    } else if (health.clockState == ClockState::stale) {
        std::snprintf(text.data(), text.size(), "clock: no %s for %.1f s; dark until it comes back",
                      heard, health.clockSilentSeconds);
    } else {
        writeShowHead(text, health.showSeconds, health.entry, health.effectKind.c_str(),
                      health.framesPerSecond);
    }
    std::string line = text.data();
    if (!health.control.empty()) {
        line += "  [" + health.control + "]";
    }
    for (const ProjectorHealth& p : health.projectors) {
        std::snprintf(text.data(), text.size(), "  | %s %s %.0f samples/s free %d underruns %llu",
                      p.name.c_str(), stateName(p.state), p.samplesPerSecond, p.bufferFree,
                      static_cast<unsigned long long>(p.underruns));
        line += text.data();
    }
    return line;
}

} // namespace lumarok

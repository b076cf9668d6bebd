#include "app/show_health.hpp"

#include "app/laser_status.hpp"

#include "clock/ltc_time_provider.hpp"
#include "clock/osc_time_provider.hpp"

#include <array>
#include <cstdio>

namespace lumarok {

void describeClock(const TimeProvider* clock, ShowHealth& health) {
    if (const auto* ltc = dynamic_cast<const LtcTimeProvider*>(clock)) {
        health.clockSource = "ltc";
        health.clockLive = ltc->rate().has_value();
    } else if (const auto* osc = dynamic_cast<const OscTimeProvider*>(clock)) {
        health.clockSource = "osc";
        health.clockLive = osc->timeReceived();
    } else {
        health.clockSource = "steady";
        health.clockLive = true;
    }
}

std::string formatHealthLine(const ShowHealth& health) {
    std::array<char, 160> text{};
    writeShowHead(text, health.showSeconds, health.entry, health.effectKind.c_str(),
                  health.framesPerSecond);
    std::string line = text.data();
    for (const ProjectorHealth& p : health.projectors) {
        std::snprintf(text.data(), text.size(), "  | %s %s %.0f samples/s free %d underruns %llu",
                      p.name.c_str(), stateName(p.state), p.samplesPerSecond, p.bufferFree,
                      static_cast<unsigned long long>(p.underruns));
        line += text.data();
    }
    return line;
}

} // namespace lumarok

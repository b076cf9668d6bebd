#include "clock/ltc_timecode.hpp"

#include <cmath>

namespace lumarok {

std::string LtcRate::name() const {
    return dropFrame ? "29.97 drop-frame" : std::to_string(nominalFps);
}

LtcRate ltcRateFor(double samplesPerFrame, double sampleRateHz, bool dropFrameBit) {
    const double measuredFps = sampleRateHz / samplesPerFrame;
    int best = 25;
    for (const int fps : {24, 25, 30}) {
        if (std::fabs(measuredFps - fps) < std::fabs(measuredFps - best)) {
            best = fps;
        }
    }
    return {best, best == 30 && dropFrameBit};
}

double timecodeSeconds(const Timecode& timecode, const LtcRate& rate) {
    const long long totalMinutes = 60LL * timecode.hours + timecode.minutes;
    long long frameCount =
        (totalMinutes * 60 + timecode.seconds) * rate.nominalFps + timecode.frames;
    if (rate.dropFrame) {
        frameCount -= 2 * (totalMinutes - totalMinutes / 10);
    }
    return static_cast<double>(frameCount) / rate.framesPerSecond();
}

} // namespace lumarok

#pragma once

#include <string>

namespace lumarok {

// A timecode frame rate as heard on the wire.
struct LtcRate {
    int nominalFps = 25;    // frames counted per timecode second: 24, 25 or 30
    bool dropFrame = false; // 30 with frame numbers dropped: 30000/1001 frames/s
    [[nodiscard]] double framesPerSecond() const {
        return dropFrame ? 30000.0 / 1001.0 : static_cast<double>(nominalFps);
    }
    [[nodiscard]] std::string name() const; // "25", "29.97 drop-frame"
    bool operator==(const LtcRate&) const = default;
};

// The rate whose frame length is nearest to `samplesPerFrame` at `sampleRateHz`
// (24, 25 or 30), with the drop-frame bit turning 30 into 29.97 drop-frame.
[[nodiscard]] LtcRate ltcRateFor(double samplesPerFrame, double sampleRateHz, bool dropFrameBit);

struct Timecode {
    int hours = 0, minutes = 0, seconds = 0, frames = 0;
};

// Seconds from 00:00:00:00 to the start of the frame. Drop-frame timecode skips frame
// numbers 0 and 1 at the start of every minute except each tenth, so its labels keep to
// the wall clock while 29.97 frames pass each second.
[[nodiscard]] double timecodeSeconds(const Timecode& timecode, const LtcRate& rate);

} // namespace lumarok

#pragma once

namespace lumarok {

// The clock time that a time heard from outside (OSC /Time, a timecode frame) stands for
// `secondsSince` seconds after it was heard (negative: before), running on at the steady
// clock's rate: the music plays on between two messages. It runs on for at most `cap`
// seconds either way, so a sender that fell silent does not carry the show away; a time
// that stands (the sender repeats it: the music paused) does not run on.
[[nodiscard]] constexpr double runOn(double heard, double secondsSince, double cap, bool standing) {
    if (standing || !(cap > 0.0)) {
        return heard;
    }
    const double since = secondsSince < -cap ? -cap : (secondsSince > cap ? cap : secondsSince);
    return heard + since;
}

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <chrono>
#include <vector>

namespace lumarok {

struct StaticGuardSettings {
    double size = 1.0; // side of the square, percent of the output's width; 0: off
    int afterMs = 100; // how long lit samples may stay within it
};

// A software scan-fail for one projector: when its lit samples have stayed within a
// square of the given size for longer than the given time, its frames are dark until
// the picture spreads past the square again. The time counts to the end of each frame
// as a projector at 30,000 samples/s plays it, so the beam is dark on time whatever
// the frame length. The one stage with state; the caller says what time it is.
// Thread: one thread at a time (the renderer's).
class StaticGuard {
public:
    using Clock = std::chrono::steady_clock;
    enum class Change { none, tripped, released };

    explicit StaticGuard(StaticGuardSettings chosen = {}) : settings(chosen) {}
    // Darkens `frame` in place while tripped; `now` is when the frame is handed out.
    Change apply(std::vector<LaserSample>& frame, Clock::time_point now);
    [[nodiscard]] bool tripped() const { return dark; }
    // How long, at the end of the last frame, the lit samples had stayed within the
    // square; zero when they had not.
    [[nodiscard]] Clock::duration stillFor() const { return still; }

private:
    struct Box {
        int left, top, right, bottom;
    };
    StaticGuardSettings settings;
    bool holding = false; // `box` and `since` describe lit samples staying within the size
    Box box{};
    Clock::time_point since{};
    Clock::duration still{};
    bool dark = false;
};

} // namespace lumarok

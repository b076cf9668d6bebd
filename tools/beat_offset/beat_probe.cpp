// lumarok-beat-probe: the player, every frame of whose show is replaced by a test
// pattern whose first sample tells the show time the frame was drawn for, so that a
// virtual projector's frame log shows when that time's light was played. Measurement
// only; never installed.
// The first sample is lit at x = v mod 4096, y = v / 4096 mod 4096 with v the show time
// in tenths of a millisecond; the rest is a lit line across the middle. One line on
// stdout, "zero SECONDS", gives the steady-clock moment (seconds) that the clock's time 0
// stands for, from the first frame drawn after clock time 0.5 s.
#include "app/laser_show.hpp"
#include "app/show_runner.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    return lumarok::runShow(argc, argv, [](lumarok::LaserFrameBuilder inner) {
        auto told = std::make_shared<bool>(false);
        return [inner, told](std::vector<lumarok::LaserSample>& samples, glm::vec2 beam,
                             double& showSeconds, Clock::time_point drawFor) {
            const Clock::time_point before = Clock::now();
            const glm::vec2 end = inner(samples, beam, showSeconds, drawFor);
            if (samples.empty()) {
                return end; // dark stays dark
            }
            if (!*told && showSeconds > 0.5) {
                *told = true;
                const Clock::time_point at = drawFor == Clock::time_point{} ? before : drawFor;
                std::printf("zero %.6f\n",
                            std::chrono::duration<double>(at.time_since_epoch()).count() -
                                showSeconds);
                std::fflush(stdout);
            }
            const std::size_t count = std::clamp<std::size_t>(samples.size(), 600, 2000);
            const auto v =
                static_cast<std::uint64_t>(std::llround(std::max(0.0, showSeconds) * 1e4));
            samples.assign(count, lumarok::LaserSample{});
            samples[0] = {static_cast<std::uint16_t>(v % 4096),
                          static_cast<std::uint16_t>(v / 4096 % 4096), 4095, 4095, 4095};
            for (std::size_t i = 1; i < count; ++i) {
                samples[i] = {static_cast<std::uint16_t>(i * 4095 / count), 2047, 2000, 0, 0};
            }
            return end;
        };
    });
}

#include "app/laser_loop.hpp"

#include <algorithm>
#include <optional>

namespace lumarok {

glm::vec2 runLaserLoop(const StopFlags& stop, const BuildLaserFrame& build, FrameHandoff& handoff) {
    using Clock = FrameHandoff::Clock;
    std::vector<LaserSample> samples; // swapped with the sender's, never reallocated needlessly
    glm::vec2 beamPosition{0.0f, 0.0f};
    // When the sender's next request is due: asleep until then, this thread is not
    // woken by the request itself.
    std::optional<Clock::time_point> foreseen;
    while (!stop.raised() && !handoff.closed()) {
        if (foreseen) {
            handoff.sleepUntil(std::min(*foreseen, Clock::now() + kRenderPoll));
            foreseen.reset();
            continue;
        }
        if (!handoff.waitUntilWanted(kRenderPoll)) {
            continue;
        }
        // Rendered as late as the sender asked: the closer to the moment it plays,
        // the closer the picture is to the show's time.
        const Clock::time_point asked = handoff.renderTime();
        if (Clock::now() < asked) {
            handoff.sleepUntil(std::min(asked, Clock::now() + kRenderPoll));
            continue;
        }
        beamPosition = build(samples, beamPosition);
        const std::size_t count = samples.size();
        handoff.publish(samples);
        foreseen = handoff.foreseeNext(asked, count);
    }
    return beamPosition;
}

} // namespace lumarok

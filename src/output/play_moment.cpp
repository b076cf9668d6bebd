#include "output/play_moment.hpp"

#include <algorithm>
#include <cmath>

namespace lumarok {

PlayClock::time_point playMoment(PlayClock::time_point now, std::int32_t queued,
                                 std::int32_t reserve, std::int32_t rate) {
    if (rate <= 0) {
        return now;
    }
    const double held = static_cast<double>(std::max(queued, reserve));
    const auto playing = std::chrono::nanoseconds(std::llround(1e9 * held / rate));
    return now + std::chrono::duration_cast<PlayClock::duration>(playing);
}

std::size_t leadToMoment(PlayClock::time_point now, PlayClock::time_point playsAt,
                         std::int32_t queued, std::int32_t least, std::int32_t rate,
                         std::int32_t ceiling) {
    const std::int64_t held = std::max(queued, 0);
    std::int64_t target = least;
    if (rate > 0) {
        const double until = std::chrono::duration<double>(playsAt - now).count();
        target = std::max<std::int64_t>(target, std::llround(until * rate));
    }
    target = std::min<std::int64_t>(target, std::max(ceiling, least));
    return target > held ? static_cast<std::size_t>(target - held) : 0;
}

PlayClock::time_point RefreshInterval::shownAt(PlayClock::time_point now) {
    if (last != PlayClock::time_point{}) {
        const auto interval = std::clamp<std::chrono::nanoseconds>(
            now - last, std::chrono::nanoseconds(8'333'333), std::chrono::milliseconds(100));
        smoothed += (interval - smoothed) / 8;
    }
    last = now;
    return now + std::chrono::duration_cast<PlayClock::duration>(smoothed);
}

} // namespace lumarok

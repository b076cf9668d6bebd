#include "anim/sampler.hpp"

#include <cstdint>
#include <cstdlib>

namespace lumarok {

namespace {

constexpr double kFrameSeconds = 0.04;
constexpr float kMirror = 4095.0f;

} // namespace

Frame sampleAnimation(const Animation& animation, double showSeconds) {
    Frame result;
    FramePools pools;
    sampleAnimation(animation, showSeconds, result, pools);
    return result;
}

void sampleAnimation(const Animation& animation, double showSeconds, Frame& result,
                     FramePools& pools) {
    clearFrame(result, pools);
    for (const SequenceEntry& entry : animation.sequence) {
        const std::int64_t diff = static_cast<std::int64_t>(entry.lastFrame) -
                                  static_cast<std::int64_t>(entry.firstFrame);
        const int dir = diff > 0 ? 1 : (diff < 0 ? -1 : 0);
        const double end =
            entry.startSeconds + static_cast<double>(std::llabs(diff) + 1) * kFrameSeconds;
        if (!(entry.startSeconds < showSeconds && showSeconds < end)) {
            continue;
        }
        if (entry.sceneIndex < 0 ||
            static_cast<std::size_t>(entry.sceneIndex) >= animation.scenes.size()) {
            continue;
        }
        const double sceneSeconds =
            (showSeconds - entry.startSeconds) * dir + entry.firstFrame * kFrameSeconds;
        const std::size_t first = result.size();
        animation.scenes[static_cast<std::size_t>(entry.sceneIndex)].appendFrameAt(sceneSeconds,
                                                                                   result, pools);
        for (std::size_t i = first; i < result.size(); ++i) {
            for (glm::vec2& point : result[i]) {
                if (entry.flipHorizontal) {
                    point.x = kMirror - point.x;
                }
                if (entry.flipVertical) {
                    point.y = kMirror - point.y;
                }
            }
        }
    }
}

} // namespace lumarok

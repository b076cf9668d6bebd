#include "app/clip_check.hpp"

#include "anim/animation.hpp"
#include "anim/data_error.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lumarok {

void checkClipRanges(const Animation& animation, const std::string& sequenceName) {
    for (std::size_t i = 0; i < animation.sequence.size(); ++i) {
        const SequenceEntry& clip = animation.sequence[i];
        const bool knownScene = clip.sceneIndex >= 0 &&
                                static_cast<std::size_t>(clip.sceneIndex) < animation.scenes.size();
        const std::size_t frameCount =
            knownScene ? animation.scenes[static_cast<std::size_t>(clip.sceneIndex)].frames.size()
                       : 0;
        const std::int64_t lowest = std::min(clip.firstFrame, clip.lastFrame);
        const std::int64_t highest = std::max(clip.firstFrame, clip.lastFrame);
        if (lowest >= 0 && static_cast<std::size_t>(highest) < frameCount) {
            continue;
        }
        const long long startMs = std::llround(clip.startSeconds * 1000.0);
        std::string what = sequenceName + ": clip " + std::to_string(i + 1) + " (start " +
                           std::to_string(startMs) + " ms) plays frames " +
                           std::to_string(clip.firstFrame) + ".." + std::to_string(clip.lastFrame) +
                           " of a scene with " + std::to_string(frameCount) + " frames";
        if (frameCount == 0) {
            what += " (is its scene file missing?)";
        }
        throw DataError(what);
    }
}

} // namespace lumarok

#pragma once

#include <string>

namespace lumarok {

class Animation;

// Refuses an animation with a clip that plays frames outside its scene, such as a
// clip of a scene whose file was missing (a scene without frames). Such a show would
// play blank stretches without a word; better to stop at start-up and say which clip.
// Throws DataError naming the sequence file, the clip and its start.
void checkClipRanges(const Animation& animation, const std::string& sequenceName);

} // namespace lumarok

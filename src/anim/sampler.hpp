#pragma once

#include "anim/animation.hpp"
#include "core/frame_storage.hpp"
#include "core/shapes.hpp"

namespace lumarok {

// The frame the animation shows at `showSeconds`: the polylines of every clip
// active then, in sequence order, each clip blended and mirrored as it asks.
// Empty when no clip is active. Reads `animation` only.
Frame sampleAnimation(const Animation& animation, double showSeconds);
// The same into `frame`, whose storage is kept from call to call with the caller's
// polyline pools (see frame_storage.hpp).
void sampleAnimation(const Animation& animation, double showSeconds, Frame& frame,
                     FramePools& pools);

} // namespace lumarok

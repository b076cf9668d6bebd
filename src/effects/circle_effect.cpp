#include "effects/circle_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

CircleEffect::CircleEffect(float radius_, glm::vec3 frameColor_, glm::vec3 circleColor_,
                           const AudioCapture* audio_)
    : radius(radius_), frameColor(frameColor_), circleColor(circleColor_), audio(audio_) {}

void CircleEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out) const {
    // Per-thread working frames, kept from frame to frame.
    thread_local AudioSnapshot snapshot;
    thread_local Frame pieces;
    thread_local MaskIndex outline;
    takeAudioSnapshot(audio, snapshot);
    clearFrame(pieces);
    circlePolyline(snapshot, radius, addPolyline(pieces));
    if (!frame.empty()) {
        // The circle stays out of the area of the frame's first polyline.
        outline.build(frame[0]);
        thread_local Polyline circle;
        circle.swap(pieces.front());
        clearFrame(pieces);
        clipPolylineToMask(circle, outline, false, pieces);
    }
    clearFrame(out);
    appendColorized(pieces, circleColor, out);
    appendColorized(frame, frameColor, out);
}

} // namespace lumarok

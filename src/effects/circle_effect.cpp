#include "effects/circle_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

CircleEffect::CircleEffect(float radius_, glm::vec3 frameColor_, glm::vec3 circleColor_,
                           const AudioCapture* audio_)
    : radius(radius_), frameColor(frameColor_), circleColor(circleColor_), audio(audio_) {}

void CircleEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out,
                         EffectStorage& storage) const {
    FramePools& pools = storage.pools();
    Frame& pieces = storage.pieces;
    takeAudioSnapshot(audio, storage.snapshot);
    clearFrame(pieces, pools);
    circlePolyline(storage.snapshot, radius, addPolyline(pieces, pools));
    if (!frame.empty()) {
        // The circle stays out of the area of the frame's first polyline.
        storage.outline.build(frame[0]);
        Polyline& circle = storage.stroke;
        circle.swap(pieces.front());
        clearFrame(pieces, pools);
        clipPolylineToMask(circle, storage.outline, false, pieces, storage.geometry);
    }
    clearFrame(out, pools);
    appendColorized(pieces, circleColor, out, pools);
    appendColorized(frame, frameColor, out, pools);
}

} // namespace lumarok

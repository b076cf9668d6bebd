#include "effects/circle_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

CircleEffect::CircleEffect(float radius_, glm::vec3 frameColor_, glm::vec3 circleColor_,
                           const AudioCapture* audio_)
    : radius(radius_), frameColor(frameColor_), circleColor(circleColor_), audio(audio_) {}

ColorFrame CircleEffect::apply(const Frame& frame, float /*time*/) const {
    const Polyline circle = circlePolyline(takeAudioSnapshot(audio), radius);
    // The circle stays out of the area of the frame's first polyline.
    const Frame pieces =
        frame.empty() ? Frame{circle} : clipPolylineToMask(circle, frame[0], false);

    ColorFrame result = colorizeFrame(pieces, circleColor);
    ColorFrame body = colorizeFrame(frame, frameColor);
    result.insert(result.end(), std::make_move_iterator(body.begin()),
                  std::make_move_iterator(body.end()));
    return result;
}

} // namespace lumarok

#include "effects/line_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

LineEffect::LineEffect(float period_, glm::vec3 colorA_, glm::vec3 colorB_, glm::vec3 waveColor_,
                       const AudioCapture* audio_)
    : period(period_), colorA(colorA_), colorB(colorB_), waveColor(waveColor_), audio(audio_) {}

ColorFrame LineEffect::apply(const Frame& frame, float time) const {
    const Polyline wave = waveformPolyline(takeAudioSnapshot(audio), kCentre);
    // The waveform stays out of the area of the frame's first polyline.
    const Frame pieces = frame.empty() ? Frame{wave} : clipPolylineToMask(wave, frame[0], false);

    const float b = std::sin(time * 6.2831855f / period) * 0.5f + 0.5f;
    const glm::vec3 pulse = colorA * (1.0f - b) + colorB * b;

    ColorFrame result = colorizeFrame(pieces, waveColor);
    ColorFrame body = colorizeFrame(frame, pulse);
    result.insert(result.end(), std::make_move_iterator(body.begin()),
                  std::make_move_iterator(body.end()));
    return result;
}

} // namespace lumarok

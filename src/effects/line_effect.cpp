#include "effects/line_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

LineEffect::LineEffect(float period_, glm::vec3 colorA_, glm::vec3 colorB_, glm::vec3 waveColor_,
                       const AudioCapture* audio_)
    : period(period_), colorA(colorA_), colorB(colorB_), waveColor(waveColor_), audio(audio_) {}

void LineEffect::apply(const Frame& frame, float time, ColorFrame& out) const {
    // Per-thread working frames, kept from frame to frame.
    thread_local AudioSnapshot snapshot;
    thread_local Frame pieces;
    thread_local MaskIndex outline;
    takeAudioSnapshot(audio, snapshot);
    clearFrame(pieces);
    waveformPolyline(snapshot, kCentre, addPolyline(pieces));
    if (!frame.empty()) {
        // The waveform stays out of the area of the frame's first polyline.
        outline.build(frame[0]);
        thread_local Polyline wave;
        wave.swap(pieces.front());
        clearFrame(pieces);
        clipPolylineToMask(wave, outline, false, pieces);
    }

    const float b = std::sin(time * 6.2831855f / period) * 0.5f + 0.5f;
    const glm::vec3 pulse = colorA * (1.0f - b) + colorB * b;

    clearFrame(out);
    appendColorized(pieces, waveColor, out);
    appendColorized(frame, pulse, out);
}

} // namespace lumarok

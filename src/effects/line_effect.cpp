#include "effects/line_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

#include <cmath>

namespace lumarok {

LineEffect::LineEffect(float period_, glm::vec3 colorA_, glm::vec3 colorB_, glm::vec3 waveColor_,
                       const AudioCapture* audio_)
    : period(period_), colorA(colorA_), colorB(colorB_), waveColor(waveColor_), audio(audio_) {}

void LineEffect::apply(const Frame& frame, float time, ColorFrame& out,
                       EffectStorage& storage) const {
    FramePools& pools = storage.pools();
    Frame& pieces = storage.pieces;
    takeAudioSnapshot(audio, storage.snapshot);
    clearFrame(pieces, pools);
    waveformPolyline(storage.snapshot, kCentre, addPolyline(pieces, pools));
    if (!frame.empty()) {
        // The waveform stays out of the area of the frame's first polyline.
        storage.outline.build(frame[0]);
        Polyline& wave = storage.stroke;
        wave.swap(pieces.front());
        clearFrame(pieces, pools);
        clipPolylineToMask(wave, storage.outline, false, pieces, storage.geometry);
    }

    const float b = std::sin(time * 6.2831855f / period) * 0.5f + 0.5f;
    const glm::vec3 pulse = colorA * (1.0f - b) + colorB * b;

    clearFrame(out, pools);
    appendColorized(pieces, waveColor, out, pools);
    appendColorized(frame, pulse, out, pools);
}

} // namespace lumarok

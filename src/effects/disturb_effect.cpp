#include "effects/disturb_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

DisturbEffect::DisturbEffect(float strength_, glm::vec3 color_, std::int32_t sampleCount_,
                             const AudioCapture* audio_)
    : strength(strength_), color(color_), sampleCount(sampleCount_), audio(audio_) {}

void DisturbEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out) const {
    // Per-thread working copies: the packet is copied once, so the capture may move on.
    thread_local AudioSnapshot snapshot;
    thread_local Frame points;
    takeAudioSnapshot(audio, snapshot);
    resampleFrame(frame, sampleCount, points);
    clearFrame(out);
    for (const Polyline& polyline : points) {
        ColorPolyline& moved = addPolyline(out);
        reserveRoom(moved, polyline.size());
        for (const glm::vec2 point : polyline) {
            moved.push_back(
                ColorPoint{point + disturbanceOffset(snapshot, strength, point), color});
        }
    }
}

} // namespace lumarok

#include "effects/disturb_effect.hpp"

#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

DisturbEffect::DisturbEffect(float strength_, glm::vec3 color_, std::int32_t sampleCount_,
                             const AudioCapture* audio_)
    : strength(strength_), color(color_), sampleCount(sampleCount_), audio(audio_) {}

void DisturbEffect::apply(const Frame& frame, float /*time*/, ColorFrame& out,
                          EffectStorage& storage) const {
    // The packet is copied once, so the capture may move on.
    const AudioSnapshot& snapshot = storage.snapshot;
    takeAudioSnapshot(audio, storage.snapshot);
    resampleFrame(frame, sampleCount, storage.working, storage.geometry);
    clearFrame(out, storage.pools());
    for (const Polyline& polyline : storage.working) {
        ColorPolyline& moved = addPolyline(out, storage.pools());
        reserveRoom(moved, polyline.size());
        for (const glm::vec2 point : polyline) {
            moved.push_back(
                ColorPoint{point + disturbanceOffset(snapshot, strength, point), color});
        }
    }
}

} // namespace lumarok

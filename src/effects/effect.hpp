#pragma once

#include "core/shapes.hpp"
#include "effects/audio_shapes.hpp"
#include "effects/geometry.hpp"

namespace lumarok {

// The classes of effect, one per final class below Effect.
enum class EffectKind { circle, colour, disturb, innerCircle, line, mask, plasma, text, tunnel };

// The storage effects draw with: the polyline pools and every working buffer. The
// caller owns it and keeps it from frame to frame with its output frame, so that a
// steady show allocates nothing; the effects keep nothing in it between calls.
// Thread: one rendering loop's, used by one thread at a time.
struct EffectStorage {
    GeometryScratch geometry;
    AudioSnapshot snapshot; // the latest audio packet, copied once per frame
    Frame working;          // the input frame resampled or scaled
    Frame pieces;           // strokes clipped to a mask
    Polyline stroke;        // an audio stroke while it is being clipped
    MaskIndex outline;      // the input frame's first polyline as a mask

    [[nodiscard]] FramePools& pools() { return geometry.pools; }
};

// One visual effect of the show. Effects are immutable after construction and
// keep no state between calls, so one object may be applied to frames in any order.
class Effect {
public:
    virtual ~Effect() = default;

    // Replaces the content of `out` with the effect drawn over `frame`. `out` and
    // `storage` are the caller's, kept from frame to frame so that steady rendering
    // does not allocate.
    // time: show time in seconds, already narrowed to float by the timeline.
    virtual void apply(const Frame& frame, float time, ColorFrame& out,
                       EffectStorage& storage) const = 0;

    // Which class of effect this is, for readouts and measuring tools.
    [[nodiscard]] virtual EffectKind kind() const = 0;

    // The same into a new frame.
    [[nodiscard]] ColorFrame apply(const Frame& frame, float time) const {
        ColorFrame out;
        EffectStorage storage;
        apply(frame, time, out, storage);
        return out;
    }

protected:
    Effect() = default;
    Effect(const Effect&) = default;
    Effect& operator=(const Effect&) = default;
};

} // namespace lumarok

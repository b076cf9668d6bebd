#pragma once

#include "effects/shapes.hpp"

namespace lumarok {

// The classes of effect, one per final class below Effect.
enum class EffectKind { circle, colour, disturb, innerCircle, line, mask, plasma, text, tunnel };

// One visual effect of the show. Effects are immutable after construction and
// keep no state between calls, so one object may be applied to frames in any order.
class Effect {
public:
    virtual ~Effect() = default;

    // Replaces the content of `out` with the effect drawn over `frame`. `out` is the
    // caller's buffer, kept from frame to frame so that steady rendering does not
    // allocate (see frame_storage.hpp).
    // time: show time in seconds, already narrowed to float by the timeline.
    virtual void apply(const Frame& frame, float time, ColorFrame& out) const = 0;

    // Which class of effect this is, for readouts and measuring tools.
    [[nodiscard]] virtual EffectKind kind() const = 0;

    // The same into a new frame.
    [[nodiscard]] ColorFrame apply(const Frame& frame, float time) const {
        ColorFrame out;
        apply(frame, time, out);
        return out;
    }

protected:
    Effect() = default;
    Effect(const Effect&) = default;
    Effect& operator=(const Effect&) = default;
};

} // namespace lumarok

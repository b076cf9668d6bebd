#pragma once

#include "effects/shapes.hpp"

namespace lumarok {

// One visual effect of the show. Effects are immutable after construction and
// keep no state between calls, so one object may be applied to frames in any order.
class Effect {
public:
    virtual ~Effect() = default;

    // time: show time in seconds, already narrowed to float by the timeline.
    [[nodiscard]] virtual ColorFrame apply(const Frame& frame, float time) const = 0;

protected:
    Effect() = default;
    Effect(const Effect&) = default;
    Effect& operator=(const Effect&) = default;
};

} // namespace lumarok

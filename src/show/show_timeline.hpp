#pragma once

#include "core/shapes.hpp"
#include "effects/effect.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumarok {

struct TimelineEntry {
    std::int32_t startMs = 0; // show time from which the entry may run
    std::unique_ptr<Effect> effect;
};

// The show's script: entries in storage order, which decides between equal starts.
// Read-only after construction; only the rendering thread calls it.
class ShowTimeline {
public:
    // Throws std::invalid_argument for an empty list or an entry without effect.
    explicit ShowTimeline(std::vector<TimelineEntry> entries);

    // Index of the last entry in storage order whose start has been reached; entry 0
    // serves every earlier time, negative times and NaN.
    [[nodiscard]] std::size_t selectedIndex(double showTime) const;
    [[nodiscard]] const Effect& effectAt(double showTime) const;
    // The selected effect applied to the frame, with the time narrowed to float.
    [[nodiscard]] ColorFrame renderAt(double showTime, const Frame& frame) const;
    // The same into `out`, whose storage is kept from frame to frame with `storage`.
    void renderAt(double showTime, const Frame& frame, ColorFrame& out,
                  EffectStorage& storage) const;

    [[nodiscard]] std::size_t size() const { return entries.size(); }
    [[nodiscard]] const TimelineEntry& entry(std::size_t index) const { return entries.at(index); }

private:
    std::vector<TimelineEntry> entries;
};

} // namespace lumarok

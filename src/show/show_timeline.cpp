#include "show/show_timeline.hpp"

#include <stdexcept>
#include <utility>

namespace lumarok {

ShowTimeline::ShowTimeline(std::vector<TimelineEntry> entriesInOrder)
    : entries(std::move(entriesInOrder)) {
    if (entries.empty()) {
        throw std::invalid_argument("a show timeline needs at least one entry");
    }
    for (const TimelineEntry& e : entries) {
        if (!e.effect) {
            throw std::invalid_argument("a show timeline entry has no effect");
        }
    }
}

std::size_t ShowTimeline::selectedIndex(double showTime) const {
    // Full scan, never stopping early: the table is not sorted, and a later entry
    // with an equal or earlier start overrides an earlier one.
    std::size_t candidate = 0;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (showTime >= entries[i].startMs / 1000.0) {
            candidate = i;
        }
    }
    return candidate;
}

const Effect& ShowTimeline::effectAt(double showTime) const {
    return *entries[selectedIndex(showTime)].effect;
}

ColorFrame ShowTimeline::renderAt(double showTime, const Frame& frame) const {
    return effectAt(showTime).apply(frame, static_cast<float>(showTime));
}

void ShowTimeline::renderAt(double showTime, const Frame& frame, ColorFrame& out,
                            EffectStorage& storage) const {
    effectAt(showTime).apply(frame, static_cast<float>(showTime), out, storage);
}

} // namespace lumarok

#include "clock/remap_time.hpp"

#include <algorithm>

namespace lumarok {

namespace {

double slopeOneFrom(const RemapPoint& point, double clockTime) {
    return clockTime - point.second + point.first;
}

} // namespace

double remapTime(const RemapTable& table, double clockTime) {
    if (table.empty()) {
        return clockTime;
    }
    // Linear search on purpose: the first later point in file order, even for a table whose
    // clock side is not sorted.
    const auto next = std::find_if(table.begin(), table.end(), [clockTime](const RemapPoint& p) {
        return p.second > clockTime;
    });
    if (next == table.end()) {
        return slopeOneFrom(table.back(), clockTime);
    }
    if (next == table.begin()) {
        return slopeOneFrom(table.front(), clockTime);
    }
    const RemapPoint& previous = *(next - 1);
    // Every point before `next` has second <= clockTime, so the span is positive.
    const double u = (clockTime - previous.second) / (next->second - previous.second);
    return (1.0 - u) * previous.first + u * next->first;
}

} // namespace lumarok

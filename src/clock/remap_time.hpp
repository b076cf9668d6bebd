#pragma once

#include "core/remap_table.hpp"

namespace lumarok {

// Show time for a clock time, piecewise linear through the table's points (in file order).
// Beyond the last point, and before the first, the show time runs at the clock's rate from
// the nearest point. An empty table maps every clock time to itself.
[[nodiscard]] double remapTime(const RemapTable& table, double clockTime);

} // namespace lumarok

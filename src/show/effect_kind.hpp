#pragma once

#include <string>

namespace lumarok {

class Effect;

// A short lower-case word for the effect's class ("circle", "plasma", ...), for
// the operator's readouts.
[[nodiscard]] const char* effectKind(const Effect& effect);
// The effect's class name without its namespace ("TunnelEffect"), for measuring
// tools that list every entry.
[[nodiscard]] std::string effectClassName(const Effect& effect);

} // namespace lumarok

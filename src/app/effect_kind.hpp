#pragma once

namespace lumarok {

class Effect;

// A short lower-case word for the effect's class ("circle", "plasma", ...), for
// the operator's readouts; "effect" for a class it does not know.
[[nodiscard]] const char* effectKind(const Effect& effect);

} // namespace lumarok

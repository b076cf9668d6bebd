#pragma once

#include <optional>
#include <string>

namespace lumarok {

// What the projectors show after the show's last moment (--at-end).
enum class AtEnd { hold, dark, loop };

// "hold", "dark" or "loop"; nullopt for any other word.
[[nodiscard]] std::optional<AtEnd> parseAtEnd(const std::string& word);

struct ShowEnd {
    AtEnd mode = AtEnd::hold;
    double clockSeconds = 0.0; // the clock time the show ends at (as --export-ilda ends)
    bool steadyClock = true;   // only the program's own clock can be started again
};

struct EndedClock {
    double clockSeconds = 0.0; // the clock time to draw
    bool dark = false;         // draw nothing
};

// hold: the clock as it is (the last entry holds); dark: nothing from the end on; loop:
// the steady clock starts again at 0 at the end, while an outside clock (OSC, LTC)
// decides the time itself, so loop then acts as dark.
[[nodiscard]] EndedClock atShowEnd(const ShowEnd& end, double clockSeconds);

} // namespace lumarok

#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumarok {

// The mirror flags that "scene" and "scene_options" lines set for the clips after them.
struct FlipFlags {
    bool vertical = false;
    bool horizontal = false;
};

// One "anim" line as written: part-relative frame numbers, no scene looked up yet.
struct ClipLine {
    std::int32_t startMs = 0;
    std::string baseName;
    std::int32_t part = 0;
    std::int32_t from = 0;
    std::int32_t to = 0;
};

// Reads one line of Sequence.txt. Returns the clip of an "anim" line; updates
// `flags` on "scene" and "scene_options" lines; ignores anything else. A wrong
// key prints "'name' expected" (or from, to) and reading goes on by position.
// Numbers without digits raise std::invalid_argument("invalid stoi argument"),
// numbers outside the int range std::out_of_range("stoi argument out of range").
std::optional<ClipLine> readSequenceLine(const std::string& line, FlipFlags& flags);

// String-to-int conversion with the rules above (white space, sign, "0x" in base 16).
std::int32_t convertInt(const std::string& text, int base);

} // namespace lumarok

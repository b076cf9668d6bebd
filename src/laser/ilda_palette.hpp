#pragma once

#include <array>
#include <cstdint>

namespace lumarok {

struct IldaColor {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// The palette indexed frames use when their file gives none before them.
inline constexpr std::size_t kIldaDefaultPaletteSize = 64;
[[nodiscard]] const std::array<IldaColor, kIldaDefaultPaletteSize>& ildaDefaultPalette();

} // namespace lumarok

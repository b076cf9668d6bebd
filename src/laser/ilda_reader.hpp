#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace lumarok {

// The exact inverses of the writer's mappings. A coordinate -32768..32767 becomes the
// nearest level 0..4095 (every coordinate the writer makes comes back to its level);
// a colour byte becomes the level round(value * 4095 / 255), which the writer turns
// back into the same byte.
[[nodiscard]] std::uint16_t ildaLevelFromCoordinate(std::int16_t coordinate);
[[nodiscard]] std::uint16_t ildaLevelFromColor(std::uint8_t value);

// One point on the projector's axes (x, y 0..4095, as a LaserSample has them), its
// colour as the file's bytes (0, 0, 0 for a blanked point).
struct IldaPoint {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// One section as its header describes it, palettes included, for inspection.
struct IldaSectionInfo {
    int format = 0;
    std::size_t records = 0;
    std::string name;    // cut at the first NUL, trailing spaces trimmed
    std::string company; // the same
    int projector = 0;
};

struct IldaFrame {
    std::size_t firstPoint = 0; // into IldaFile::points
    std::size_t pointCount = 0; // at least 1
};

struct IldaFile {
    std::vector<IldaSectionInfo> sections; // every section read, in file order
    std::vector<IldaFrame> frames;         // the drawable ones (formats 0, 1, 4, 5)
    std::vector<IldaPoint> points;
    std::vector<std::string> warnings; // one line each, naming the file and the frame
};

inline constexpr std::uintmax_t kMaxIldaFileBytes = std::uintmax_t{128} << 20;
inline constexpr std::size_t kMaxIldaPoints = std::size_t{1} << 24;

struct IldaLimits {
    std::uintmax_t maxFileBytes = kMaxIldaFileBytes;
    std::size_t maxPoints = kMaxIldaPoints; // points kept, all frames together
    // A frame with more points is thinned to at most this many, with a warning.
    std::size_t maxFramePoints = 65535;
};

// Reads formats 0, 1, 2, 4 and 5. Indexed colours go through the palette most recently
// given for the frame's projector, else the standard's suggested 64 colours; an index
// past the palette's end takes its last entry. Z is dropped. A frame ends after its
// record count, whatever its last-point bits say. Reading stops at the closing header;
// where the file cannot go on (no closing header, a section cut short, bytes that are
// no section, a format without a known record size) the frames read so far are kept
// with a warning. Throws std::runtime_error naming the file (and the frame) when not
// one frame could be read or a limit is passed.
[[nodiscard]] IldaFile parseIlda(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                 const IldaLimits& limits = {});

// The same for a file, which must be a regular file within limits.maxFileBytes.
[[nodiscard]] IldaFile readIldaFile(const std::filesystem::path& file,
                                    const IldaLimits& limits = {});

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace lumarok {

// Projector 0..4095 onto the ILDA span -32768..32767 by bit replication (v * 16 + v / 256),
// so both ends land exactly on the span's ends.
[[nodiscard]] std::int16_t ildaCoordinate(std::uint16_t level);
// Projector colour level 0..4095 onto 0..255, rounded.
[[nodiscard]] std::uint8_t ildaColorLevel(std::uint16_t level);

// Writes laser frames as an ILDA file of 2-D true-colour sections (format 5), one
// frame at a time straight to the file. The projector draws what the audience sees
// with both axes reversed (its origin is their bottom-right corner), so X is taken
// from 4095 - x and Y from y: ILDA's X grows to the right and its Y upward.
// A sample whose three levels are 0 is written blanked.
class IldaWriter final {
public:
    // Creates (truncates) the file; throws std::runtime_error naming it (or `shownName`,
    // when given, as the file the user knows) when it cannot.
    // `totalFrames` goes into every header and must be 1..65535.
    IldaWriter(const std::filesystem::path& file, std::size_t totalFrames,
               std::filesystem::path shownName = {});

    // Appends the next frame. Throws std::invalid_argument for an empty frame, one of
    // more than 65535 samples or one beyond `totalFrames`; std::runtime_error on write errors.
    void writeFrame(const std::vector<LaserSample>& samples);

    // Writes the closing header (no records, the last frame's fields) and closes the
    // file. Throws unless exactly `totalFrames` frames were written, or on write errors.
    void finish();

private:
    void appendHeader(std::size_t recordCount);
    void flushBytes();

    std::filesystem::path path;
    std::ofstream out;
    std::size_t totalFrames;
    std::size_t framesWritten = 0;
    std::vector<char> bytes; // one frame's encoding, reused
};

} // namespace lumarok

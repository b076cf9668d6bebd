#pragma once

#include "core/laser_sample.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace lumarok {

// Pictures of a sample list as the preview window shows it: the beam's path as
// additive coloured segments between consecutive samples, on black, with the
// projector's mirroring undone and blue at twice its level.

inline constexpr int kPreviewImageSize = 1024; // pixels, square

// Writes a 1024 x 1024 PNG. Throws std::runtime_error naming the file on failure.
void writePreviewPng(const std::vector<LaserSample>& samples, const std::filesystem::path& file);

// A self-contained SVG document of the same picture.
[[nodiscard]] std::string previewSvg(const std::vector<LaserSample>& samples);

} // namespace lumarok

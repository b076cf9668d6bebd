#pragma once

#include "core/laser_sample.hpp"

#include <string>
#include <vector>

namespace lumarok::cube {

// Draws a frame as the audience sees it (projector axes turned back into drawing
// space), dark moves left out, colours brightened so that a dim show stays visible.
// The file type follows the extension: .png through cairo, anything else SVG.
// Throws std::runtime_error when the file cannot be written.
void writeFramePicture(const std::vector<LaserSample>& samples, const std::string& path);

} // namespace lumarok::cube

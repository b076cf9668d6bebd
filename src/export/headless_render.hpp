#pragma once

#include "laser/show_frame.hpp"

#include <filesystem>

namespace lumarok {

enum class RenderFormat { png, svg, json, ilda };

// The format named by the file's extension (.png, .svg, .json, .ild, any case);
// throws std::invalid_argument for any other.
[[nodiscard]] RenderFormat renderFormatOf(const std::filesystem::path& file);

class ProjectorCorrection;

struct RenderRequest {
    double clockSeconds = 0.0;
    std::filesystem::path out;
    float intensity = 0.1f; // laser samples (.json) only; pictures use the preview's 1.0
    // One projector's correction and static-beam guard, for every format (may be null).
    const ProjectorCorrection* correction = nullptr;
};

// Writes the show as it stands at the clock time, computed as the preview does, for
// a beam that starts at (0, 0). Pictures show the preview's path (spacing 25,
// intensity 1); .json holds the laser loop's samples, .ild the same as one ILDA frame. The
// file is written beside the target and put in place when complete. Throws naming the
// file on write failures, and for a target that is not a regular file.
void renderHeadless(const ShowSources& sources, const RenderRequest& request);

class IldaShow;
// The same for ILDA files: the frame playing at the clock time, beam from (0, 0); .json
// names the frame ("FILE frame N", null while dark) instead of a timeline entry.
void renderIldaHeadless(IldaShow& show, const RenderRequest& request);

} // namespace lumarok

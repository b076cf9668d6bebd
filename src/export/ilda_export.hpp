#pragma once

#include "laser/show_frame.hpp"

#include <glm/vec2.hpp>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace lumarok {

// The show time at which the show ends: the end of the last sequence clip (each clip
// lasts its frame count times 0.04 s), or the last timeline start if that is later.
[[nodiscard]] double showEndSeconds(const ShowSources& sources);

// The first clock time whose remapped show time reaches `showSeconds`: the inverse of
// the remap table, walking its segments in file order (slope one outside them).
[[nodiscard]] double clockTimeForShowTime(const RemapTable& table, double showSeconds);

class ProjectorCorrection;

struct IldaExportRequest {
    std::filesystem::path out;
    double framesPerSecond = 30.0;
    double fromSeconds = 0.0;        // clock time of frame 0
    std::optional<double> toSeconds; // clock time, excluded; default: the show's end
    float intensity = 0.1f;
    // One projector's correction, and its static-beam guard on the frames' clock times
    // (may be null).
    const ProjectorCorrection* correction = nullptr;
};

// Frames at clock times from, from + 1/fps, ... while below `to`.
[[nodiscard]] std::size_t ildaFrameCount(double fromSeconds, double toSeconds,
                                         double framesPerSecond);

// Fills the samples of the frame at a clock time for a beam starting at the given
// drawing-space position; returns where the beam ends.
using ClockFrameBuilder =
    std::function<glm::vec2(double clockSeconds, std::vector<LaserSample>&, glm::vec2 beam)>;

// Writes the frames at those clock times as an ILDA file, each frame's blank move
// starting where the previous frame ended (the first from (0, 0), as --render does);
// `defaultTo` is the end without --to. A frame without samples becomes one blanked
// point where the beam stands. The file is written beside the target and put in place
// only when complete. Reports progress on `progress` (may be null) about once a
// second. Throws on a range that is empty or longer than the format's 65535 frames,
// on write errors, and when `stop` (may be null) is raised, leaving the target as it was.
void exportIldaFrames(const ClockFrameBuilder& build, double defaultTo,
                      const IldaExportRequest& request, std::FILE* progress,
                      const std::atomic<bool>* stop);

// The bundled show's laser-loop frames, up to the show's end by default.
void exportIlda(const ShowSources& sources, const IldaExportRequest& request, std::FILE* progress,
                const std::atomic<bool>* stop = nullptr);

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"
#include "laser/ilda_reader.hpp"

#include <glm/vec2.hpp>

#include <array>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

struct IldaShowSettings {
    double framesPerSecond = 30.0; // --ilda-fps: each frame lasts 1 / framesPerSecond
    bool loop = false;             // --loop: the list starts again after its last frame
    float intensity = 0.1f;        // scales the files' colours, as -i scales the show's
};

// ILDA files played one after the other on the show clock: frame k of the list plays
// from clock time k / framesPerSecond. Before 0 and, without loop, after the last
// frame the frames are dark (no samples).
class IldaShow final {
public:
    // Reads the files in order, printing each warning as one line "lumarok: ..." on
    // `warnings` (may be null). Throws std::runtime_error naming the file and frame.
    IldaShow(const std::vector<std::filesystem::path>& files, const IldaShowSettings& settings,
             std::FILE* warnings);

    // The samples for a clock time, the beam starting at `beam` (drawing space): a
    // blank move to the frame's first point, as the path builder makes between
    // strokes, then the frame's points as the file has them, within kFrameSampleBudget.
    // A dark frame leaves the list empty. Returns where the beam ends. Allocates
    // nothing once the list has room for the budget.
    // Thread: any, for a show nobody changes meanwhile.
    glm::vec2 buildFrame(double clockSeconds, std::vector<LaserSample>& samples,
                         glm::vec2 beam) const;

    // Index into the list of the frame playing at the clock time; none while dark.
    [[nodiscard]] std::optional<std::size_t> frameAt(double clockSeconds) const;
    [[nodiscard]] std::size_t frameCount() const { return frames.size(); }
    // The clock time at which the last frame ends (one pass, loop or not).
    [[nodiscard]] double endSeconds() const;
    // "FILE frame N" for a frame of the list.
    [[nodiscard]] std::string describe(std::size_t frame) const;

    // Colour scale for later frames (the preview's pictures draw at 1).
    void setIntensity(float intensity);

private:
    struct Frame {
        std::size_t firstPoint;
        std::size_t pointCount;
        std::size_t file;
        std::size_t frameInFile;
    };

    IldaShowSettings settings;
    std::vector<std::string> fileNames;
    std::vector<Frame> frames;
    std::vector<IldaPoint> points;
    std::array<std::uint16_t, 256> levels{}; // a colour byte at the intensity
};

// Prints every frame and palette of the file, one line each, on `out`.
void listIldaFrames(const std::filesystem::path& file, std::FILE* out, std::FILE* warnings);

} // namespace lumarok

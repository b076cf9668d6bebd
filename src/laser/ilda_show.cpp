#include "laser/ilda_show.hpp"

#include "laser/laser_frame.hpp"
#include "laser/laser_path.hpp"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumarok {

namespace {

// The longest blank move into a frame from anywhere in the drawing space
// (4095 * sqrt 2 / kBlankStep, rounded, plus room): a frame's own points keep within
// the budget less this.
constexpr std::size_t kLeadInRoom = 200;
// Frame k starts at k / fps: a time computed that way may land a hair below it.
constexpr double kFrameEdgeTolerance = 1e-6;

glm::vec2 drawingPosition(const IldaPoint& point) {
    // The projector's axes run opposite to the drawing space's.
    return {4095.0f - static_cast<float>(point.x), 4095.0f - static_cast<float>(point.y)};
}

} // namespace

IldaShow::IldaShow(const std::vector<std::filesystem::path>& files,
                   const IldaShowSettings& settings_, std::FILE* warnings)
    : settings(settings_) {
    for (const std::filesystem::path& path : files) {
        IldaLimits limits;
        limits.maxPoints = kMaxIldaPoints - points.size();
        limits.maxFramePoints = kFrameSampleBudget - kLeadInRoom;
        IldaFile file = readIldaFile(path, limits);
        for (const std::string& line : file.warnings) {
            if (warnings != nullptr) {
                std::fprintf(warnings, "lumarok: %s\n", line.c_str());
            }
        }
        for (std::size_t k = 0; k < file.frames.size(); ++k) {
            frames.push_back({points.size() + file.frames[k].firstPoint, file.frames[k].pointCount,
                              fileNames.size(), k});
        }
        if (points.empty()) {
            points = std::move(file.points); // one file: no copy
        } else {
            points.insert(points.end(), file.points.begin(), file.points.end());
        }
        fileNames.push_back(path.string());
    }
    setIntensity(settings.intensity);
}

void IldaShow::setIntensity(float intensity) {
    settings.intensity = intensity;
    for (std::size_t c = 0; c < levels.size(); ++c) {
        levels[c] = detail::quantise(
            static_cast<float>(ildaLevelFromColor(static_cast<std::uint8_t>(c))) * intensity);
    }
}

std::optional<std::size_t> IldaShow::frameAt(double clockSeconds) const {
    const double k = std::floor(clockSeconds * settings.framesPerSecond + kFrameEdgeTolerance);
    if (!(k >= 0.0) || frames.empty()) { // before the start, or not a number
        return std::nullopt;
    }
    const auto count = static_cast<double>(frames.size());
    if (k < count) {
        return static_cast<std::size_t>(k);
    }
    if (!settings.loop || !std::isfinite(k)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(std::fmod(k, count));
}

double IldaShow::endSeconds() const {
    return static_cast<double>(frames.size()) / settings.framesPerSecond;
}

std::string IldaShow::describe(std::size_t frame) const {
    const Frame& f = frames.at(frame);
    return fileNames[f.file] + " frame " + std::to_string(f.frameInFile);
}

glm::vec2 IldaShow::buildFrame(double clockSeconds, std::vector<LaserSample>& samples,
                               glm::vec2 beam) const {
    samples.clear();
    if (samples.capacity() < kFrameSampleBudget) {
        samples.reserve(kFrameSampleBudget);
    }
    const std::optional<std::size_t> index = frameAt(clockSeconds);
    if (!index) {
        return beam;
    }
    const Frame& frame = frames[*index];
    const glm::vec2 start = drawingPosition(points[frame.firstPoint]);
    // A lead-in that would pass the budget (a beam far outside the drawing space)
    // takes longer steps.
    const double distance = glm::distance(glm::dvec2(beam), glm::dvec2(start));
    const auto room = static_cast<double>(kFrameSampleBudget - frame.pointCount);
    const float step = std::isfinite(distance) && distance / kBlankStep > room - 1.0
                           ? static_cast<float>(distance / (room - 1.0))
                           : kBlankStep;
    appendBlankMove(samples, beam, start, step, glm::vec3(0.0f), 0.0f);
    for (std::size_t i = 0; i < frame.pointCount; ++i) {
        const IldaPoint& p = points[frame.firstPoint + i];
        samples.push_back(LaserSample{p.x, p.y, levels[p.r], levels[p.g], levels[p.b]});
    }
    return drawingPosition(points[frame.firstPoint + frame.pointCount - 1]);
}

void listIldaFrames(const std::filesystem::path& path, std::FILE* out, std::FILE* warnings) {
    const IldaFile file = readIldaFile(path);
    for (const std::string& line : file.warnings) {
        std::fprintf(warnings, "lumarok: %s\n", line.c_str());
    }
    std::size_t frame = 0;
    for (const IldaSectionInfo& section : file.sections) {
        const bool palette = section.format == 2;
        const std::string what = palette ? "palette" : "frame " + std::to_string(frame++);
        std::fprintf(out, "%s: format %d, %zu %s, name \"%s\", company \"%s\", projector %d\n",
                     what.c_str(), section.format, section.records, palette ? "colours" : "points",
                     section.name.c_str(), section.company.c_str(), section.projector);
    }
}

} // namespace lumarok

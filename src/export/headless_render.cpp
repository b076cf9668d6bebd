#include "export/headless_render.hpp"

#include "clock/remap_time.hpp"
#include "export/replacing_file.hpp"
#include "export/sample_image.hpp"
#include "laser/ilda_show.hpp"
#include "laser/ilda_writer.hpp"
#include "laser/laser_frame.hpp"
#include "laser/projector_correction.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace lumarok {

RenderFormat renderFormatOf(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") {
        return RenderFormat::png;
    }
    if (extension == ".svg") {
        return RenderFormat::svg;
    }
    if (extension == ".json") {
        return RenderFormat::json;
    }
    if (extension == ".ild") {
        return RenderFormat::ilda;
    }
    throw std::invalid_argument("cannot tell the format of '" + file.string() +
                                "' (use .png, .svg, .json or .ild)");
}

namespace {

// Writes through a file beside the target, so that a failed write leaves the old one.
template <typename Write> void writeReplacing(const std::filesystem::path& file, Write&& write) {
    ReplacingFile output(file);
    try {
        write(output.temporaryPath());
    } catch (const std::runtime_error&) {
        throw std::runtime_error("cannot write " + file.string());
    }
    output.commit();
}

void writeText(const std::filesystem::path& file, const std::string& text) {
    writeReplacing(file, [&](const std::filesystem::path& temporary) {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            throw std::runtime_error("cannot write " + temporary.string());
        }
    });
}

void writePng(const std::vector<LaserSample>& samples, const std::filesystem::path& file) {
    writeReplacing(
        file, [&](const std::filesystem::path& temporary) { writePreviewPng(samples, temporary); });
}

// One ILDA frame; an empty one gets a blanked point where the beam stands.
void writeIldaFrame(std::vector<LaserSample>& samples, glm::vec2 beam,
                    const std::filesystem::path& file) {
    if (samples.empty()) {
        samples.push_back(darkSampleAt(beam)); // a frame needs one point
    }
    writeReplacing(file, [&](const std::filesystem::path& temporary) {
        IldaWriter writer(temporary, 1);
        writer.writeFrame(samples);
        writer.finish();
    });
}

nlohmann::json sampleList(const std::vector<LaserSample>& samples) {
    nlohmann::json list = nlohmann::json::array();
    for (const LaserSample& s : samples) {
        list.push_back({{"x", s.x}, {"y", s.y}, {"r", s.r}, {"g", s.g}, {"b", s.b}});
    }
    return list;
}

// The samples that projector is sent: corrected, through a guard that starts now.
void correct(const RenderRequest& request, std::vector<LaserSample>& samples) {
    if (request.correction == nullptr) {
        return;
    }
    std::vector<LaserSample> corrected;
    request.correction->apply(samples, corrected);
    StaticGuard guard(request.correction->staticGuard());
    (void)guard.apply(corrected, StaticGuard::Clock::time_point{});
    samples = std::move(corrected);
}

} // namespace

void renderHeadless(const ShowSources& sources, const RenderRequest& request) {
    const RenderFormat format = renderFormatOf(request.out);
    const double showTime = remapTime(sources.remapTable, request.clockSeconds);
    const ColorFrame frame = renderShowFrame(sources, showTime);
    std::vector<LaserSample> samples;
    const glm::vec2 beamStart{0.0f, 0.0f};
    switch (format) {
    case RenderFormat::png:
        buildPreviewPath(frame, samples, beamStart);
        correct(request, samples);
        writePng(samples, request.out);
        return;
    case RenderFormat::svg:
        buildPreviewPath(frame, samples, beamStart);
        correct(request, samples);
        writeText(request.out, previewSvg(samples));
        return;
    case RenderFormat::json: {
        const LaserPath path = buildLaserFramePath(frame, samples, beamStart, request.intensity);
        correct(request, samples);
        const nlohmann::json document{
            {"entry", sources.timeline.selectedIndex(showTime)},
            {"clockTime", request.clockSeconds},
            {"showTime", showTime},
            {"pointSpacing", path.pointSpacing},
            {"intensity", request.intensity},
            {"samples", sampleList(samples)},
        };
        writeText(request.out, document.dump() + "\n");
        return;
    }
    case RenderFormat::ilda: {
        const LaserPath path = buildLaserFramePath(frame, samples, beamStart, request.intensity);
        correct(request, samples);
        writeIldaFrame(samples, path.beamPosition, request.out);
        return;
    }
    }
}

void renderIldaHeadless(IldaShow& show, const RenderRequest& request) {
    const RenderFormat format = renderFormatOf(request.out);
    const bool picture = format == RenderFormat::png || format == RenderFormat::svg;
    show.setIntensity(picture ? kPreviewIntensity : request.intensity);
    std::vector<LaserSample> samples;
    const glm::vec2 beam = show.buildFrame(request.clockSeconds, samples, glm::vec2(0.0f));
    correct(request, samples);
    switch (format) {
    case RenderFormat::png:
        writePng(samples, request.out);
        return;
    case RenderFormat::svg:
        writeText(request.out, previewSvg(samples));
        return;
    case RenderFormat::json: {
        const std::optional<std::size_t> frame = show.frameAt(request.clockSeconds);
        const nlohmann::json document{
            {"frame", frame ? nlohmann::json(show.describe(*frame)) : nlohmann::json(nullptr)},
            {"clockTime", request.clockSeconds},
            {"intensity", request.intensity},
            {"samples", sampleList(samples)},
        };
        writeText(request.out, document.dump() + "\n");
        return;
    }
    case RenderFormat::ilda:
        writeIldaFrame(samples, beam, request.out);
        return;
    }
}

} // namespace lumarok

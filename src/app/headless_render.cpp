#include "app/headless_render.hpp"

#include "app/laser_frame.hpp"
#include "app/sample_image.hpp"
#include "clock/remap_time.hpp"
#include "laser/ilda_writer.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
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

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

nlohmann::json sampleList(const std::vector<LaserSample>& samples) {
    nlohmann::json list = nlohmann::json::array();
    for (const LaserSample& s : samples) {
        list.push_back({{"x", s.x}, {"y", s.y}, {"r", s.r}, {"g", s.g}, {"b", s.b}});
    }
    return list;
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
        writePreviewPng(samples, request.out);
        return;
    case RenderFormat::svg:
        buildPreviewPath(frame, samples, beamStart);
        writeText(request.out, previewSvg(samples));
        return;
    case RenderFormat::json: {
        const LaserPath path = buildLaserFramePath(frame, samples, beamStart, request.intensity);
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
        if (samples.empty()) {
            samples.push_back(darkSampleAt(path.beamPosition)); // a frame needs one point
        }
        IldaWriter writer(request.out, 1);
        writer.writeFrame(samples);
        writer.finish();
        return;
    }
    }
}

} // namespace lumarok

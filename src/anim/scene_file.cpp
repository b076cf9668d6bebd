#include "anim/data_file.hpp"
#include "anim/decoder.hpp"
#include "anim/json_number.hpp"
#include "anim/load_diagnostics.hpp"
#include "anim/scene.hpp"
#include "core/data_error.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

namespace lumarok {

namespace {

// The authoring grid reaches a little past the drawing space (its rows are
// offset); a point more than a whole drawing space away from it is a fault.
constexpr float kFarLow = -4095.0f;
constexpr float kFarHigh = 2.0f * 4095.0f;

bool farOff(glm::vec2 p) {
    return !(p.x >= kFarLow && p.x <= kFarHigh && p.y >= kFarLow && p.y <= kFarHigh);
}

// Such points still play (the path builder clamps them to the projector's range,
// the frame budget bounds their blank moves), so they are reported, once per scene.
void reportFarOff(const Scene& scene, const std::filesystem::path& file) {
    for (std::size_t k = 0; k < scene.frames.size(); ++k) {
        for (const Polyline& polyline : scene.frames[k]) {
            for (const glm::vec2 p : polyline) {
                if (farOff(p)) {
                    std::printf("%s: frame %zu: point (%g, %g) lies far outside the drawing "
                                "space (0 to 4095)\n",
                                file.string().c_str(), k, static_cast<double>(p.x),
                                static_cast<double>(p.y));
                    return;
                }
            }
        }
    }
}

} // namespace

Scene sceneFromJson(const nlohmann::json& value) {
    DecodeTotals totals;
    return sceneFromJson(value, totals);
}

Scene sceneFromJson(const nlohmann::json& value, DecodeTotals& totals) {
    using Json = nlohmann::json;
    if (!value.is_object()) {
        if (!value.is_null()) {
            // Same error as looking a key up in a non-object: type error 305.
            Json probe(value.type());
            probe["indices"];
        }
        return {};
    }
    const auto indices = value.find("indices");
    if (indices == value.end()) {
        return {};
    }
    if (!indices->is_array()) {
        indices->get<std::vector<std::int32_t>>(); // raises type error 302
    }
    const auto dataValue = value.find("data");
    if (dataValue == value.end() || !dataValue->is_array()) {
        (dataValue == value.end() ? Json() : *dataValue).get<std::vector<std::int32_t>>();
    }
    std::vector<std::int32_t> data;
    data.reserve(dataValue->size());
    for (const Json& element : *dataValue) {
        data.push_back(toInt32(element));
    }

    Scene scene;
    scene.frames.reserve(indices->size());
    for (const Json& offset : *indices) {
        // A faulty list still yields a frame, so frame numbers stay positions in "indices".
        try {
            scene.frames.push_back(decodeFrame(data, toInt32(offset), totals));
        } catch (const DataError& e) {
            throw DataError("frame " + std::to_string(scene.frames.size()) + ": " + e.what());
        }
    }
    return scene;
}

Scene readScene(std::istream& text) {
    DecodeTotals totals;
    return readScene(text, totals);
}

Scene readScene(std::istream& text, DecodeTotals& totals) {
    nlohmann::json value;
    text >> value; // reads one value; anything after it is ignored
    return sceneFromJson(value, totals);
}

Scene loadScene(const std::filesystem::path& file) {
    DecodeTotals totals;
    return loadScene(file, totals);
}

Scene loadScene(const std::filesystem::path& file, DecodeTotals& totals) {
    std::optional<std::string> text = readDataFile(file); // its errors name the file
    if (!text) {
        // A clip that silently draws nothing would hide a broken show until it plays.
        throw DataError(file.string() + ": cannot open the scene file");
    }
    const LoadDiagnostics diagnostics(file.string());
    try {
        std::istringstream in(std::move(*text));
        Scene scene = readScene(in, totals);
        reportFarOff(scene, file);
        return scene;
    } catch (const std::exception& e) {
        std::throw_with_nested(DataError(file.string() + ": " + e.what()));
    }
}

} // namespace lumarok

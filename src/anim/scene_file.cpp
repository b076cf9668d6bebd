#include "anim/data_error.hpp"
#include "anim/decoder.hpp"
#include "anim/json_number.hpp"
#include "anim/scene.hpp"

#include <nlohmann/json.hpp>

#include <fstream>

namespace lumarok {

Scene sceneFromJson(const nlohmann::json& value) {
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
        scene.frames.push_back(decodeFrame(data, toInt32(offset)));
    }
    return scene;
}

Scene readScene(std::istream& text) {
    nlohmann::json value;
    text >> value; // reads one value; anything after it is ignored
    return sceneFromJson(value);
}

Scene loadScene(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) {
        // A clip that silently draws nothing would hide a broken show until it plays.
        throw DataError(file.string() + ": cannot open the scene file");
    }
    try {
        return readScene(in);
    } catch (const std::exception& e) {
        std::throw_with_nested(DataError(file.string() + ": " + e.what()));
    }
}

} // namespace lumarok

// The same bytes as a split map and as a scene file.
#include "anim/animation.hpp"
#include "anim/scene.hpp"
#include "core/data_error.hpp"

#include "quiet_stdout.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lumarok::fuzz::QuietStdout quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        std::istringstream in(text);
        const nlohmann::json splitMap = lumarok::readSplitMap(in);
        std::vector<std::string> names = {"1F", ""};
        if (splitMap.is_object()) {
            for (const auto& item : splitMap.items()) {
                names.push_back(item.key());
            }
        }
        for (const std::string& name : names) {
            for (const std::int32_t part : {-1, 0, 1, 2, 3, 7, 2147483647}) {
                try {
                    lumarok::splitOffset(splitMap, name, part);
                } catch (const nlohmann::json::type_error&) {
                }
            }
        }
    } catch (const nlohmann::json::exception&) {
        // Every error of the JSON reader (parse, type, a number out of range) ends
        // loading with a message in the program, so here too.
    }

    try {
        std::istringstream in(text);
        const lumarok::Scene scene = lumarok::readScene(in);
        for (double t = 0.0; t < 0.04 * static_cast<double>(scene.frames.size()); t += 0.03) {
            scene.frameAt(t);
        }
    } catch (const nlohmann::json::exception&) {
    } catch (const lumarok::DataError&) { // a decoding bound passed
    }
    return 0;
}

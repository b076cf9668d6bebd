// Sequence.txt text, line by line and as a whole show with a small split map.
#include "anim/animation.hpp"
#include "anim/sequence_reader.hpp"
#include "core/data_error.hpp"

#include "quiet_stdout.hpp"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lumarok::fuzz::QuietStdout quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::istringstream lines(text);
    lumarok::FlipFlags flags;
    for (std::string line; std::getline(lines, line);) {
        try {
            const auto clip = lumarok::readSequenceLine(line, flags);
            if (clip && clip->baseName.empty()) {
                std::abort(); // a base name must start with a hex number
            }
        } catch (const std::invalid_argument&) {
        } catch (const std::out_of_range&) {
        }
    }

    std::istringstream sequence(text);
    const auto splitMap = nlohmann::json::parse(R"({"1F": [30, 40, 50], "2": [1, "x"], "3": 7})");
    try {
        const lumarok::Animation animation(
            lumarok::AnimationSource{sequence, "Sequence.txt", splitMap, "split_map.json",
                                     [](const std::string&) { return lumarok::Scene{}; }});
        for (const lumarok::SequenceEntry& entry : animation.sequence) {
            if (entry.sceneIndex < 0 ||
                static_cast<std::size_t>(entry.sceneIndex) >= animation.scenes.size()) {
                std::abort();
            }
        }
    } catch (const lumarok::DataError&) {
    }
    return 0;
}

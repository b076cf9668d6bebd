// decodeFrame over integer arrays built from the bytes: a byte below 0xFF is
// that small value (which covers every draw code, count and distance the format
// uses), 0xFF followed by four bytes is a raw 32-bit value.
#include "anim/decoder.hpp"
#include "anim/scene.hpp"
#include "core/data_error.hpp"

#include "quiet_stdout.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<std::int32_t> integers(const std::uint8_t* data, std::size_t size) {
    std::vector<std::int32_t> values;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 4 < size) {
            std::uint32_t raw = 0;
            std::memcpy(&raw, data + i + 1, sizeof raw);
            values.push_back(static_cast<std::int32_t>(raw));
            i += 4;
        } else {
            values.push_back(data[i]);
        }
    }
    return values;
}

void checkFinite(const lumarok::Frame& frame) {
    for (const lumarok::Polyline& polyline : frame) {
        for (const glm::vec2& p : polyline) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
                std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lumarok::fuzz::QuietStdout quiet;
    const std::vector<std::int32_t> values = integers(data, size);
    lumarok::Scene scene;
    const auto end = static_cast<std::int64_t>(values.size());
    try {
        for (std::int64_t offset = -1; offset <= end && offset < 96; ++offset) {
            scene.frames.push_back(lumarok::decodeFrame(values, offset));
            checkFinite(scene.frames.back());
        }
    } catch (const lumarok::DataError&) { // a decoding bound passed: loading would stop here
    }
    for (double t = -0.05; t < 0.04 * static_cast<double>(scene.frames.size()) + 0.05; t += 0.017) {
        checkFinite(scene.frameAt(t));
    }
    return 0;
}

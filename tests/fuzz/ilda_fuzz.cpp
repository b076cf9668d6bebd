// Reads arbitrary bytes as an ILDA file and checks what a player would take from them:
// every frame inside the point list and the frame bound, every point on the projector's
// axes, and a refusal only as std::runtime_error.
#include "laser/ilda_reader.hpp"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumarok::IldaLimits limits;
    limits.maxPoints = 200000;
    limits.maxFramePoints = 1000;
    try {
        const lumarok::IldaFile file =
            lumarok::parseIlda(std::span<const std::uint8_t>(data, size), "fuzz.ild", limits);
        std::size_t next = 0;
        for (const lumarok::IldaFrame& frame : file.frames) {
            if (frame.firstPoint != next || frame.pointCount == 0 ||
                frame.pointCount > limits.maxFramePoints) {
                std::abort();
            }
            next += frame.pointCount;
        }
        if (next != file.points.size() || file.frames.empty() || file.points.size() > size) {
            std::abort();
        }
        for (const lumarok::IldaPoint& point : file.points) {
            if (point.x > 4095 || point.y > 4095) {
                std::abort();
            }
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}

#pragma once

#include "core/frame_storage.hpp"
#include "core/shapes.hpp"

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <iosfwd>
#include <vector>

namespace lumarok {

// The decoded frames of one scene file; frame k belongs to scene-local time
// k * 0.04 s.
struct Scene {
    std::vector<Frame> frames;

    // The frame at a scene-local time, blended toward the next frame when the
    // two match closely. Empty when the time lies outside the scene's frames.
    Frame frameAt(double sceneSeconds) const;
    // The same appended to `out`, reusing its storage and the pools' (see
    // frame_storage.hpp).
    void appendFrameAt(double sceneSeconds, Frame& out, FramePools& pools) const;
};

struct DecodeTotals;

// Reads and decodes one scene file (through readDataFile). Every failure,
// including a missing file and a decoding bound passed, raises DataError naming
// the file. Points far outside the drawing space are reported once. `totals`
// carries the decoding bounds of a whole show across its scenes.
Scene loadScene(const std::filesystem::path& file);
Scene loadScene(const std::filesystem::path& file, DecodeTotals& totals);

// The same from a stream or a parsed value; these raise the JSON library's
// errors unwrapped, and DataError naming the frame for a decoding bound.
Scene readScene(std::istream& text);
Scene readScene(std::istream& text, DecodeTotals& totals);
Scene sceneFromJson(const nlohmann::json& value);
Scene sceneFromJson(const nlohmann::json& value, DecodeTotals& totals);

} // namespace lumarok

#pragma once

#include "effects/frame_storage.hpp"
#include "effects/shapes.hpp"

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
    // The same appended to `out`, reusing its storage (see frame_storage.hpp).
    void appendFrameAt(double sceneSeconds, Frame& out) const;
};

// Reads and decodes one scene file. A file that does not open gives a scene
// without frames (with a message on standard output); any other failure raises
// DataError naming the file.
Scene loadScene(const std::filesystem::path& file);

// The same from a stream or a parsed value; these raise the JSON library's
// errors unwrapped.
Scene readScene(std::istream& text);
Scene sceneFromJson(const nlohmann::json& value);

} // namespace lumarok

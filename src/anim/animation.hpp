#pragma once

#include "anim/scene.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace lumarok {

// One clip of the show: a range of a scene's frames played from a start time.
struct SequenceEntry {
    double startSeconds = 0.0;
    std::int32_t sceneIndex = 0;
    std::int32_t firstFrame = 0;
    std::int32_t lastFrame = 0; // smaller than firstFrame for a clip played backwards
    bool flipVertical = false;
    bool flipHorizontal = false;
};

// Everything an Animation is read from, so that it can be built without files.
struct AnimationSource {
    std::istream& sequenceText;
    std::string sequenceName; // names the text in errors
    nlohmann::json splitMap;  // null when there is none
    std::string splitMapName; // names the split map in errors
    std::function<Scene(const std::string& baseName)> loadScene;
};

// Bounds on a show's sequence, far above any authored show (the demo plays at most
// a few clips at once): more clips or points at one time than this are refused at
// start-up, which keeps every sampled frame bounded.
inline constexpr std::int64_t kMaxActiveClips = 64;
inline constexpr std::int64_t kMaxActivePoints = 262'144; // largest frames of the clips summed

class Animation {
public:
    // Loads ./data/split_map.json, ./data/Sequence.txt and the scene files it names,
    // each through readDataFile. A Sequence.txt without a single clip is refused.
    Animation();
    explicit Animation(const std::filesystem::path& dataDir);
    explicit Animation(const AnimationSource& source);

    std::vector<SequenceEntry> sequence;
    std::vector<Scene> scenes;

private:
    void readSequence(const AnimationSource& source);
};

// The most polylines a sampled frame can hold: the largest frames of the clips that
// play at one time, summed.
[[nodiscard]] std::size_t largestPolylineCount(const Animation& animation);

// Raises DataError naming the sequence where the bounds above are passed.
void checkSimultaneousClips(const Animation& animation, const std::string& sequenceName);

// The split map of a data directory: null when the file does not exist, DataError
// naming the file on malformed JSON.
nlohmann::json loadSplitMap(const std::filesystem::path& file);
nlohmann::json readSplitMap(std::istream& text);

// Frames before part `part` of a scene: the sum of its first `part` split lengths.
std::int64_t splitOffset(const nlohmann::json& splitMap, const std::string& baseName,
                         std::int32_t part);

} // namespace lumarok

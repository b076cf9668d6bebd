#include "anim/animation.hpp"

#include "anim/data_file.hpp"
#include "anim/decoder.hpp"
#include "anim/json_number.hpp"
#include "anim/load_diagnostics.hpp"
#include "anim/sequence_reader.hpp"
#include "core/data_error.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace lumarok {

namespace {

using Json = nlohmann::json;

// The scene file of a base name. Names that could leave the data directory are
// refused rather than opened.
std::filesystem::path sceneFile(const std::filesystem::path& dataDir, const std::string& baseName) {
    if (baseName.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
        throw std::invalid_argument("base name '" + baseName + "' is not a plain file name");
    }
    return dataDir / ("script" + baseName + ".json");
}

std::int32_t frameNumber(std::int32_t value, std::int64_t offset) {
    const std::int64_t frame = value + offset;
    if (frame < std::numeric_limits<std::int32_t>::min() ||
        frame > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("frame number out of range");
    }
    return static_cast<std::int32_t>(frame);
}

// Upper bound of the points one clip of the scene draws at a time.
std::int64_t largestFramePoints(const Scene& scene) {
    std::int64_t largest = 0;
    for (const Frame& frame : scene.frames) {
        std::int64_t points = 0;
        for (const Polyline& polyline : frame) {
            points += static_cast<std::int64_t>(polyline.size());
        }
        largest = std::max(largest, points);
    }
    return largest;
}

} // namespace

namespace {

// The starts and ends of the clips in time order, each with its scene (none for a
// clip whose scene does not exist). A clip plays while start < t < start + (frames)
// * 0.04 s; at one time the clips that end there are gone before those that start
// there arrive.
struct ClipEvent {
    double seconds;
    int change; // -1 for an end, +1 for a start, so ends sort first
    std::optional<std::size_t> scene;
};

std::vector<ClipEvent> clipEvents(const Animation& animation) {
    std::vector<ClipEvent> events;
    events.reserve(2 * animation.sequence.size());
    for (const SequenceEntry& entry : animation.sequence) {
        const std::int64_t frames =
            std::llabs(static_cast<std::int64_t>(entry.lastFrame) - entry.firstFrame) + 1;
        std::optional<std::size_t> scene;
        if (entry.sceneIndex >= 0 &&
            static_cast<std::size_t>(entry.sceneIndex) < animation.scenes.size()) {
            scene = static_cast<std::size_t>(entry.sceneIndex);
        }
        events.push_back({entry.startSeconds, 1, scene});
        events.push_back({entry.startSeconds + static_cast<double>(frames) * 0.04, -1, scene});
    }
    std::sort(events.begin(), events.end(), [](const ClipEvent& a, const ClipEvent& b) {
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.change < b.change;
    });
    return events;
}

} // namespace

std::size_t largestPolylineCount(const Animation& animation) {
    std::vector<std::size_t> scenePolylines;
    scenePolylines.reserve(animation.scenes.size());
    for (const Scene& scene : animation.scenes) {
        std::size_t largest = 0;
        for (const Frame& frame : scene.frames) {
            largest = std::max(largest, frame.size());
        }
        scenePolylines.push_back(largest);
    }
    std::size_t polylines = 0;
    std::size_t largest = 0;
    for (const ClipEvent& event : clipEvents(animation)) {
        const std::size_t count = event.scene ? scenePolylines[*event.scene] : 0;
        polylines = event.change > 0 ? polylines + count : polylines - count;
        largest = std::max(largest, polylines);
    }
    return largest;
}

void checkSimultaneousClips(const Animation& animation, const std::string& sequenceName) {
    std::vector<std::int64_t> scenePoints;
    scenePoints.reserve(animation.scenes.size());
    for (const Scene& scene : animation.scenes) {
        scenePoints.push_back(largestFramePoints(scene));
    }
    const auto at = [](double seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s", seconds);
        return std::string(text);
    };
    std::int64_t clips = 0;
    std::int64_t points = 0;
    for (const ClipEvent& event : clipEvents(animation)) {
        clips += event.change;
        points += event.change * (event.scene ? scenePoints[*event.scene] : 0);
        if (clips > kMaxActiveClips) {
            throw DataError(sequenceName + ": " + std::to_string(clips) +
                            " clips play at once at " + at(event.seconds) +
                            ", more than the limit of " + std::to_string(kMaxActiveClips));
        }
        if (points > kMaxActivePoints) {
            throw DataError(sequenceName + ": the clips playing at " + at(event.seconds) +
                            " draw up to " + std::to_string(points) +
                            " points at once, more than the limit of " +
                            std::to_string(kMaxActivePoints));
        }
    }
}

Json readSplitMap(std::istream& text) {
    Json value;
    text >> value; // reads one value; anything after it is ignored
    return value;
}

Json loadSplitMap(const std::filesystem::path& file) {
    std::optional<std::string> text = readDataFile(file);
    if (!text) {
        return nullptr;
    }
    try {
        std::istringstream in(std::move(*text));
        return readSplitMap(in);
    } catch (const std::exception& e) {
        std::throw_with_nested(DataError(file.string() + ": " + e.what()));
    }
}

std::int64_t splitOffset(const Json& splitMap, const std::string& baseName, std::int32_t part) {
    if (part <= 0) {
        return 0;
    }
    // The errors are the ones the library raises for a lookup by key and index
    // followed by a conversion to int; the lookups themselves never insert or grow.
    const Json* lengths = nullptr;
    if (splitMap.is_object()) {
        const auto found = splitMap.find(baseName);
        lengths = found == splitMap.end() ? nullptr : &*found;
    } else if (!splitMap.is_null()) {
        Json probe(splitMap.type());
        probe[baseName]; // type error 305
    }
    if (lengths != nullptr && !lengths->is_array() && !lengths->is_null()) {
        Json probe(lengths->type());
        probe[0]; // type error 305
    }
    std::int64_t offset = 0;
    for (std::int32_t i = 0; i < part; ++i) {
        if (lengths == nullptr || !lengths->is_array() ||
            static_cast<std::size_t>(i) >= lengths->size()) {
            Json().get<std::int32_t>(); // type error 302: "type must be number, but is null"
        }
        offset += toInt32((*lengths)[static_cast<std::size_t>(i)]);
    }
    return offset;
}

Animation::Animation() : Animation(std::filesystem::path("./data")) {}

Animation::Animation(const std::filesystem::path& dataDir) {
    const std::filesystem::path splitMapFile = dataDir / "split_map.json";
    Json splitMap = loadSplitMap(splitMapFile);
    const std::filesystem::path sequenceFile = dataDir / "Sequence.txt";
    std::optional<std::string> text = readDataFile(sequenceFile);
    if (!text) {
        return;
    }
    std::istringstream sequenceText(std::move(*text));
    DecodeTotals totals; // the decoding bounds hold for all scenes together
    readSequence(
        AnimationSource{sequenceText, sequenceFile.string(), std::move(splitMap),
                        splitMapFile.string(), [&dataDir, &totals](const std::string& baseName) {
                            return lumarok::loadScene(sceneFile(dataDir, baseName), totals);
                        }});
    if (sequence.empty()) {
        // Not one clip read: damage or the wrong file, never a show.
        throw DataError(sequenceFile.string() + ": no clip ('anim' line) in the file");
    }
}

Animation::Animation(const AnimationSource& source) {
    readSequence(source);
}

void Animation::readSequence(const AnimationSource& source) {
    const LoadDiagnostics diagnostics(source.sequenceName);
    std::map<std::string, std::int32_t> registry;
    FlipFlags flags;
    std::string line;
    for (std::size_t lineNumber = 1; std::getline(source.sequenceText, line); ++lineNumber) {
        const std::string where = source.sequenceName + ":" + std::to_string(lineNumber) + ": ";
        try {
            const std::optional<ClipLine> clip = readSequenceLine(line, flags);
            if (!clip) {
                continue;
            }
            std::int64_t offset = 0;
            try {
                offset = splitOffset(source.splitMap, clip->baseName, clip->part);
            } catch (const std::exception& e) {
                std::throw_with_nested(DataError(where + source.splitMapName + ": " + e.what()));
            }
            SequenceEntry entry;
            entry.startSeconds = clip->startMs / 1000.0;
            entry.firstFrame = frameNumber(clip->from, offset);
            entry.lastFrame = frameNumber(clip->to, offset);
            entry.flipVertical = flags.vertical;
            entry.flipHorizontal = flags.horizontal;
            const auto known = registry.find(clip->baseName);
            if (known != registry.end()) {
                entry.sceneIndex = known->second;
            } else {
                entry.sceneIndex = static_cast<std::int32_t>(scenes.size());
                scenes.push_back(source.loadScene(clip->baseName));
                registry.emplace(clip->baseName, entry.sceneIndex);
            }
            sequence.push_back(entry);
        } catch (const DataError&) {
            throw; // already names its file
        } catch (const std::exception& e) {
            std::throw_with_nested(DataError(where + e.what()));
        }
    }
    if (source.sequenceText.bad()) {
        // A stream swallows the failure of a line it cannot hold, out of memory included.
        throw DataError(source.sequenceName + ": reading stopped early");
    }
    checkSimultaneousClips(*this, source.sequenceName);
}

} // namespace lumarok

#pragma once

#include "core/remap_table.hpp"
#include "core/shapes.hpp"
#include "show/show_timeline.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace lumarok {

class Animation;
class AudioCapture;
class OscTimeProvider;
class TimeProvider;

// Show time at which the mask outline is taken from the animation.
inline constexpr double kMaskSampleTime = 2.039;
// A larger mask outline is refused at start-up: the mask effect's work grows with
// its points times the points drawn (the demo's mask has about 40).
inline constexpr std::size_t kMaxMaskPoints = 1024;

// The show's process-wide objects, owned here for one run. Created in start-up
// order; released in shutdown order: animation, time provider, remap table,
// timeline, audio capture (after the effects that hold it), mask.
class ShowObjects final {
public:
    ShowObjects();
    ~ShowObjects();
    ShowObjects(const ShowObjects&) = delete;
    ShowObjects& operator=(const ShowObjects&) = delete;

    // Start-up steps 2 to 6 from the show folder. Without audio (headless rendering) no
    // capture exists and the audio-reactive effects see silence. Throws on bad data.
    // announceAudio: the capture says on stderr which source it records.
    void load(const std::filesystem::path& showFolder, bool withAudio,
              const std::string& audioSource, bool announceAudio = true);
    void shutdown();

    std::unique_ptr<AudioCapture> gAudioCapture;
    std::unique_ptr<Animation> gAnimation;
    std::unique_ptr<RemapTable> gRemapTable;
    Polyline mask;
    std::unique_ptr<ShowTimeline> gTimeline;
    std::unique_ptr<TimeProvider> gTimeProvider;
    OscTimeProvider* oscClock = nullptr; // gTimeProvider when it follows OSC, else none
};

// The mask outline: the frame's first polyline; none in the frame gives an empty mask.
[[nodiscard]] Polyline maskFromFrame(const Frame& frame);

} // namespace lumarok

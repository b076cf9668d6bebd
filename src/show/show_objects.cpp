#include "show/show_objects.hpp"

#include "anim/animation.hpp"
#include "anim/remap_loader.hpp"
#include "anim/sampler.hpp"
#include "audio/audio_capture.hpp"
#include "clock/time_provider.hpp"
#include "core/data_error.hpp"
#include "show/show_script.hpp"

#include <string>

namespace lumarok {

ShowObjects::ShowObjects() = default;

ShowObjects::~ShowObjects() {
    shutdown();
}

void ShowObjects::load(const std::filesystem::path& showFolder, bool withAudio,
                       const std::string& audioSource, bool announceAudio) {
    if (withAudio) {
        gAudioCapture = std::make_unique<AudioCapture>(audioSource, announceAudio);
    }
    gAnimation = std::make_unique<Animation>(showFolder);
    gRemapTable = std::make_unique<RemapTable>(loadRemapTable(showFolder / "remap.txt"));
    mask = maskFromFrame(sampleAnimation(*gAnimation, kMaskSampleTime));
    if (mask.size() > kMaxMaskPoints) {
        // The mask effect tests every point drawn against every mask segment.
        throw DataError("Sequence.txt: the mask (the first outline at 2.039 s) has " +
                        std::to_string(mask.size()) + " points, more than the limit of " +
                        std::to_string(kMaxMaskPoints));
    }
    gTimeline = std::make_unique<ShowTimeline>(makeShowTimeline(mask, gAudioCapture.get()));
}

void ShowObjects::shutdown() {
    gAnimation.reset();
    oscClock = nullptr;
    gTimeProvider.reset();
    gRemapTable.reset();
    gTimeline.reset();
    gAudioCapture.reset();
    mask = Polyline{};
}

Polyline maskFromFrame(const Frame& frame) {
    return frame.empty() ? Polyline{} : frame.front();
}

} // namespace lumarok

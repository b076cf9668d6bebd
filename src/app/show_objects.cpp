#include "app/show_objects.hpp"

#include "anim/animation.hpp"
#include "anim/remap_loader.hpp"
#include "anim/sampler.hpp"
#include "app/show_folder.hpp"
#include "app/show_script.hpp"
#include "audio/audio_capture.hpp"
#include "clock/time_provider.hpp"

namespace lumarok {

ShowObjects::ShowObjects() = default;

ShowObjects::~ShowObjects() {
    shutdown();
}

void ShowObjects::load(bool withAudio, const std::string& audioSource) {
    if (withAudio) {
        gAudioCapture = std::make_unique<AudioCapture>(audioSource);
    }
    const std::filesystem::path folder = defaultShowFolder();
    gAnimation = std::make_unique<Animation>(folder);
    gRemapTable = std::make_unique<RemapTable>(loadRemapTable(folder / "remap.txt"));
    mask = maskFromFrame(sampleAnimation(*gAnimation, kMaskSampleTime));
    gTimeline = std::make_unique<ShowTimeline>(makeShowTimeline(mask, gAudioCapture.get()));
}

void ShowObjects::shutdown() {
    gAnimation.reset();
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

// The cost of one laser frame (sample, effect, path) for each entry of the show's
// script on the demo show in data/, with silent audio. Each entry is measured at
// 0.1 s after its start, with its own effect, including the entries that another
// entry shadows.
#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "laser/show_frame.hpp"
#include "show/effect_kind.hpp"
#include "show/show_objects.hpp"
#include "show/show_script.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>

namespace lumarok {
namespace {

struct DemoShow {
    Animation animation{std::filesystem::path(LUMAROK_SOURCE_DIR) / "data"};
    ShowTimeline timeline{
        makeShowTimeline(maskFromFrame(sampleAnimation(animation, kMaskSampleTime)), nullptr)};
};

const DemoShow& demoShow() {
    static const DemoShow show;
    return show;
}

void laserFrame(benchmark::State& state, std::size_t index) {
    const DemoShow& show = demoShow();
    const TimelineEntry& entry = show.timeline.entry(index);
    const double showTime = entry.startMs / 1000.0 + 0.1;
    // Buffers kept from frame to frame, as the rendering loops keep them.
    std::vector<LaserSample> samples;
    ShowFrameBuffers buffers;
    float pointSpacing = 0.0f;
    for (auto _ : state) {
        sampleAnimation(show.animation, showTime, buffers.animation, buffers.storage.pools());
        entry.effect->apply(buffers.animation, static_cast<float>(showTime), buffers.drawn,
                            buffers.storage);
        pointSpacing =
            buildLaserFramePath(buffers.drawn, samples, {0.0f, 0.0f}, 0.1f, buffers.pathLengths)
                .pointSpacing;
        benchmark::DoNotOptimize(samples.data());
    }
    state.counters["samples"] = static_cast<double>(samples.size());
    state.counters["spacing"] = pointSpacing;
    state.counters["start_ms"] = static_cast<double>(entry.startMs); // for the report's renders
}

const bool registered = [] {
    const DemoShow& show = demoShow();
    for (std::size_t i = 0; i < show.timeline.size(); ++i) {
        char name[96];
        std::snprintf(name, sizeof name, "LaserFrame/%03zu_%s", i,
                      effectClassName(*show.timeline.entry(i).effect).c_str());
        benchmark::RegisterBenchmark(name, laserFrame, i)->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace
} // namespace lumarok

// Prints, for each entry of the demo show's script, the heap allocations of one
// laser frame (sample the animation, apply the entry's effect, build the laser path)
// in two ways: with fresh frames (the stages' working storage kept), and with
// buffers kept from frame to frame. Each entry runs kFrames frames 1/30 s apart from
// 0.1 s after its start, with silent audio; "steady" is the largest count of any
// frame after the first kWarmUp. The kept buffers live through all entries, as a
// rendering loop keeps them through the show, and the frame storage is prepared once
// before the first frame as the loops prepare it. Usage: lumarok_frame_allocs [DATA_DIR]
#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "laser/show_frame.hpp"
#include "show/effect_kind.hpp"
#include "show/show_objects.hpp"
#include "show/show_script.hpp"
#include "status/laser_status.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

std::atomic<std::size_t> allocations{0};

void* countedAllocation(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

// Every allocation of this program passes here; the aligned and nothrow forms
// of the library fall back on these.
void* operator new(std::size_t size) {
    return countedAllocation(size);
}
void* operator new[](std::size_t size) {
    return countedAllocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace lumarok {
namespace {

constexpr int kFrames = 60;
constexpr int kWarmUp = 10;

struct Counts {
    std::size_t first = 0;
    std::size_t steady = 0; // worst frame after the warm-up
    double mean = 0.0;      // over the frames after the warm-up
};

template <typename RenderFrame> Counts countFrames(double startTime, RenderFrame&& render) {
    Counts counts;
    std::size_t total = 0;
    for (int i = 0; i < kFrames; ++i) {
        const std::size_t before = allocations.load(std::memory_order_relaxed);
        render(startTime + i / 30.0);
        const std::size_t used = allocations.load(std::memory_order_relaxed) - before;
        if (i == 0) {
            counts.first = used;
        }
        if (i >= kWarmUp) {
            counts.steady = std::max(counts.steady, used);
            total += used;
        }
    }
    counts.mean = static_cast<double>(total) / (kFrames - kWarmUp);
    return counts;
}

int run(const char* dataDir) {
    const Animation animation{std::filesystem::path(dataDir)};
    const ShowTimeline timeline{
        makeShowTimeline(maskFromFrame(sampleAnimation(animation, kMaskSampleTime)), nullptr)};

    // The kept buffers first, through the whole show as a rendering loop runs it; the
    // fresh frames after, since frames that are dropped take their storage with them.
    std::vector<Counts> buffered;
    ShowFrameBuffers buffers;
    prepareFrameStorage(animation, buffers.storage.pools());
    std::vector<LaserSample> kept;
    for (std::size_t index = 0; index < timeline.size(); ++index) {
        const TimelineEntry& entry = timeline.entry(index);
        buffered.push_back(countFrames(entry.startMs / 1000.0 + 0.1, [&](double t) {
            sampleAnimation(animation, t, buffers.animation, buffers.storage.pools());
            entry.effect->apply(buffers.animation, static_cast<float>(t), buffers.drawn,
                                buffers.storage);
            buildLaserFramePath(buffers.drawn, kept, {0.0f, 0.0f}, 0.1f, buffers.pathLengths);
        }));
    }

    std::printf("| entry | effect | fresh frames: allocs/frame | buffers: first frame | "
                "buffers: steady max | buffers: steady mean |\n|---:|---|---:|---:|---:|---:|\n");
    std::vector<double> fresh;
    std::size_t worstSteady = 0;
    std::size_t allocatingEntries = 0;
    // Fresh frames each time; the working storage of the stages (pools, the effects'
    // working frames, the path's measures) is kept, as any loop keeps it.
    EffectStorage working;
    prepareFrameStorage(animation, working.pools());
    std::vector<float> lengths;
    for (std::size_t index = 0; index < timeline.size(); ++index) {
        const TimelineEntry& entry = timeline.entry(index);
        std::vector<LaserSample> samples;
        const Counts returning = countFrames(entry.startMs / 1000.0 + 0.1, [&](double t) {
            Frame frame;
            sampleAnimation(animation, t, frame, working.pools());
            ColorFrame drawn;
            entry.effect->apply(frame, static_cast<float>(t), drawn, working);
            buildLaserFramePath(drawn, samples, {0.0f, 0.0f}, 0.1f, lengths);
        });
        fresh.push_back(returning.mean);
        const Counts& counts = buffered[index];
        worstSteady = std::max(worstSteady, counts.steady);
        allocatingEntries += counts.steady > 0 ? 1 : 0;
        std::printf("| %zu | %s | %.1f | %zu | %zu | %.2f |\n", index,
                    effectClassName(*entry.effect).c_str(), returning.mean, counts.first,
                    counts.steady, counts.mean);
    }
    std::sort(fresh.begin(), fresh.end());
    std::printf("\nfresh frames: median %.1f allocations per frame; buffers: worst steady "
                "frame %zu allocations, %zu of %zu entries allocate in a steady frame\n",
                fresh[fresh.size() / 2], worstSteady, allocatingEntries, timeline.size());
    return 0;
}

} // namespace
} // namespace lumarok

int main(int argc, char** argv) {
    try {
        return lumarok::run(argc > 1 ? argv[1] : LUMAROK_SOURCE_DIR "/data");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok_frame_allocs: %s\n", e.what());
        return 1;
    }
}

// Exporting the whole demo show (data/) as an ILDA file at 30 frames/s, with silent
// audio; reports the frame count and the file size beside the time.
#include "anim/animation.hpp"
#include "anim/remap_loader.hpp"
#include "anim/sampler.hpp"
#include "export/ilda_export.hpp"
#include "show/show_objects.hpp"
#include "show/show_script.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace lumarok {
namespace {

void wholeDemoShowAt30Fps(benchmark::State& state) {
    const std::filesystem::path data = std::filesystem::path(LUMAROK_SOURCE_DIR) / "data";
    const Animation animation(data);
    const RemapTable remap = loadRemapTable(data / "remap.txt");
    const ShowTimeline timeline(
        makeShowTimeline(maskFromFrame(sampleAnimation(animation, kMaskSampleTime)), nullptr));
    const ShowSources sources{animation, remap, timeline};
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / "lumarok_bench_show.ild";
    IldaExportRequest request;
    request.out = out;
    for (auto _ : state) {
        exportIlda(sources, request, nullptr);
    }
    const double end = clockTimeForShowTime(remap, showEndSeconds(sources));
    state.counters["frames"] = static_cast<double>(ildaFrameCount(0.0, end, 30.0));
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(out)) / 1e6;
    std::filesystem::remove(out);
}
BENCHMARK(wholeDemoShowAt30Fps)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace lumarok

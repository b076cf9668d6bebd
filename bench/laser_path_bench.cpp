#include "laser/laser_path.hpp"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// A busy frame: `strokes` circles of 64 points spread over the drawing space.
lumarok::ColorFrame circles(int strokes) {
    lumarok::ColorFrame frame;
    for (int s = 0; s < strokes; ++s) {
        lumarok::ColorPolyline circle;
        const float cx = 400.0f + static_cast<float>((s * 733) % 3300);
        const float cy = 400.0f + static_cast<float>((s * 389) % 3300);
        for (int i = 0; i <= 64; ++i) {
            const float a = static_cast<float>(i) * 6.2831853f / 64.0f;
            circle.push_back(lumarok::ColorPoint{
                {cx + 300.0f * std::cos(a), cy + 300.0f * std::sin(a)}, {0.2f, 0.5f, 1.0f}});
        }
        frame.push_back(std::move(circle));
    }
    return frame;
}

void BM_BuildLaserPath(benchmark::State& state) {
    const lumarok::ColorFrame frame = circles(static_cast<int>(state.range(0)));
    std::vector<lumarok::LaserSample> samples;
    glm::vec2 beam{0.0f, 0.0f};
    for (auto _ : state) {
        beam = lumarok::buildLaserPath(frame, samples, beam, 25.0f, 30.0f, {0, 0, 0}, 0.1f);
        benchmark::DoNotOptimize(samples.data());
    }
    state.counters["samples"] = static_cast<double>(samples.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples.size()));
}
BENCHMARK(BM_BuildLaserPath)->Arg(4)->Arg(16)->Arg(40);

} // namespace

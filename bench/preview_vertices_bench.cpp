#include "preview/preview_vertices.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// The CPU side of one preview redraw after the path builder: turning a busy
// frame's samples into line vertices, with the vertex list reused as in the window.
void BM_BuildPreviewSegments(benchmark::State& state) {
    std::vector<lumarok::LaserSample> samples;
    for (int i = 0; i < state.range(0); ++i) {
        const auto v = static_cast<std::uint16_t>((i * 37) % 4096);
        samples.push_back({v, static_cast<std::uint16_t>(4095 - v), v, 0, 2048});
    }
    std::vector<lumarok::PreviewVertex> vertices;
    for (auto _ : state) {
        lumarok::buildPreviewSegments(samples, vertices);
        benchmark::DoNotOptimize(vertices.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildPreviewSegments)->Arg(500)->Arg(2000)->Arg(8000);

} // namespace

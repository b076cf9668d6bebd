// Per-frame cost of the effect geometry on an animation-sized frame: 2,000 points
// in 10 strokes that wander across a 200-point closed mask.
#include "effects/geometry.hpp"
#include "effects/mask_effect.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

using lumarok::Frame;
using lumarok::kCentre;
using lumarok::Polyline;

// A wavy closed outline (last point repeats the first), like a traced character.
Polyline makeMask(int points) {
    Polyline mask;
    for (int i = 0; i < points; ++i) {
        const float angle = 2.0f * std::numbers::pi_v<float> * static_cast<float>(i) /
                            static_cast<float>(points - 1);
        const float radius = 1400.0f + 300.0f * std::sin(7.0f * angle);
        mask.emplace_back(kCentre + radius * std::cos(angle), kCentre + radius * std::sin(angle));
    }
    mask.back() = mask.front();
    return mask;
}

// Strokes of 200 points each, sweeping across the whole drawing space so that many
// of their segments cross the mask outline.
Frame makeFrame(int strokes, int pointsPerStroke) {
    Frame frame;
    for (int s = 0; s < strokes; ++s) {
        Polyline& stroke = frame.emplace_back();
        for (int i = 0; i < pointsPerStroke; ++i) {
            const float t = static_cast<float>(i) / static_cast<float>(pointsPerStroke - 1);
            const float y = 300.0f + 350.0f * static_cast<float>(s) + 250.0f * std::sin(20.0f * t);
            stroke.emplace_back(100.0f + 3900.0f * t, y);
        }
    }
    return frame;
}

const Polyline gMask = makeMask(200);
const Frame gFrame = makeFrame(10, 200);

void BM_ResampleFrame(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(lumarok::resampleFrame(gFrame, count));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ResampleFrame)->Arg(100)->Arg(1000)->Arg(2000);

void BM_ClipPolylineToMask(benchmark::State& state) {
    for (auto _ : state) {
        for (const Polyline& stroke : gFrame) {
            benchmark::DoNotOptimize(lumarok::clipPolylineToMask(stroke, gMask, true));
        }
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_ClipPolylineToMask);

// The same with the mask prepared once and the pieces' buffer kept, as MaskEffect does.
void BM_ClipPolylineToMaskPrepared(benchmark::State& state) {
    const lumarok::MaskIndex index(gMask);
    Frame pieces;
    lumarok::GeometryScratch scratch;
    for (auto _ : state) {
        lumarok::clearFrame(pieces, scratch.pools);
        for (const Polyline& stroke : gFrame) {
            lumarok::clipPolylineToMask(stroke, index, true, pieces, scratch);
        }
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_ClipPolylineToMaskPrepared);

void BM_MaskEffectApply(benchmark::State& state) {
    const lumarok::MaskEffect effect({0, 1, 0}, {0, 0, 1}, 0.95f, gMask);
    for (auto _ : state) {
        benchmark::DoNotOptimize(effect.apply(gFrame, 2.04f));
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_MaskEffectApply);

} // namespace

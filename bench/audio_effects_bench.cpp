// Per-frame cost of the time-driven and audio-reactive effects on a 2,000-point
// frame whose first stroke is a closed outline round the centre (so the waveform
// and the circle are clipped against it). Audio is silence (no capture): the
// shapes and their clipping cost the same whatever the samples hold.
#include "effects/circle_effect.hpp"
#include "effects/disturb_effect.hpp"
#include "effects/inner_circle_effect.hpp"
#include "effects/line_effect.hpp"
#include "effects/plasma_effect.hpp"
#include "effects/tunnel_effect.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

using lumarok::Frame;
using lumarok::kCentre;
using lumarok::Polyline;

Frame makeFrame() {
    Frame frame;
    // A closed wavy outline of 500 points that the waveform crosses and that
    // reaches out past the circle in places.
    Polyline& outline = frame.emplace_back();
    for (int i = 0; i < 500; ++i) {
        const float angle = 2.0f * std::numbers::pi_v<float> * static_cast<float>(i) / 499.0f;
        const float radius = 1300.0f + 400.0f * std::sin(5.0f * angle);
        outline.emplace_back(kCentre + radius * std::cos(angle),
                             kCentre + radius * std::sin(angle));
    }
    outline.back() = outline.front();
    // Three more strokes of 500 points across the drawing space.
    for (int s = 0; s < 3; ++s) {
        Polyline& stroke = frame.emplace_back();
        for (int i = 0; i < 500; ++i) {
            const float t = static_cast<float>(i) / 499.0f;
            stroke.emplace_back(200.0f + 3700.0f * t, 800.0f + 1200.0f * static_cast<float>(s) +
                                                          300.0f * std::sin(9.0f * t));
        }
    }
    return frame;
}

const Frame gFrame = makeFrame();

template <typename EffectType> void runEffect(benchmark::State& state, const EffectType& effect) {
    float time = 0.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(effect.apply(gFrame, time));
        time += 0.02f;
    }
}

void BM_TunnelEffect(benchmark::State& state) {
    runEffect(state, lumarok::TunnelEffect({1.0f, 1.0f, 0.95f}, 15.0f, 3.0f));
}
BENCHMARK(BM_TunnelEffect);

void BM_PlasmaEffect(benchmark::State& state) {
    runEffect(state, lumarok::PlasmaEffect(1000));
}
BENCHMARK(BM_PlasmaEffect);

void BM_InnerCircleEffect(benchmark::State& state) {
    runEffect(state, lumarok::InnerCircleEffect(64.0f, -8.0f, 1000, {0, 0, 1}, {1, 0, 0}));
}
BENCHMARK(BM_InnerCircleEffect);

void BM_LineEffect(benchmark::State& state) {
    runEffect(state, lumarok::LineEffect(0.1f, {0, 1, 1}, {0, 1, 1}, {1, 0, 0}, nullptr));
}
BENCHMARK(BM_LineEffect);

void BM_CircleEffect(benchmark::State& state) {
    runEffect(state, lumarok::CircleEffect(1500.0f, {0, 1, 0}, {0, 0, 1}, nullptr));
}
BENCHMARK(BM_CircleEffect);

void BM_DisturbEffect(benchmark::State& state) {
    runEffect(state, lumarok::DisturbEffect(2000.0f, {0.5f, 1.0f, 0.5f}, 100, nullptr));
}
BENCHMARK(BM_DisturbEffect);

} // namespace

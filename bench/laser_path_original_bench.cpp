// The laser path builder as it was before it measured lengths once, walked reversed
// strokes by index and wrote samples in place (commit d48ffbf), kept here for
// comparison only: the same frames built by both in one run, the outputs checked
// byte for byte first. The old sample conversion lived in another file and was
// never inlined; noinline keeps it so here.
#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "laser/laser_path.hpp"
#include "laser/show_frame.hpp"
#include "show/show_objects.hpp"
#include "show/show_script.hpp"

#include <benchmark/benchmark.h>
#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

namespace lumarok {
namespace original {
namespace {

constexpr float kProjectorMax = 4095.0f;

std::uint16_t quantise(float value) {
    const float clamped = std::min(kProjectorMax, std::max(0.0f, value));
    return static_cast<std::uint16_t>(clamped);
}

std::int32_t toCount(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    constexpr float kLimit = 2147483520.0f;
    return value >= kLimit ? std::numeric_limits<std::int32_t>::max()
                           : static_cast<std::int32_t>(value);
}

[[gnu::noinline]] LaserSample toLaserSample(glm::vec2 position, glm::vec3 color, float intensity) {
    return LaserSample{quantise(kProjectorMax - position.x), quantise(kProjectorMax - position.y),
                       quantise(color.r * kProjectorMax * intensity),
                       quantise(color.g * kProjectorMax * intensity),
                       quantise(color.b * kProjectorMax * intensity)};
}

float polylineLength(const ColorPolyline& polyline) {
    float length = 0.0f;
    for (std::size_t i = 1; i < polyline.size(); ++i) {
        length += glm::distance(polyline[i - 1].position, polyline[i].position);
    }
    return length;
}

template <typename Emit>
void resampleInto(const ColorPolyline& points, int count, float length, Emit&& emit) {
    if (count <= 0 || points.empty()) {
        return;
    }
    const auto m = static_cast<std::ptrdiff_t>(points.size());
    if (m == 1) {
        for (int i = 0; i < count; ++i) {
            emit(points.front());
        }
        return;
    }
    const float step = count > 1 ? length / static_cast<float>(count - 1) : 0.0f;
    std::ptrdiff_t k = 0;
    float s = 0.0f;
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(k);
        float d = glm::distance(points[index + 1].position, points[index].position);
        while (d <= s && k < m - 2) {
            s -= d;
            ++k;
            const auto next = static_cast<std::size_t>(k);
            d = glm::distance(points[next + 1].position, points[next].position);
        }
        const float t = d > 0.001f ? s / d : 0.0f;
        const ColorPoint& a = points[static_cast<std::size_t>(k)];
        const ColorPoint& b = points[static_cast<std::size_t>(k) + 1];
        emit(ColorPoint{a.position * (1.0f - t) + b.position * t,
                        a.color * (1.0f - t) + b.color * t});
        s += step;
    }
}

void blankMove(std::vector<LaserSample>& samples, glm::vec2 from, glm::vec2 to, float blankStep,
               glm::vec3 blankColor, float intensity) {
    const std::int32_t count = toCount(std::round(glm::distance(to, from) / blankStep));
    for (std::int32_t k = 1; k <= count; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(count);
        samples.push_back(toLaserSample(from * (1.0f - t) + to * t, blankColor, intensity));
    }
}

std::vector<float> lengthsOf(const ColorFrame& frame, float& total) {
    total = 0.0f;
    std::vector<float> lengths;
    lengths.reserve(frame.size());
    for (const ColorPolyline& polyline : frame) {
        lengths.push_back(polylineLength(polyline));
        total += lengths.back();
    }
    return lengths;
}

glm::vec2 buildLaserPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                         glm::vec2 beamPosition, float pointSpacing, float blankStep,
                         glm::vec3 blankColor, float intensity) {
    samples.clear();
    float total = 0.0f;
    const std::vector<float> lengths = lengthsOf(frame, total);
    glm::vec2 cur = beamPosition;
    bool drewOne = false;
    ColorPolyline working;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const ColorPolyline& polyline = frame[i];
        if (polyline.empty()) {
            continue;
        }
        working.assign(polyline.begin(), polyline.end());
        if (drewOne && glm::distance(cur, working.front().position) >
                           glm::distance(cur, working.back().position)) {
            std::reverse(working.begin(), working.end());
        }
        blankMove(samples, cur, working.front().position, blankStep, blankColor, intensity);
        const std::int32_t count = toCount(lengths[i] / pointSpacing);
        resampleInto(working, count, lengths[i], [&](const ColorPoint& point) {
            samples.push_back(toLaserSample(point.position, point.color, intensity));
        });
        cur = working.back().position;
        drewOne = true;
    }
    return cur;
}

} // namespace
} // namespace original

namespace {

// `strokes` circles of 64 points spread over the drawing space, as laser_path_bench.cpp.
ColorFrame circles(int strokes) {
    ColorFrame frame;
    for (int s = 0; s < strokes; ++s) {
        ColorPolyline circle;
        const float cx = 400.0f + static_cast<float>((s * 733) % 3300);
        const float cy = 400.0f + static_cast<float>((s * 389) % 3300);
        for (int i = 0; i <= 64; ++i) {
            const float a = static_cast<float>(i) * 6.2831853f / 64.0f;
            circle.push_back(ColorPoint{{cx + 300.0f * std::cos(a), cy + 300.0f * std::sin(a)},
                                        {0.2f, 0.5f, 1.0f}});
        }
        frame.push_back(std::move(circle));
    }
    return frame;
}

// The drawn frames of the demo show's 120 entries, 0.1 s after each start.
const std::vector<ColorFrame>& demoFrames() {
    static const std::vector<ColorFrame> frames = [] {
        const Animation animation{std::filesystem::path(LUMAROK_SOURCE_DIR) / "data"};
        const ShowTimeline timeline{
            makeShowTimeline(maskFromFrame(sampleAnimation(animation, kMaskSampleTime)), nullptr)};
        std::vector<ColorFrame> drawn;
        for (std::size_t i = 0; i < timeline.size(); ++i) {
            const TimelineEntry& entry = timeline.entry(i);
            const double t = entry.startMs / 1000.0 + 0.1;
            drawn.push_back(
                entry.effect->apply(sampleAnimation(animation, t), static_cast<float>(t)));
        }
        return drawn;
    }();
    return frames;
}

bool sameBytes(const std::vector<LaserSample>& a, const std::vector<LaserSample>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(LaserSample)) == 0);
}

// Both builders over the frames; the original first when `useOriginal`. Samples per
// second are counted over every sample built.
void buildFrames(benchmark::State& state, const std::vector<ColorFrame>& frames, bool useOriginal) {
    std::vector<LaserSample> samples;
    std::vector<LaserSample> check;
    for (const ColorFrame& frame : frames) {
        original::buildLaserPath(frame, check, {0.0f, 0.0f}, 25.0f, 30.0f, {0, 0, 0}, 0.1f);
        buildLaserPath(frame, samples, {0.0f, 0.0f}, 25.0f, 30.0f, {0, 0, 0}, 0.1f);
        if (!sameBytes(samples, check)) {
            state.SkipWithError("the builders' outputs differ");
            return;
        }
    }
    std::int64_t built = 0;
    for (auto _ : state) {
        for (const ColorFrame& frame : frames) {
            if (useOriginal) {
                original::buildLaserPath(frame, samples, {0.0f, 0.0f}, 25.0f, 30.0f, {0, 0, 0},
                                         0.1f);
            } else {
                buildLaserPath(frame, samples, {0.0f, 0.0f}, 25.0f, 30.0f, {0, 0, 0}, 0.1f);
            }
            benchmark::DoNotOptimize(samples.data());
            built += static_cast<std::int64_t>(samples.size());
        }
    }
    state.SetItemsProcessed(built);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(built), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PathBuilderCircles(benchmark::State& state) {
    buildFrames(state, {circles(static_cast<int>(state.range(0)))}, state.range(1) != 0);
}
// Second argument 1: the original builder.
BENCHMARK(BM_PathBuilderCircles)
    ->ArgNames({"circles", "original"})
    ->ArgsProduct({{16, 40}, {1, 0}});

void BM_PathBuilderDemoShow(benchmark::State& state) {
    buildFrames(state, demoFrames(), state.range(0) != 0);
}
BENCHMARK(BM_PathBuilderDemoShow)->ArgName("original")->Arg(1)->Arg(0);

} // namespace
} // namespace lumarok

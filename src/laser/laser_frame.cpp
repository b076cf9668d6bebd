#include "laser/laser_frame.hpp"

#include "laser/laser_path.hpp"

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace lumarok {

namespace {

// The path builder sums lengths in single precision; this margin covers its
// rounding on the longest outlines the loader accepts.
constexpr double kRoundingMargin = 1.01;
constexpr double kWidening = 1.5;
constexpr int kMaxWidenings = 128; // 1.5^128 passes any finite distance
constexpr std::chrono::seconds kReportInterval{5};

double distance(glm::vec2 a, glm::vec2 b) {
    return glm::distance(glm::dvec2(a), glm::dvec2(b));
}

float widened(float step, double factor) {
    const double value = static_cast<double>(step) * factor;
    return value < std::numeric_limits<float>::max() ? static_cast<float>(value)
                                                     : std::numeric_limits<float>::max();
}

void reportWidened(double wantedSamples, PathSteps steps, std::size_t budget) {
    static std::atomic<std::int64_t> nextReport{0};
    static std::atomic<std::uint64_t> frames{0};
    const std::uint64_t soFar = frames.fetch_add(1) + 1;
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::int64_t next = nextReport.load();
    if (now < next ||
        !nextReport.compare_exchange_strong(
            next, now + std::chrono::steady_clock::duration(kReportInterval).count())) {
        return;
    }
    std::fprintf(stderr,
                 "lumarok: a frame of up to %.0f samples drawn with point spacing %g to stay "
                 "within %zu samples (%llu such frames so far)\n",
                 wantedSamples, static_cast<double>(steps.pointSpacing), budget,
                 static_cast<unsigned long long>(soFar));
}

} // namespace

namespace {

// The bound's two parts: the dark moves between strokes and, when `lengthOf` is
// given, the strokes' own samples with lengthOf(i) as polyline i's length.
template <typename LengthOf>
double sampleBound(const ColorFrame& frame, glm::vec2 beamPosition, PathSteps steps,
                   LengthOf&& lengthOf) {
    double samples = 0.0;
    bool drewOne = false;
    glm::vec2 previousFront{};
    glm::vec2 previousBack{};
    for (std::size_t p = 0; p < frame.size(); ++p) {
        const ColorPolyline& polyline = frame[p];
        if (polyline.empty()) {
            continue;
        }
        const glm::vec2 front = polyline.front().position;
        // The builder ends each stroke on one of its ends and starts the next one on
        // its nearer end, so the move is never longer than to the far choice.
        const double move =
            drewOne ? std::max(distance(previousFront, front), distance(previousBack, front))
                    : distance(beamPosition, front);
        samples += std::floor(move * kRoundingMargin / steps.blankStep + 0.5);
        samples += std::floor(lengthOf(p) * kRoundingMargin / steps.pointSpacing);
        previousFront = front;
        previousBack = polyline.back().position;
        drewOne = true;
    }
    return samples;
}

} // namespace

double pathSampleBound(const ColorFrame& frame, glm::vec2 beamPosition, PathSteps steps) {
    return sampleBound(frame, beamPosition, steps, [&frame](std::size_t p) {
        const ColorPolyline& polyline = frame[p];
        double length = 0.0;
        for (std::size_t i = 1; i < polyline.size(); ++i) {
            length += distance(polyline[i - 1].position, polyline[i].position);
        }
        return length;
    });
}

PathSteps stepsWithinBudget(const ColorFrame& frame, glm::vec2 beamPosition, PathSteps wanted,
                            std::size_t budget) {
    const auto limit = static_cast<double>(budget);
    const double wantedSamples = pathSampleBound(frame, beamPosition, wanted);
    if (!(wantedSamples > limit)) {
        return wanted;
    }
    double factor = wantedSamples / limit;
    PathSteps steps = wanted;
    for (int round = 0; round < kMaxWidenings; ++round, factor *= kWidening) {
        steps = {widened(wanted.pointSpacing, factor), widened(wanted.blankStep, factor)};
        if (pathSampleBound(frame, beamPosition, steps) <= limit) {
            break;
        }
    }
    reportWidened(wantedSamples, steps, budget);
    return steps;
}

PathSteps stepsWithinBudget(const ColorFrame& frame, std::span<const float> lengths,
                            glm::vec2 beamPosition, PathSteps wanted, std::size_t budget) {
    // The builder's own single-precision lengths differ from the exact ones far less
    // than twice over: a frame within half the budget by them fits, and only frames
    // near the budget (or with lengths past float's range) are measured again.
    const double quick = sampleBound(frame, beamPosition, wanted, [lengths](std::size_t p) {
        return p < lengths.size() ? static_cast<double>(lengths[p])
                                  : std::numeric_limits<double>::infinity();
    });
    if (quick <= static_cast<double>(budget) / 2.0) {
        return wanted;
    }
    return stepsWithinBudget(frame, beamPosition, wanted, budget);
}

float laserPointSpacing(float totalPathLength) {
    // max before min, so a NaN total falls to the short end instead of spreading.
    const float fade = std::min(1.0f, std::max(0.0f, (totalPathLength - 18000.0f) / 12000.0f));
    return 25.0f + 45.0f * fade;
}

LaserSample darkSampleAt(glm::vec2 position) {
    return toLaserSample(position, glm::vec3(0.0f), 0.0f);
}

void fillDarkFrame(std::vector<LaserSample>& samples, glm::vec2 position, std::size_t count) {
    samples.assign(count, darkSampleAt(position));
}

} // namespace lumarok

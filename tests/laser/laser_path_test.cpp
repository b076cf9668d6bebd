#include "laser/laser_path.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lumarok {
namespace {

const glm::vec3 kWhite{1.0f, 1.0f, 1.0f};
const glm::vec3 kBlack{0.0f, 0.0f, 0.0f};
constexpr float kSpacing = 25.0f;
constexpr float kBlankStep = 30.0f;
constexpr std::size_t any = SIZE_MAX;

ColorPolyline line(std::initializer_list<glm::vec2> points, glm::vec3 color = kWhite) {
    ColorPolyline result;
    for (const glm::vec2 p : points) {
        result.push_back(ColorPoint{p, color});
    }
    return result;
}

glm::vec2 build(const ColorFrame& frame, std::vector<LaserSample>& samples,
                glm::vec2 beam = {0.0f, 0.0f}, float intensity = 1.0f) {
    return buildLaserPath(frame, samples, beam, kSpacing, kBlankStep, kBlack, intensity);
}

// Projector coordinates are mirrored drawing coordinates.
int px(float drawing) {
    return static_cast<std::uint16_t>(4095.0f - drawing);
}

bool isDark(const LaserSample& s) {
    return s.r == 0 && s.g == 0 && s.b == 0;
}

TEST(PathLengths, MeasuresEachPolylineAndSumsThem) {
    const ColorFrame frame{line({{0, 0}, {3, 4}, {3, 10}}), line({{5, 5}}), ColorPolyline{},
                           line({{0, 0}, {0, 0}, {10, 0}})};
    float total = -1.0f;
    const std::vector<float> lengths = pathLengths(frame, total);
    ASSERT_EQ(lengths.size(), 4u);
    EXPECT_FLOAT_EQ(lengths[0], 11.0f);
    EXPECT_FLOAT_EQ(lengths[1], 0.0f);
    EXPECT_FLOAT_EQ(lengths[2], 0.0f);
    EXPECT_FLOAT_EQ(lengths[3], 10.0f);
    EXPECT_FLOAT_EQ(total, 21.0f);

    pathLengths(ColorFrame{}, total);
    EXPECT_EQ(total, 0.0f) << "the total is reset, not accumulated across calls";
}

// Each case: the frame, where the beam starts, how many samples come out (lit among them),
// where the beam ends, and some samples by index (negative: from the end) in projector
// coordinates. Strokes after the first start at the end nearer the beam; a blank move takes
// distance / 30 samples, rounded; a stroke length / 25.
TEST(BuildLaserPath, SamplesFollowLengthSpacingAndTheNearerEnd) {
    using At = std::pair<int, std::array<int, 2>>;
    const auto p = [](float x, float y) { return std::array<int, 2>{px(x), px(y)}; };
    const ColorPolyline none;
    struct Case {
        const char* what;
        ColorFrame frame;
        glm::vec2 beam;
        std::size_t count;
        std::size_t lit;
        glm::vec2 end;
        std::vector<At> at;
    };
    const std::vector<Case> cases{
        {"empty frame", {}, {123, 456}, 0, 0, {123, 456}, {}},
        {"only empty strokes", {none}, {7, 8}, 0, 0, {7, 8}, {}},
        {"one point: its blank move", {line({{90, 0}})}, {0, 0}, 3, 0, {90, 0}, {{-1, p(90, 0)}}},
        {"24.9 long",
         {line({{1000, 1000}, {1024.9f, 1000}})},
         {1000, 1000},
         0,
         0,
         {1024.9f, 1000},
         {}},
        {"25 long",
         {line({{1000, 1000}, {1025, 1000}})},
         {1000, 1000},
         1,
         1,
         {1025, 1000},
         {{0, p(1000, 1000)}}},
        {"49.9 long",
         {line({{1000, 1000}, {1049.9f, 1000}})},
         {1000, 1000},
         1,
         1,
         {1049.9f, 1000},
         {}},
        {"50 long",
         {line({{1000, 1000}, {1050, 1000}})},
         {1000, 1000},
         2,
         2,
         {1050, 1000},
         {{0, p(1000, 1000)}, {1, p(1050, 1000)}}},
        {"100 long", {line({{1000, 1000}, {1100, 1000}})}, {1000, 1000}, 4, 4, {1100, 1000}, {}},
        {"even round a corner",
         {line({{0, 0}, {50, 0}, {50, 50}})},
         {0, 0},
         4,
         4,
         {50, 50},
         {{1, p(100.0f / 3.0f, 0)}, {2, p(50, 50.0f / 3.0f)}, {3, p(50, 50)}}},
        {"repeated points",
         {line({{0, 0}, {0, 0}, {0, 0}, {50, 0}, {50, 0}})},
         {0, 0},
         2,
         2,
         {50, 0},
         {{0, p(0, 0)}, {1, p(50, 0)}}},
        // The first stroke keeps its direction though its far end is nearer; the second
        // is drawn backwards.
        {"second stroke from its nearer end",
         {line({{1000, 0}, {0, 0}}), line({{0, 500}, {0, 10}})},
         {0, 0},
         33 + 40 + 19,
         40 + 19,
         {0, 500},
         {{33, p(1000, 0)}, {73, p(0, 10)}, {-1, p(0, 500)}}},
        {"an empty stroke is not the first",
         {none, line({{500, 0}, {0, 0}}), none},
         {0, 0},
         17 + 20,
         20,
         {0, 0},
         {{-1, p(0, 0)}}},
        {"equally near: as stored",
         {line({{0, 0}, {0, 100}}), line({{50, 50}, {-50, 150}})},
         {0, 0},
         any,
         any,
         {-50, 150},
         {}},
        {"no length: nothing",
         {line({{-100, 5000}, {-100, 5000}})},
         {-100, 5000},
         0,
         0,
         {-100, 5000},
         {}},
        {"clamped to the square",
         {line({{-100, 5000}, {-100, 4900}})},
         {-100, 5000},
         4,
         4,
         {-100, 4900},
         {{0, {4095, 0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LaserSample> samples(500);
        const LaserSample* storage = samples.data();
        const glm::vec2 end = build(c.frame, samples, c.beam);
        EXPECT_EQ(samples.data(), storage) << "the list's storage is kept";
        EXPECT_EQ(end, c.end);
        if (c.count != any) {
            ASSERT_EQ(samples.size(), c.count);
            EXPECT_EQ(std::count_if(samples.begin(), samples.end(),
                                    [](const LaserSample& s) { return !isDark(s); }),
                      static_cast<std::ptrdiff_t>(c.lit));
        }
        for (const auto& [index, xy] : c.at) {
            const LaserSample& s = samples[static_cast<std::size_t>(
                index < 0 ? index + static_cast<int>(c.count) : index)];
            EXPECT_EQ((std::array<int, 2>{s.x, s.y}), xy) << "sample " << index;
        }
    }
}

TEST(BuildLaserPath, IntensityScalesColourWithTruncation) {
    EXPECT_EQ(toLaserSample({0, 0}, kWhite, 0.1f).r, 409);
    EXPECT_EQ(toLaserSample({0, 0}, kWhite, 1.0f).g, 4095);
    EXPECT_EQ(toLaserSample({0, 0}, kWhite, -0.5f).b, 0);
    EXPECT_EQ(toLaserSample({0, 0}, kWhite, 1.5f).b, 4095);
    const LaserSample corner = toLaserSample({0, 0}, kBlack, 1.0f);
    EXPECT_EQ(corner.x, 4095);
    EXPECT_EQ(corner.y, 4095);
    EXPECT_EQ(toLaserSample({4095, 4095}, kBlack, 1.0f).x, 0);
}

TEST(BuildLaserPath, NotANumberBecomesZeroInsteadOfUndefined) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const LaserSample s = toLaserSample({nan, nan}, {nan, nan, nan}, 1.0f);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.r, 0);
}

// The builder converts its points several channels at a time; each sample must be
// the plain conversion of the point the resampler gives, whatever the values.
TEST(BuildLaserPath, DrawnSamplesAreTheResampledPointsConverted) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float odd[] = {-0.0f, -3.5f, 0.3f, 1.0f, 1.7f, 4094.6f, 5000.0f, nan, inf, -inf};
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const auto value = [&](float scale) {
        return next() % 8 == 0 ? odd[next() % 10]
                               : static_cast<float>(next() % 100000) / 1e5f * scale;
    };
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        ColorPolyline stroke;
        for (int i = 0; i < 2 + round % 9; ++i) {
            stroke.push_back(
                {{value(4095.0f), value(4095.0f)}, {value(1.2f), value(1.2f), value(1.2f)}});
        }
        const float intensity = round % 3 == 0 ? 1.0f : 0.37f;
        float total = 0.0f;
        const float length = pathLengths(ColorFrame{stroke}, total)[0];
        if (!(length < 1e5f) || !std::isfinite(stroke[0].position.x) ||
            !std::isfinite(stroke[0].position.y)) {
            continue; // lengths past any drawing: covered by the tests above
        }
        const auto count = static_cast<int>(length / 25.0f);
        std::vector<LaserSample> samples;
        // The beam already on the first point: no blank move, only the drawn samples.
        buildLaserPath(ColorFrame{stroke}, samples, stroke[0].position, 25.0f, 30.0f, {0, 0, 0},
                       intensity);
        const ColorPolyline points = resampleColorPolyline(stroke, count, length);
        ASSERT_EQ(samples.size(), points.size()) << round;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const LaserSample want = toLaserSample(points[i].position, points[i].color, intensity);
            ASSERT_EQ(std::memcmp(&samples[i], &want, sizeof want), 0) << round << " " << i;
        }
        compared += points.empty() ? 0 : 1;
    }
    EXPECT_GT(compared, 100);
}

TEST(BuildLaserPath, RejectsSpacingsThatWouldNeverEnd) {
    std::vector<LaserSample> samples;
    const ColorFrame frame{line({{0, 0}, {10, 0}})};
    EXPECT_THROW(buildLaserPath(frame, samples, {}, 0.0f, kBlankStep, kBlack, 1.0f),
                 std::invalid_argument);
    EXPECT_THROW(buildLaserPath(frame, samples, {}, kSpacing, -1.0f, kBlack, 1.0f),
                 std::invalid_argument);
    EXPECT_THROW(appendBlankMove(samples, {}, {1, 1}, std::nanf(""), kBlack, 1.0f),
                 std::invalid_argument);
}

TEST(AppendBlankMove, CountIsRoundedDistanceOverStep) {
    std::vector<LaserSample> samples;
    appendBlankMove(samples, {0, 0}, {14.9f, 0}, kBlankStep, kBlack, 1.0f);
    EXPECT_TRUE(samples.empty()) << "under half a step: no sample";

    appendBlankMove(samples, {0, 0}, {45, 0}, kBlankStep, {1, 0, 0}, 0.5f);
    ASSERT_EQ(samples.size(), 2u) << "one and a half steps round away from zero";
    EXPECT_EQ(samples[0].x, px(22.5f));
    EXPECT_EQ(samples[1].x, px(45)) << "the last blank sample lies on the target";
    EXPECT_EQ(samples[1].r, 2047) << "blank colour is scaled by the intensity";

    appendBlankMove(samples, {0, 0}, {15, 0}, kBlankStep, kBlack, 1.0f);
    EXPECT_EQ(samples.size(), 3u) << "exactly half a step rounds up to one";
}

TEST(ResampleColorPolyline, EdgeCounts) {
    const ColorPolyline ramp{ColorPoint{{0, 0}, {0, 0, 0}}, ColorPoint{{100, 0}, {1, 0.5f, 0}}};
    EXPECT_TRUE(resampleColorPolyline(ramp, 0, 100.0f).empty());
    EXPECT_TRUE(resampleColorPolyline(ramp, -3, 100.0f).empty());
    EXPECT_TRUE(resampleColorPolyline(ColorPolyline{}, 4, 100.0f).empty());

    const ColorPolyline one = resampleColorPolyline(ramp, 1, 100.0f);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].position, glm::vec2(0, 0));

    // A lone point has no segment: the walk must not read past it.
    const ColorPolyline lone = resampleColorPolyline(ColorPolyline{ramp[1]}, 3, 0.0f);
    ASSERT_EQ(lone.size(), 3u);
    EXPECT_EQ(lone[2].position, glm::vec2(100, 0));
}

TEST(ResampleColorPolyline, InterpolatesColourAlongThePath) {
    const ColorPolyline ramp{ColorPoint{{0, 0}, {0, 0, 0}}, ColorPoint{{100, 0}, {1, 0.5f, 0}}};
    const ColorPolyline five = resampleColorPolyline(ramp, 5, 100.0f);
    ASSERT_EQ(five.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(five[static_cast<std::size_t>(i)].position.x, 25.0f * i, 1e-3f);
        EXPECT_NEAR(five[static_cast<std::size_t>(i)].color.r, 0.25f * i, 1e-5f);
        EXPECT_NEAR(five[static_cast<std::size_t>(i)].color.g, 0.125f * i, 1e-5f);
    }
}

TEST(ResampleColorPolyline, StaysOnLastSegmentWhenLengthIsOverstated) {
    // The walk never passes the last segment; an overstated length extrapolates.
    const ColorPolyline square{ColorPoint{{0, 0}, kWhite}, ColorPoint{{10, 0}, kWhite},
                               ColorPoint{{10, 10}, kWhite}};
    const ColorPolyline points = resampleColorPolyline(square, 2, 30.0f);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_NEAR(points[1].position.x, 10.0f, 1e-4f);
    EXPECT_NEAR(points[1].position.y, 20.0f, 1e-4f);
}

} // namespace
} // namespace lumarok

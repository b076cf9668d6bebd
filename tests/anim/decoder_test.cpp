#include "anim/decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace lumarok {
namespace {

using GridPoint = std::pair<int, int>; // (row, column)

// Appends commands to a scene data array and remembers where each one starts.
struct SceneData {
    std::vector<std::int32_t> data;

    std::int64_t outline(const std::vector<GridPoint>& points, std::int32_t code = 0xD0) {
        const auto at = static_cast<std::int64_t>(data.size());
        data.push_back(code);
        data.push_back(static_cast<std::int32_t>(points.size()));
        for (const auto& [row, column] : points) {
            data.push_back(row);
            data.push_back(column);
        }
        return at;
    }

    // A tween command at the end of the array pointing at two outlines.
    std::int64_t tween(std::int64_t from, std::int64_t to, std::int32_t numerator,
                       std::int32_t denominator, std::int32_t code = 0xE6) {
        const auto at = static_cast<std::int64_t>(data.size());
        const std::int64_t back = at + 1 - from;
        const std::int64_t ahead = to - (at + 1);
        data.insert(data.end(),
                    {code, static_cast<std::int32_t>(back / 256),
                     static_cast<std::int32_t>(back % 256), static_cast<std::int32_t>(ahead / 256),
                     static_cast<std::int32_t>(ahead % 256), numerator, denominator});
        return at;
    }
};

glm::vec2 drawingPoint(double row, double column) {
    return {static_cast<float>(column / 255.0 * 4095.0),
            static_cast<float>((row + 25.5) / 255.0 * 4095.0)};
}

void expectNear(const glm::vec2& actual, const glm::vec2& expected, const std::string& where) {
    EXPECT_NEAR(actual.x, expected.x, 2e-3) << where;
    EXPECT_NEAR(actual.y, expected.y, 2e-3) << where;
}

std::string captured(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

const std::vector<GridPoint> kSquare = {{0, 0}, {0, 100}, {100, 100}, {100, 0}};
const std::vector<GridPoint> kOctagon = {{10, 10},   {10, 60},  {10, 110}, {60, 110},
                                         {110, 110}, {110, 60}, {110, 10}, {60, 10}};

// Each list: the sizes of the polylines it gives, what it prints, and some points.
TEST(DecodeFrame, EachListGivesItsPolylinesAndSaysWhatItStoppedAt) {
    using Point =
        std::tuple<std::size_t, std::size_t, double, double>; // polyline, point, row, column
    struct Case {
        std::string what;
        SceneData scene;
        std::int64_t offset;
        std::vector<std::size_t> sizes;
        std::string printed;
        std::vector<Point> points;
    };
    std::vector<Case> cases;
    cases.push_back({"no commands", {{0}}, 0, {}, "", {}});
    // n = 0 takes exactly two integers: the outline after it is still found.
    cases.push_back({"an empty outline, then one point",
                     {{2, 0xD3, 0, 0xD0, 1, 7, 9}},
                     0,
                     {2},
                     "",
                     {{0, 0, 7, 9}, {0, 1, 7, 9}}});
    // Rows beyond 229.5 leave the drawing space; closed by a copy of the first point.
    cases.push_back({"rows and columns",
                     {{1, 0xDF, 3, 0, 0, 204, 255, 230, 0}},
                     0,
                     {4},
                     "",
                     {{0, 0, 0, 0}, {0, 1, 204, 255}, {0, 2, 230, 0}, {0, 3, 0, 0}}});
    cases.push_back(
        {"already closed: another copy", {{1, 0xD0, 3, 1, 1, 2, 2, 1, 1}}, 0, {4}, "", {}});
    cases.push_back({"from the given offset",
                     {{1, 0xD0, 1, 50, 50, 2, 0xD0, 1, 1, 2, 0xD0, 1, 3, 4}},
                     5,
                     {2, 2},
                     "",
                     {{0, 0, 1, 2}, {1, 0, 3, 4}}});
    for (const std::int32_t code : {0xE5, 0xE9, 0xCF, 0xE0, 0x100, -1}) {
        char printed[64];
        std::snprintf(printed, sizeof printed, "unexpected draw cmd %X\n",
                      static_cast<unsigned>(code));
        cases.push_back({"unknown code " + std::to_string(code),
                         {{3, 0xD0, 1, 5, 5, code, 0xD0, 1, 6, 6}},
                         0,
                         {2},
                         printed,
                         {}});
    }
    for (const std::int32_t code : {0xE6, 0xE7, 0xE8, 0xF2}) {
        SceneData scene;
        const std::int64_t from = scene.outline(kSquare);
        const auto list = static_cast<std::int64_t>(scene.data.size());
        scene.data.push_back(1);
        scene.tween(from, list + 8, 1, 2, code);
        scene.outline(kSquare, 0xD7);
        cases.push_back({"tween code " + std::to_string(code), scene, list, {5}, "", {}});
    }
    {
        SceneData scene;
        scene.outline(kSquare, 0x10);
        const auto list = static_cast<std::int64_t>(scene.data.size());
        scene.data.push_back(2);
        scene.tween(0, 0, 1, 2);
        scene.outline(kSquare);
        cases.push_back({"a failed tween is skipped",
                         scene,
                         list,
                         {5},
                         "Unexpected tween idx (from) 10\n",
                         {}});
    }
    {
        // Tweens point at outlines in other frames' lists, backwards and forwards, past a
        // large gap so that the high part of the distance is used.
        SceneData scene;
        scene.data.push_back(1);
        const std::int64_t from = scene.outline(kSquare);
        const auto list = static_cast<std::int64_t>(scene.data.size());
        scene.data.push_back(1);
        const std::int64_t to = list + 1 + 7 + 1 + 300;
        scene.tween(from, to, 1, 2);
        scene.data.resize(static_cast<std::size_t>(to), 0);
        scene.outline(kSquare);
        cases.push_back({"tween across lists", scene, list, {5}, "", {{0, 1, 0, 100}}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Frame frame;
        EXPECT_EQ(captured([&] { frame = decodeFrame(c.scene.data, c.offset); }), c.printed);
        std::vector<std::size_t> sizes;
        for (const Polyline& p : frame) {
            sizes.push_back(p.size());
        }
        EXPECT_EQ(sizes, c.sizes);
        for (const auto& [polyline, point, row, column] : c.points) {
            ASSERT_LT(polyline, frame.size());
            ASSERT_LT(point, frame[polyline].size());
            expectNear(frame[polyline][point], drawingPoint(row, column), "");
        }
    }
}

// What each pair of outlines and fraction gives: the smaller side is sampled at evenly
// spaced positions along its outline, the larger side's points are taken as they are.
TEST(DecodeTween, PairsOfOutlinesBlendIntoTheirTween) {
    using Grid = std::pair<double, double>;
    const auto along = [](const std::vector<GridPoint>& outline, std::size_t count) {
        std::vector<Grid> points; // every other point halfway to the next
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t per = count / outline.size();
            const GridPoint a = outline[j / per];
            const GridPoint b = outline[(j / per + 1) % outline.size()];
            const double t = (j % 2) * 0.5;
            points.emplace_back((1 - t) * a.first + t * b.first, (1 - t) * a.second + t * b.second);
        }
        return points;
    };
    const std::vector<GridPoint> shifted = {{40, 20}, {40, 120}, {140, 120}, {140, 20}};
    std::vector<Grid> quarter;
    for (std::size_t k = 0; k < 4; ++k) {
        quarter.emplace_back(0.75 * kSquare[k].first + 0.25 * shifted[k].first,
                             0.75 * kSquare[k].second + 0.25 * shifted[k].second);
    }
    std::vector<Grid> twice; // each corner of the square twice
    for (std::size_t j = 0; j < 8; ++j) {
        twice.emplace_back(kSquare[j / 2].first, kSquare[j / 2].second);
    }
    struct Case {
        const char* what;
        std::vector<GridPoint> from, to;
        std::int32_t fromCode, toCode, numerator, denominator;
        std::size_t size;
        std::vector<Grid> points;
        const char* printed;
    };
    const std::vector<Case> cases{
        {"smaller from", kSquare, kOctagon, 0xD0, 0xD0, 0, 5, 9, along(kSquare, 8), ""},
        {"the whole way", kSquare, kOctagon, 0xD0, 0xD0, 3, 3, 9, along(kOctagon, 8), ""},
        {"equal counts", kSquare, shifted, 0xD0, 0xD0, 1, 4, 5, quarter, ""},
        {"larger from: no blending", kOctagon, kSquare, 0xD0, 0xD0, 1, 1, 9, twice, ""},
        {"closed ends stay closed",
         {{0, 0}, {50, 50}, {0, 0}},
         {{9, 9}, {60, 60}, {9, 9}},
         0xD0,
         0xD0,
         1,
         2,
         3,
         {},
         ""},
        {"ends that differ are closed",
         {{0, 0}, {50, 50}, {0, 0}},
         {{0, 0}, {50, 50}, {0, 10}},
         0xD0,
         0xD0,
         1,
         2,
         4,
         {},
         ""},
        {"outline bits in other codes", kSquare, kSquare, 0xF5, 0xDB, 0, 1, 5, {}, ""},
        {"from is no outline",
         kSquare,
         kSquare,
         0xC7,
         0xD0,
         0,
         1,
         0,
         {},
         "Unexpected tween idx (from) C7\n"},
        {"to is no outline",
         kSquare,
         kSquare,
         0xD0,
         0xC7,
         0,
         1,
         0,
         {},
         "Unexpected tween idx (from) C7\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SceneData scene;
        const std::int64_t from = scene.outline(c.from, c.fromCode);
        const std::int64_t to = scene.outline(c.to, c.toCode);
        Polyline tween;
        EXPECT_EQ(captured([&] {
                      tween = decodeTween(scene.data, from, to, c.numerator, c.denominator);
                  }),
                  c.printed);
        ASSERT_EQ(tween.size(), c.size);
        for (std::size_t j = 0; j < c.points.size(); ++j) {
            expectNear(tween[j], drawingPoint(c.points[j].first, c.points[j].second),
                       "point " + std::to_string(j));
        }
        if (!c.points.empty()) {
            EXPECT_EQ(tween.back(), tween.front());
        }
    }
    // Only the first failing reference is reported.
    SceneData scene;
    const std::int64_t bad = scene.outline(kSquare, 0xC7);
    EXPECT_EQ(captured([&] { (void)decodeTween(scene.data, bad + 2, bad, 0, 1); }),
              "Unexpected tween idx (from) 0\n");
}

// Data that the authoring tool never writes must neither crash the decoder nor
// smuggle non-finite points into a frame.
TEST(DecodeFrame, BrokenDataStopsWithAMessageAndStaysInsideTheArray) {
    struct Case {
        const char* what;
        std::vector<std::int32_t> data;
        std::int64_t offset;
        std::size_t polylines;
    };
    const std::vector<Case> cases = {
        {"offset past the end", {1, 0xD0, 1, 0, 0}, 5, 0},
        {"negative offset", {1, 0xD0, 1, 0, 0}, -1, 0},
        {"empty array", {}, 0, 0},
        {"negative command count", {-3, 0xD0, 1, 0, 0}, 0, 0},
        {"more commands than data", {2147483647, 0xD0, 1, 0, 0}, 0, 1},
        {"truncated point list", {2, 0xD0, 1, 0, 0, 0xD0, 3, 1, 1}, 0, 1},
        {"point count huge", {1, 0xD0, 2147483647, 1, 1}, 0, 0},
        {"negative point count", {2, 0xD0, -1, 0xD0, 1, 1, 1}, 0, 0},
        {"count without its value", {1, 0xD0}, 0, 0},
        {"truncated tween", {2, 0xD0, 1, 1, 1, 0xE6, 0, 5}, 0, 1},
    };
    for (const Case& c : cases) {
        Frame frame;
        const std::string out = captured([&] { frame = decodeFrame(c.data, c.offset); });
        EXPECT_FALSE(out.empty()) << c.what;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << c.what << ": one line, got " << out;
        EXPECT_EQ(frame.size(), c.polylines) << c.what;
    }
}

TEST(DecodeTween, UnusableReferencesAndFractionsAreSkipped) {
    SceneData scene;
    const std::int64_t good = scene.outline(kSquare);
    const std::int64_t empty = scene.outline({});
    const std::int64_t last = scene.outline({{5, 5}});
    const std::int64_t end = static_cast<std::int64_t>(scene.data.size());
    scene.data.insert(scene.data.end(), {0xD0, 40, 1, 1}); // claims more points than stored
    struct Case {
        const char* what;
        std::int64_t from, to;
        std::int32_t numerator, denominator;
    };
    const std::vector<Case> cases = {
        {"from before the start", -4, good, 0, 1},
        {"to past the end", good, end + 100, 0, 1},
        {"to at the last element", good, end + 3, 0, 1},
        {"far beyond", good, 1LL << 40, 0, 1},
        {"from has no points", empty, good, 0, 1},
        {"to has no points", good, empty, 0, 1},
        {"points past the end", good, end, 0, 1},
        {"zero denominator", good, last, 1, 0},
        {"zero over zero", good, last, 0, 0},
    };
    for (const Case& c : cases) {
        Polyline tween;
        const std::string out = captured(
            [&] { tween = decodeTween(scene.data, c.from, c.to, c.numerator, c.denominator); });
        EXPECT_TRUE(tween.empty()) << c.what;
        EXPECT_FALSE(out.empty()) << c.what;
    }
    const Polyline extreme = decodeTween(scene.data, good, last, 2147483647, 1);
    for (const glm::vec2& p : extreme) {
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    }
}

} // namespace
} // namespace lumarok

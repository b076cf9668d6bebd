#include "anim/decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
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

TEST(DecodeFrame, EmptyListAndEmptyOutlines) {
    SceneData scene;
    scene.data = {0};
    EXPECT_TRUE(decodeFrame(scene.data, 0).empty());

    // n = 0 takes exactly two integers: the outline after it is still found.
    scene.data = {2, 0xD3, 0, 0xD0, 1, 7, 9};
    const Frame frame = decodeFrame(scene.data, 0);
    ASSERT_EQ(frame.size(), 1u);
    ASSERT_EQ(frame[0].size(), 2u);
    expectNear(frame[0][0], drawingPoint(7, 9), "single point");
    EXPECT_EQ(frame[0][0], frame[0][1]);
}

TEST(DecodeFrame, MapsRowsAndColumnsIntoDrawingSpace) {
    const std::vector<std::int32_t> data = {1, 0xDF, 3, 0, 0, 204, 255, 230, 0};
    const Frame frame = decodeFrame(data, 0);
    ASSERT_EQ(frame.size(), 1u);
    ASSERT_EQ(frame[0].size(), 4u);
    EXPECT_FLOAT_EQ(frame[0][0].x, 0.0f);
    EXPECT_FLOAT_EQ(frame[0][0].y, 409.5f);
    EXPECT_FLOAT_EQ(frame[0][1].x, 4095.0f);
    EXPECT_FLOAT_EQ(frame[0][1].y, 3685.5f);
    EXPECT_GT(frame[0][2].y, 4095.0f) << "rows beyond 229.5 leave the drawing space";
    // Closed by a copy of the first point even though nothing asked for it.
    EXPECT_EQ(frame[0][3], frame[0][0]);
}

TEST(DecodeFrame, OutlineAlreadyClosedGetsAnotherCopy) {
    SceneData scene;
    scene.data = {1};
    scene.outline({{1, 1}, {2, 2}, {1, 1}});
    const Frame frame = decodeFrame(scene.data, 0);
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0].size(), 4u);
}

TEST(DecodeFrame, StartsAtTheGivenOffset) {
    SceneData scene;
    scene.data = {1, 0xD0, 1, 50, 50}; // another frame's list
    const auto second = static_cast<std::int64_t>(scene.data.size());
    scene.data.insert(scene.data.end(), {2, 0xD0, 1, 1, 2, 0xD0, 1, 3, 4});
    const Frame frame = decodeFrame(scene.data, second);
    ASSERT_EQ(frame.size(), 2u);
    expectNear(frame[0][0], drawingPoint(1, 2), "first command");
    expectNear(frame[1][0], drawingPoint(3, 4), "second command");
}

TEST(DecodeFrame, UnknownCodesStopTheListKeepingEarlierPolylines) {
    for (const std::int32_t code : {0xE5, 0xE9, 0xCF, 0xE0, 0x100, -1}) {
        const std::vector<std::int32_t> data = {3, 0xD0, 1, 5, 5, code, 0xD0, 1, 6, 6};
        Frame frame;
        const std::string out = captured([&] { frame = decodeFrame(data, 0); });
        char expected[64];
        std::snprintf(expected, sizeof expected, "unexpected draw cmd %X\n",
                      static_cast<unsigned>(code));
        EXPECT_EQ(out, expected);
        EXPECT_EQ(frame.size(), 1u) << std::hex << code;
    }
}

TEST(DecodeFrame, AllFourTweenCodesDecode) {
    for (const std::int32_t code : {0xE6, 0xE7, 0xE8, 0xF2}) {
        SceneData scene;
        const std::int64_t from = scene.outline(kSquare);
        const auto list = static_cast<std::int64_t>(scene.data.size());
        scene.data.push_back(1);
        scene.tween(from, list + 8, 1, 2, code);
        scene.outline(kSquare, 0xD7);
        Frame frame;
        const std::string out = captured([&] { frame = decodeFrame(scene.data, list); });
        EXPECT_EQ(out, "") << std::hex << code;
        ASSERT_EQ(frame.size(), 1u) << std::hex << code;
        EXPECT_EQ(frame[0].size(), 5u);
    }
}

TEST(DecodeTween, SmallerFromSampledAtEvenlySpacedPositions) {
    SceneData scene;
    const std::int64_t from = scene.outline(kSquare);
    const std::int64_t to = scene.outline(kOctagon);
    const Polyline tween = decodeTween(scene.data, from, to, 0, 5);
    ASSERT_EQ(tween.size(), 9u);
    for (std::size_t j = 0; j < 8; ++j) {
        const GridPoint a = kSquare[j / 2];
        const GridPoint b = kSquare[(j / 2 + 1) % 4];
        const double t = (j % 2) * 0.5; // the corners, then the midpoints after each
        expectNear(tween[j],
                   drawingPoint((1 - t) * a.first + t * b.first, (1 - t) * a.second + t * b.second),
                   "point " + std::to_string(j));
    }
    EXPECT_EQ(tween[8], tween[0]);
}

TEST(DecodeTween, FullFractionUsesTheFromSidesFractionOnTheToOutline) {
    SceneData scene;
    const std::int64_t from = scene.outline(kSquare);
    const std::int64_t to = scene.outline(kOctagon);
    const Polyline tween = decodeTween(scene.data, from, to, 3, 3);
    ASSERT_EQ(tween.size(), 9u);
    for (std::size_t j = 0; j < 8; ++j) {
        const GridPoint a = kOctagon[j];
        const GridPoint b = kOctagon[(j + 1) % 8];
        const double t = (j % 2) * 0.5;
        expectNear(tween[j],
                   drawingPoint((1 - t) * a.first + t * b.first, (1 - t) * a.second + t * b.second),
                   "point " + std::to_string(j));
    }
}

TEST(DecodeTween, EqualCountsInterpolatePointByPoint) {
    SceneData scene;
    const std::vector<GridPoint> shifted = {{40, 20}, {40, 120}, {140, 120}, {140, 20}};
    const std::int64_t from = scene.outline(kSquare);
    const std::int64_t to = scene.outline(shifted);
    const Polyline tween = decodeTween(scene.data, from, to, 1, 4);
    ASSERT_EQ(tween.size(), 5u);
    for (std::size_t k = 0; k < 4; ++k) {
        expectNear(tween[k],
                   drawingPoint(0.75 * kSquare[k].first + 0.25 * shifted[k].first,
                                0.75 * kSquare[k].second + 0.25 * shifted[k].second),
                   "point " + std::to_string(k));
    }
}

TEST(DecodeTween, LargerFromTakesToPointsWithoutBlending) {
    SceneData scene;
    const std::int64_t from = scene.outline(kOctagon);
    const std::int64_t to = scene.outline(kSquare);
    const Polyline tween = decodeTween(scene.data, from, to, 1, 1);
    ASSERT_EQ(tween.size(), 9u);
    for (std::size_t j = 0; j < 8; ++j) {
        const GridPoint p = kSquare[j * 4 / 8];
        expectNear(tween[j], drawingPoint(p.first, p.second), "point " + std::to_string(j));
    }
}

TEST(DecodeTween, ClosesOnlyWhenTheEndsDiffer) {
    SceneData scene;
    const std::int64_t closedFrom = scene.outline({{0, 0}, {50, 50}, {0, 0}});
    const std::int64_t closedTo = scene.outline({{9, 9}, {60, 60}, {9, 9}});
    EXPECT_EQ(decodeTween(scene.data, closedFrom, closedTo, 1, 2).size(), 3u);
    const std::int64_t open = scene.outline({{0, 0}, {50, 50}, {0, 10}});
    EXPECT_EQ(decodeTween(scene.data, closedFrom, open, 1, 2).size(), 4u);
}

TEST(DecodeTween, CodesWithTheOutlineBitsSetAreAcceptedAsOutlines) {
    SceneData scene;
    const std::int64_t from = scene.outline(kSquare, 0xF5);
    const std::int64_t to = scene.outline(kSquare, 0xDB);
    const std::string out =
        captured([&] { EXPECT_EQ(decodeTween(scene.data, from, to, 0, 1).size(), 5u); });
    EXPECT_EQ(out, "");
}

TEST(DecodeTween, FailingReferencePrintsTheCodeFound) {
    SceneData scene;
    const std::int64_t good = scene.outline(kSquare);
    const std::int64_t bad = scene.outline(kSquare, 0xC7);
    Polyline tween;
    EXPECT_EQ(captured([&] { tween = decodeTween(scene.data, bad, good, 0, 1); }),
              "Unexpected tween idx (from) C7\n");
    EXPECT_TRUE(tween.empty());
    EXPECT_EQ(captured([&] { tween = decodeTween(scene.data, good, bad, 0, 1); }),
              "Unexpected tween idx (from) C7\n");
    EXPECT_TRUE(tween.empty());
    // Only the first failure is reported.
    EXPECT_EQ(captured([&] { tween = decodeTween(scene.data, bad + 2, bad, 0, 1); }),
              "Unexpected tween idx (from) 0\n");
}

TEST(DecodeFrame, FailedTweenIsSkippedAndDecodingGoesOn) {
    SceneData scene;
    scene.outline(kSquare, 0x10);
    const auto list = static_cast<std::int64_t>(scene.data.size());
    scene.data.push_back(2);
    scene.tween(0, 0, 1, 2);
    scene.outline(kSquare);
    Frame frame;
    EXPECT_EQ(captured([&] { frame = decodeFrame(scene.data, list); }),
              "Unexpected tween idx (from) 10\n");
    EXPECT_EQ(frame.size(), 1u);
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

TEST(DecodeFrame, TweenReferencesReachAcrossFrameLists) {
    // Tweens point at outlines in other frames' lists, backwards and forwards.
    SceneData scene;
    scene.data.push_back(1);
    const std::int64_t from = scene.outline(kSquare);
    const auto list = static_cast<std::int64_t>(scene.data.size());
    scene.data.push_back(1);
    const auto tweenAt = static_cast<std::int64_t>(scene.data.size());
    const std::int64_t to = tweenAt + 7 + 1 + 300; // past a large gap, so the high part is used
    scene.tween(from, to, 1, 2);
    scene.data.resize(static_cast<std::size_t>(to), 0);
    scene.outline(kSquare);
    const Frame frame = decodeFrame(scene.data, list);
    ASSERT_EQ(frame.size(), 1u);
    expectNear(frame[0][1], drawingPoint(0, 100), "blend of equal outlines");
}

} // namespace
} // namespace lumarok

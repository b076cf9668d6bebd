#include "preview/preview_vertices.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace lumarok {
namespace {

LaserSample sample(int x, int y, int r, int g, int b) {
    return LaserSample{static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
                       static_cast<std::uint16_t>(r), static_cast<std::uint16_t>(g),
                       static_cast<std::uint16_t>(b)};
}

TEST(PreviewVertex, UndoesTheProjectorMirroringOnBothAxes) {
    const PreviewVertex origin = previewVertex(sample(0, 0, 0, 0, 0));
    EXPECT_EQ(origin.x, 4095.0f); // bottom-right corner of the window
    EXPECT_EQ(origin.y, 4095.0f);
    const PreviewVertex far = previewVertex(sample(4095, 4095, 0, 0, 0));
    EXPECT_EQ(far.x, 0.0f); // top-left corner
    EXPECT_EQ(far.y, 0.0f);
    // The axes are not swapped.
    const PreviewVertex asymmetric = previewVertex(sample(95, 4000, 0, 0, 0));
    EXPECT_EQ(asymmetric.x, 4000.0f);
    EXPECT_EQ(asymmetric.y, 95.0f);
}

TEST(PreviewVertex, ScalesLevelsToUnitColourWithBlueCountedTwice) {
    const PreviewVertex white = previewVertex(sample(0, 0, 4095, 4095, 4095));
    EXPECT_EQ(white.r, 1.0f);
    EXPECT_EQ(white.g, 1.0f);
    EXPECT_EQ(white.b, 2.0f); // left for OpenGL to clamp: full blue
    const PreviewVertex halfBlue = previewVertex(sample(0, 0, 0, 0, 1024));
    EXPECT_EQ(halfBlue.r, 0.0f);
    EXPECT_EQ(halfBlue.g, 0.0f);
    EXPECT_NEAR(halfBlue.b, 0.5f, 0.001f);
    const PreviewVertex mixed = previewVertex(sample(0, 0, 1365, 2730, 0));
    EXPECT_NEAR(mixed.r, 1.0f / 3.0f, 0.0001f);
    EXPECT_NEAR(mixed.g, 2.0f / 3.0f, 0.0001f);
    EXPECT_EQ(mixed.b, 0.0f);
}

TEST(PreviewSegments, FewerThanTwoSamplesDrawNothingAndClearTheOldList) {
    std::vector<PreviewVertex> vertices(7);
    buildPreviewSegments({}, vertices);
    EXPECT_TRUE(vertices.empty());
    vertices.resize(3);
    buildPreviewSegments({sample(2047, 2047, 4095, 4095, 4095)}, vertices);
    EXPECT_TRUE(vertices.empty());
}

TEST(PreviewSegments, JoinEveryConsecutivePairSoInnerSamplesAppearTwice) {
    const std::vector<LaserSample> samples{sample(4095, 4095, 0, 0, 0), // blank start
                                           sample(3095, 4095, 4095, 0, 0),
                                           sample(3095, 3095, 0, 4095, 0)};
    std::vector<PreviewVertex> vertices;
    buildPreviewSegments(samples, vertices);
    ASSERT_EQ(vertices.size(), 4u);
    // Segment 0: blank sample to the red one (a fade in, as the beam does).
    EXPECT_EQ(vertices[0].x, 0.0f);
    EXPECT_EQ(vertices[0].r, 0.0f);
    EXPECT_EQ(vertices[1].x, 1000.0f);
    EXPECT_EQ(vertices[1].y, 0.0f);
    EXPECT_EQ(vertices[1].r, 1.0f);
    // Segment 1 starts where segment 0 ended, with the same colour.
    EXPECT_EQ(vertices[2].x, vertices[1].x);
    EXPECT_EQ(vertices[2].y, vertices[1].y);
    EXPECT_EQ(vertices[2].r, vertices[1].r);
    EXPECT_EQ(vertices[3].x, 1000.0f);
    EXPECT_EQ(vertices[3].y, 1000.0f);
    EXPECT_EQ(vertices[3].g, 1.0f);
    EXPECT_EQ(vertices[3].r, 0.0f);
}

TEST(PreviewSegments, ReusedListHoldsOnlyTheLatestFrame) {
    std::vector<PreviewVertex> vertices;
    std::vector<LaserSample> many(50, sample(10, 10, 4095, 0, 0));
    buildPreviewSegments(many, vertices);
    EXPECT_EQ(vertices.size(), 98u);
    buildPreviewSegments({sample(0, 0, 0, 0, 0), sample(1, 1, 0, 0, 0)}, vertices);
    ASSERT_EQ(vertices.size(), 2u);
    EXPECT_EQ(vertices[1].x, 4094.0f);
    EXPECT_EQ(vertices[1].r, 0.0f);
}

} // namespace
} // namespace lumarok

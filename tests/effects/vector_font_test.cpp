#include "effects/vector_font.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace lumarok {
namespace {

TEST(VectorFont, MatchesTheTableGlyphByGlyph) {
    // Point counts per glyph from '!' to '_', and a weighted sum over every point
    // (in tenths) that changes when a value, its sign or its place is wrong.
    const std::vector<std::size_t> counts{7, 5, 8, 6, 8, 6, 2, 4, 4, 6, 5, 2, 2, 2, 2, 6,
                                          3, 6, 7, 6, 6, 5, 4, 8, 5, 5, 5, 3, 5, 3, 7, 8,
                                          8, 8, 4, 7, 7, 6, 6, 8, 8, 4, 6, 3, 5, 4, 5, 5,
                                          8, 8, 8, 5, 5, 3, 5, 5, 6, 7, 4, 2, 4, 3, 2};
    ASSERT_EQ(vectorFont.size(), counts.size());
    std::int64_t weighted = 0;
    for (std::size_t g = 0; g < vectorFont.size(); ++g) {
        EXPECT_EQ(vectorFont[g].size(), counts[g]) << "glyph " << g;
        for (std::size_t k = 0; k < vectorFont[g].size(); ++k) {
            const auto tenthsX = std::lround(vectorFont[g][k].x * 10.0f);
            const auto tenthsY = std::lround(vectorFont[g][k].y * 10.0f);
            const auto glyphWeight = static_cast<std::int64_t>(g + 1);
            const auto pointWeight = static_cast<std::int64_t>(k + 1);
            weighted += glyphWeight * (pointWeight * tenthsX * 3 + (pointWeight + 1) * tenthsY * 7);
        }
    }
    EXPECT_EQ(weighted, -395517);
}

TEST(VectorFont, StoresNearestFloatsWithinTheGlyphBox) {
    for (const Polyline& glyph : vectorFont) {
        for (const glm::vec2 p : glyph) {
            if (p.x == kPenUp) {
                continue;
            }
            EXPECT_EQ(p.x, static_cast<float>(std::round(p.x * 10.0) / 10.0));
            EXPECT_EQ(p.y, static_cast<float>(std::round(p.y * 10.0) / 10.0));
            EXPECT_GE(p.x, -0.4f);
            EXPECT_LE(p.x, 0.4f);
            EXPECT_GE(p.y, -0.6f);
            EXPECT_LE(p.y, 0.6f);
        }
    }
}

TEST(VectorFont, PenUpMarkersOnlySeparateStrokesOfTwoOrMorePoints) {
    for (std::size_t g = 0; g < vectorFont.size(); ++g) {
        const Polyline& glyph = vectorFont[g];
        ASSERT_FALSE(glyph.empty()) << "glyph " << g;
        EXPECT_NE(glyph.front().x, kPenUp) << "glyph " << g;
        EXPECT_NE(glyph.back().x, kPenUp) << "glyph " << g;
        std::size_t strokePoints = 0;
        for (const glm::vec2 p : glyph) {
            if (p.x == kPenUp) {
                EXPECT_EQ(p.y, -1.0f) << "glyph " << g;
                EXPECT_GE(strokePoints, 2u) << "glyph " << g;
                strokePoints = 0;
            } else {
                ++strokePoints;
            }
        }
        EXPECT_GE(strokePoints, 2u) << "glyph " << g;
    }
}

} // namespace
} // namespace lumarok

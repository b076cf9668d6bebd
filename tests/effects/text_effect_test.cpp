#include "effects/text_effect.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace lumarok {
namespace {

const glm::vec3 kWhite{1, 1, 1};

void expectPoint(glm::vec2 actual, float x, float y) {
    EXPECT_NEAR(actual.x, x, 0.01f);
    EXPECT_NEAR(actual.y, y, 0.01f);
}

std::vector<std::size_t> strokeSizes(const Frame& frame) {
    std::vector<std::size_t> sizes;
    for (const Polyline& stroke : frame) {
        sizes.push_back(stroke.size());
    }
    return sizes;
}

TEST(LayoutText, BeamAtFullAndThreeQuarterScale) {
    const Frame full = layoutText("BEAM", 1.0f);
    EXPECT_EQ(strokeSizes(full), (std::vector<std::size_t>{8, 4, 2, 5, 2, 5}));
    expectPoint(full[0][0], 102.4f, 2661.4f);
    // Last point of M, (0.4, -0.6) in the fourth cell.
    expectPoint(full[5][4], 3072.0f + 409.6f + 512.0f, 2661.4f);

    const Frame shrunk = layoutText("BEAM", 0.75f);
    EXPECT_EQ(strokeSizes(shrunk), strokeSizes(full));
    expectPoint(shrunk[0][0], 588.55f, 2507.8f);
}

TEST(LayoutText, OneLetterFillsTheWholeWidth) {
    const Frame frame = layoutText("O", 1.0f);
    ASSERT_EQ(frame.size(), 1u);
    const auto [minX, maxX] = std::minmax_element(
        frame[0].begin(), frame[0].end(), [](glm::vec2 a, glm::vec2 b) { return a.x < b.x; });
    const auto [minY, maxY] = std::minmax_element(
        frame[0].begin(), frame[0].end(), [](glm::vec2 a, glm::vec2 b) { return a.y < b.y; });
    EXPECT_NEAR(maxX->x - minX->x, 3276.8f, 0.01f);
    EXPECT_NEAR(maxY->y - minY->y, 4915.2f, 0.01f);
    // The glyph's top (y = 0.6) is the drawing space's smaller y.
    expectPoint(frame[0][1], 2048.0f - 1638.4f, 2047.0f - 2457.6f);
}

TEST(LayoutText, DashIsOneHorizontalStroke) {
    const Frame frame = layoutText("-", 1.0f);
    ASSERT_EQ(frame.size(), 1u);
    ASSERT_EQ(frame[0].size(), 2u);
    expectPoint(frame[0][0], 2048.0f - 819.2f, 2047.0f);
    expectPoint(frame[0][1], 2048.0f + 819.2f, 2047.0f);
}

TEST(LayoutText, CharactersWithoutGlyphAreBlanks) {
    // A space before '!', '`' after '_', lower case, DEL, a byte above 127 and NUL:
    // each keeps its cell and draws nothing, and never reads outside the font.
    const std::string word{'-', ' ', '`', 'a', '\x7f', '\xe9', '\0', '-'};
    const Frame frame = layoutText(word, 1.0f);
    ASSERT_EQ(frame.size(), 2u);
    const float cell = 4096.0f / 8.0f;
    expectPoint(frame[0][0], 0.3f * cell, 2047.0f);
    expectPoint(frame[1][0], 7.3f * cell, 2047.0f);

    EXPECT_TRUE(layoutText("   ", 1.0f).empty());
    EXPECT_TRUE(layoutText("", 1.0f).empty());
}

TEST(LayoutText, EveryGlyphStaysInItsCellInCharacterOrder) {
    std::string all;
    for (int code = 33; code <= 95; ++code) {
        all.push_back(static_cast<char>(code));
    }
    const Frame frame = layoutText(all, 1.0f);
    const float cell = 4096.0f / static_cast<float>(all.size());
    std::vector<int> cellsSeen;
    for (const Polyline& stroke : frame) {
        ASSERT_GE(stroke.size(), 2u);
        const int cellIndex = static_cast<int>(std::floor(stroke[0].x / cell));
        for (const glm::vec2 p : stroke) {
            // Glyphs are 0.8 cell wide and centred: 0.1 cell of margin each side.
            const float inCell = p.x / cell - static_cast<float>(cellIndex);
            EXPECT_GE(inCell, 0.1f - 1e-4f);
            EXPECT_LE(inCell, 0.9f + 1e-4f);
            EXPECT_LE(std::abs(p.y - 2047.0f), 0.6f * cell + 0.01f);
        }
        if (cellsSeen.empty() || cellsSeen.back() != cellIndex) {
            cellsSeen.push_back(cellIndex);
        }
    }
    ASSERT_EQ(cellsSeen.size(), 63u);
    for (std::size_t i = 0; i < cellsSeen.size(); ++i) {
        EXPECT_EQ(cellsSeen[i], static_cast<int>(i));
    }
}

TEST(TextEffect, WhiteWordRegardlessOfFrameAndTime) {
    const std::unique_ptr<Effect> effect = std::make_unique<TextEffect>(kWhite, 1.0f, "BEAM");
    const ColorFrame out = effect->apply(Frame{}, 0.0f);
    ASSERT_EQ(out.size(), 6u);
    for (const ColorPolyline& stroke : out) {
        for (const ColorPoint& p : stroke) {
            EXPECT_EQ(p.color, kWhite);
        }
    }
    EXPECT_EQ(out[0][0].position, layoutText("BEAM", 1.0f)[0][0]);

    const Frame busy{{{0, 0}, {4095, 4095}}, {}};
    for (const float time : {-1.0f, 100.5f, std::numeric_limits<float>::quiet_NaN()}) {
        const ColorFrame again = effect->apply(busy, time);
        ASSERT_EQ(again.size(), out.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(again[i].size(), out[i].size());
            for (std::size_t k = 0; k < out[i].size(); ++k) {
                EXPECT_EQ(again[i][k].position, out[i][k].position);
            }
        }
    }
    EXPECT_TRUE(TextEffect(kWhite, 0.75f, "").apply(busy, 1.0f).empty());
}

} // namespace
} // namespace lumarok

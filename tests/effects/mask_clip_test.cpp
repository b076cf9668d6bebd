// Clipping near close crossings and on mask edges, checked against a reference that
// classifies every stretch between exact crossings by its midpoint.
#include "effects/geometry.hpp"

#include <glm/geometric.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace lumarok {
namespace {

// Five-pointed closed star round the centre; tips at even indices, the first on top.
Polyline star() {
    Polyline points;
    for (int i = 0; i <= 10; ++i) {
        const double angle = -std::numbers::pi / 2 + std::numbers::pi * (i % 10) / 5;
        const double radius = i % 2 == 0 ? 1500.0 : 600.0;
        points.emplace_back(static_cast<float>(kCentre + radius * std::cos(angle)),
                            static_cast<float>(kCentre + radius * std::sin(angle)));
    }
    return points;
}

bool insideReference(const Polyline& mask, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0; i + 1 < mask.size(); ++i) {
        const double ax = mask[i].x, ay = mask[i].y, bx = mask[i + 1].x, by = mask[i + 1].y;
        if ((ay > y) != (by > y) && x < ax + (y - ay) * (bx - ax) / (by - ay)) {
            inside = !inside;
        }
    }
    return inside;
}

// Length of the straight chord a->b inside the closed mask, in double precision.
double insideLengthReference(const Polyline& mask, glm::vec2 a, glm::vec2 b) {
    std::vector<double> cuts{0.0, 1.0};
    const double dx = b.x - a.x, dy = b.y - a.y;
    for (std::size_t i = 0; i + 1 < mask.size(); ++i) {
        const double ex = mask[i + 1].x - mask[i].x, ey = mask[i + 1].y - mask[i].y;
        const double denom = dx * ey - dy * ex;
        if (denom == 0.0) {
            continue;
        }
        const double t = ((mask[i].x - a.x) * ey - (mask[i].y - a.y) * ex) / denom;
        const double u = ((mask[i].x - a.x) * dy - (mask[i].y - a.y) * dx) / denom;
        if (t > 0.0 && t < 1.0 && u >= 0.0 && u <= 1.0) {
            cuts.push_back(t);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    double inside = 0.0;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const double mid = (cuts[k] + cuts[k + 1]) / 2;
        if (insideReference(mask, a.x + dx * mid, a.y + dy * mid)) {
            inside += (cuts[k + 1] - cuts[k]) * std::hypot(dx, dy);
        }
    }
    return inside;
}

double keptLength(const Frame& pieces) {
    double length = 0.0;
    for (const Polyline& piece : pieces) {
        for (std::size_t i = 0; i + 1 < piece.size(); ++i) {
            length += glm::distance(glm::dvec2(piece[i]), glm::dvec2(piece[i + 1]));
        }
    }
    return length;
}

TEST(ClipPolylineToMask, ChordsPassingCloseToStarTipsKeepExactlyTheInside) {
    const Polyline mask = star();
    int chords = 0;
    for (int tip = 0; tip < 10; tip += 2) {
        const glm::vec2 at = mask[static_cast<std::size_t>(tip)];
        const glm::vec2 inward = glm::normalize(glm::vec2(kCentre, kCentre) - at);
        for (const float offset : {0.5f, 1.0f, 3.0f, 4.5f, 6.0f, 20.0f}) {
            for (const float tilt : {0.0f, 0.2f, -0.35f}) {
                const glm::vec2 across{-inward.y, inward.x};
                const glm::vec2 direction =
                    glm::normalize(across * std::cos(tilt) + inward * std::sin(tilt));
                const glm::vec2 through = at + inward * offset;
                const glm::vec2 a = through - direction * 2000.0f;
                const glm::vec2 b = through + direction * 2000.0f;
                const Frame pieces = clipPolylineToMask({a, b}, mask, true);
                EXPECT_NEAR(keptLength(pieces), insideLengthReference(mask, a, b), 0.05)
                    << "tip " << tip << " offset " << offset << " tilt " << tilt;
                ++chords;
            }
        }
    }
    EXPECT_EQ(chords, 90);
    // The reported case: 3 units below the top tip, about two units of line are inside.
    const glm::vec2 tipTop = mask[0];
    const Frame below = clipPolylineToMask({{0, tipTop.y + 3}, {4095, tipTop.y + 3}}, mask, true);
    EXPECT_LT(keptLength(below), 3.0);
    EXPECT_GT(keptLength(below), 1.0);
}

// Each case: the pieces kept inside and their length; what is kept outside makes up the
// rest of the line. A closed mask repeats its first point; an open one has no closing side.
TEST(ClipPolylineToMask, KeepsTheInsideAndTheOutsideOfEachLine) {
    const Polyline square{{1000, 1000}, {3000, 1000}, {3000, 3000}, {1000, 3000}, {1000, 1000}};
    const Polyline openSquare(square.begin(), square.end() - 1);
    const Polyline small{{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}};
    // Near x = 4000 a float step is 1/4096: the mask sits on the crossing's float, so a
    // step past it rounds away and the same crossing must not be found again.
    const float ulp = 1.0f / 4096.0f;
    const float maskX = 4000.0f + 205.0f * ulp;
    const Polyline fine{{maskX, -10}, {maskX, 10}};
    const std::size_t any = SIZE_MAX;
    struct Case {
        const char* what;
        Polyline line;
        Polyline mask;
        std::size_t piecesIn;
        double inside;
        std::size_t piecesOut;
    };
    const Case cases[] = {
        {"through", {{500, 2000}, {3500, 2000}}, square, 1, 2000, 2},
        {"wholly inside", {{1500, 1500}, {2500, 1500}, {2500, 2500}}, square, 1, 2000, 0},
        {"wholly outside", {{100, 100}, {200, 300}}, square, 0, 0, 1},
        {"zigzag out and back",
         {{2000, 2000}, {3500, 2000}, {3500, 2500}, {2500, 2500}},
         square,
         2,
         1500,
         1},
        {"closed mask", {{500, 2000}, {1500, 2000}}, square, 1, 500, 1},
        {"open mask: no left side", {{500, 2000}, {1500, 2000}}, openSquare, 1, 1000, 0},
        {"no mask", {{0, 0}, {4000, 4000}, {0, 4000}}, {}, 0, 0, 1},
        {"one-point mask", {{0, 0}, {4000, 4000}, {0, 4000}}, {{2000, 2000}}, 0, 0, 1},
        {"no line", {}, square, 0, 0, 0},
        {"no line, no mask", {}, {}, 0, 0, 0},
        {"a dot inside", {{2000, 2000}}, square, 1, 0, any},
        {"out through a corner",
         {{2000, 2000}, {3500, 3500}},
         square,
         1,
         1000 * std::sqrt(2.0),
         any},
        {"crossing below resolution", {{4000, 0}, {4000 + 410 * ulp, 0}}, fine, 1, 205 * ulp, any},
        {"... y a denormal", {{4000, 0}, {4000 + 410 * ulp, 2.5e-41f}}, fine, 1, 205 * ulp, any},
        {"... y a thousandth", {{4000, 0}, {4000 + 410 * ulp, 1e-3f}}, fine, 1, -1, any},
        {"enters through a vertex", {{50, -50}, {50, 0}, {50, 50}}, small, 1, 50, any},
        {"leaves through it", {{50, 50}, {50, 0}, {50, -50}}, small, 1, 50, any},
        {"touches from outside", {{20, -30}, {50, 0}, {80, -30}}, small, any, 0, any},
        {"touches from inside",
         {{20, 30}, {50, 0}, {80, 30}},
         small,
         any,
         2 * std::hypot(30, 30),
         any},
        {"vertices on both sides",
         {{-50, 50}, {0, 50}, {50, 50}, {100, 50}, {150, 50}},
         small,
         any,
         100,
         any},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Frame inside = clipPolylineToMask(c.line, c.mask, true);
        const Frame outside = clipPolylineToMask(c.line, c.mask, false);
        if (c.piecesIn != any) {
            EXPECT_EQ(inside.size(), c.piecesIn);
        }
        if (c.piecesOut != any) {
            EXPECT_EQ(outside.size(), c.piecesOut);
        }
        if (c.inside >= 0) { // -1: not checked
            EXPECT_NEAR(keptLength(inside), c.inside, 0.01);
        }
        EXPECT_NEAR(keptLength(inside) + keptLength(outside), keptLength({c.line}), 0.01);
        if (c.piecesIn == 1 && c.line.size() == 2 && c.mask == fine) {
            EXPECT_EQ(inside[0][0], c.line[0]);
            EXPECT_EQ(inside[0][1].x, maskX);
        }
    }
    // Points that are not numbers end without a hang or a crash, in a bounded number of pieces.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_LE(clipPolylineToMask({{2000, 2000}, {nan, 2000}, {3500, 2000}}, square, true).size(),
              2u);
    Polyline nanMask = square;
    nanMask[2] = {nan, nan};
    EXPECT_LE(clipPolylineToMask({{500, 2000}, {3500, 2000}}, nanMask, true).size(), 2u);
}

TEST(ClipPolylineToMask, PreparedMaskGivesTheSamePiecesAndAppends) {
    const Polyline mask = star();
    const MaskIndex index(mask);
    Frame pieces{{{1, 1}}};
    const Polyline wave{{100, 1500}, {1200, 2600}, {2000, 900}, {3100, 2400}, {4000, 1800}};
    GeometryScratch scratch;
    clipPolylineToMask(wave, index, true, pieces, scratch);
    const Frame direct = clipPolylineToMask(wave, mask, true);
    ASSERT_EQ(pieces.size(), direct.size() + 1);
    EXPECT_TRUE(std::equal(direct.begin(), direct.end(), pieces.begin() + 1));
}

} // namespace
} // namespace lumarok

// Clipping near close crossings and on mask edges, checked against a reference that
// classifies every stretch between exact crossings by its midpoint.
#include "effects/geometry.hpp"

#include <glm/geometric.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

TEST(ClipPolylineToMask, PolylineVertexOnAMaskEdge) {
    const Polyline square{{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}};
    struct Case {
        Polyline polyline;
        double inside; // length kept inside
    };
    const Case cases[] = {
        {{{50, -50}, {50, 0}, {50, 50}}, 50.0},                        // enters through the vertex
        {{{50, 50}, {50, 0}, {50, -50}}, 50.0},                        // leaves through it
        {{{20, -30}, {50, 0}, {80, -30}}, 0.0},                        // touches from outside
        {{{20, 30}, {50, 0}, {80, 30}}, 2 * std::hypot(30.0, 30.0)},   // touches from inside
        {{{-50, 50}, {0, 50}, {50, 50}, {100, 50}, {150, 50}}, 100.0}, // vertices on both sides
    };
    for (const Case& c : cases) {
        const Frame pieces = clipPolylineToMask(c.polyline, square, true);
        EXPECT_NEAR(keptLength(pieces), c.inside, 1e-3)
            << c.polyline[0].x << "," << c.polyline[0].y;
        const Frame outside = clipPolylineToMask(c.polyline, square, false);
        EXPECT_NEAR(keptLength(pieces) + keptLength(outside), keptLength({c.polyline}), 1e-3);
    }
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

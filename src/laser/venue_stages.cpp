#include "laser/venue_stages.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace lumarok {

namespace {

constexpr double kMax = 4095.0;

double cross(const OutputPoint& o, const OutputPoint& p, const OutputPoint& q) {
    return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x);
}

std::uint16_t curved(const ColourCurve& curve, double level) {
    if (level <= 0.0) {
        return 0;
    }
    const double percent =
        curve.min + (curve.max - curve.min) * std::pow(std::min(level, kMax) / kMax, curve.gamma);
    return static_cast<std::uint16_t>(std::clamp(std::lround(kMax * percent / 100.0), 0L, 4095L));
}

} // namespace

CornerMap::CornerMap(const std::array<OutputPoint, 4>& p) {
    // Convex, in order: the four turns along the outline all go the same way.
    int positive = 0;
    int negative = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const double turn = cross(p[i], p[(i + 1) % 4], p[(i + 2) % 4]);
        positive += turn > 0.0 ? 1 : 0;
        negative += turn < 0.0 ? 1 : 0;
    }
    if (positive != 4 && negative != 4) {
        throw std::invalid_argument("the corners must make a convex four-sided figure, in the "
                                    "order (0,0), (4095,0), (4095,4095), (0,4095) land");
    }
    // The unit square to the quadrilateral (p0 at (0,0), p1 at (1,0), p2 at (1,1)).
    const double dx1 = p[1].x - p[2].x;
    const double dx2 = p[3].x - p[2].x;
    const double dx3 = p[0].x - p[1].x + p[2].x - p[3].x;
    const double dy1 = p[1].y - p[2].y;
    const double dy2 = p[3].y - p[2].y;
    const double dy3 = p[0].y - p[1].y + p[2].y - p[3].y;
    const double det = dx1 * dy2 - dx2 * dy1;
    g = (dx3 * dy2 - dx2 * dy3) / det;
    h = (dx1 * dy3 - dx3 * dy1) / det;
    a = p[1].x - p[0].x + g * p[1].x;
    b = p[3].x - p[0].x + h * p[3].x;
    c = p[0].x;
    d = p[1].y - p[0].y + g * p[1].y;
    e = p[3].y - p[0].y + h * p[3].y;
    f = p[0].y;
}

OutputPoint CornerMap::operator()(double x, double y) const {
    const double u = x / kMax;
    const double v = y / kMax;
    const double w = g * u + h * v + 1.0; // above 0 over the square for a convex figure
    return {(a * u + b * v + c) / w, (d * u + e * v + f) / w};
}

void mapCorners(const CornerMap& map, std::vector<LaserSample>& samples) {
    for (LaserSample& sample : samples) {
        const OutputPoint p = map(sample.x, sample.y);
        const bool outside = !(p.x >= 0.0 && p.x <= kMax && p.y >= 0.0 && p.y <= kMax);
        sample.x = static_cast<std::uint16_t>(std::lround(std::clamp(p.x, 0.0, kMax)));
        sample.y = static_cast<std::uint16_t>(std::lround(std::clamp(p.y, 0.0, kMax)));
        if (outside) {
            sample.r = sample.g = sample.b = 0;
        }
    }
}

void balanceColour(const ColourBalance& balance, std::vector<LaserSample>& samples) {
    const double scale = balance.intensity / 100.0;
    for (LaserSample& s : samples) {
        s.r = curved(balance.red, std::round(s.r * scale));
        s.g = curved(balance.green, std::round(s.g * scale));
        s.b = curved(balance.blue, std::round(s.b * scale));
    }
    const auto shift = static_cast<std::size_t>(std::max(balance.shift, 0));
    // From the end, so that each colour is read before it is overwritten.
    for (std::size_t i = samples.size(); i-- > 0;) {
        LaserSample& s = samples[i];
        if (i >= shift) {
            s.r = samples[i - shift].r;
            s.g = samples[i - shift].g;
            s.b = samples[i - shift].b;
        } else {
            s.r = s.g = s.b = 0;
        }
    }
}

} // namespace lumarok

#include "app/venue_zones.hpp"

#include <algorithm>
#include <cmath>

namespace lumarok {

namespace {

bool lit(const LaserSample& s) {
    return s.r != 0 || s.g != 0 || s.b != 0;
}

OutputPoint at(const LaserSample& s) {
    return {static_cast<double>(s.x), static_cast<double>(s.y)};
}

LaserSample dark(LaserSample s) {
    s.r = s.g = s.b = 0;
    return s;
}

bool fences(const Zone& zone) {
    return zone.kind != ZoneKind::attenuate;
}

// Even-odd rule.
bool inside(const Zone& zone, OutputPoint p) {
    bool odd = false;
    const std::vector<OutputPoint>& v = zone.points;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
        if ((v[i].y > p.y) != (v[j].y > p.y) &&
            p.x < (v[j].x - v[i].x) * (p.y - v[i].y) / (v[j].y - v[i].y) + v[i].x) {
            odd = !odd;
        }
    }
    return odd;
}

bool onOutline(const Zone& zone, OutputPoint p) {
    const std::vector<OutputPoint>& v = zone.points;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
        const double cross =
            (v[i].x - v[j].x) * (p.y - v[j].y) - (v[i].y - v[j].y) * (p.x - v[j].x);
        const double length = std::hypot(v[i].x - v[j].x, v[i].y - v[j].y);
        if (std::fabs(cross) <= 1e-9 * std::max(length, 1.0) &&
            p.x >= std::min(v[i].x, v[j].x) - 1e-9 && p.x <= std::max(v[i].x, v[j].x) + 1e-9 &&
            p.y >= std::min(v[i].y, v[j].y) - 1e-9 && p.y <= std::max(v[i].y, v[j].y) + 1e-9) {
            return true;
        }
    }
    return false;
}

// Where along a -> b (0..1, ends excluded) the line meets a fencing outline.
void crossings(std::span<const Zone> zones, OutputPoint a, OutputPoint b, std::vector<double>& ts) {
    const double rx = b.x - a.x;
    const double ry = b.y - a.y;
    for (const Zone& zone : zones) {
        if (!fences(zone)) {
            continue;
        }
        const std::vector<OutputPoint>& v = zone.points;
        for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
            const OutputPoint q = v[j];
            const double sx = v[i].x - q.x;
            const double sy = v[i].y - q.y;
            const double denominator = rx * sy - ry * sx;
            const double qx = q.x - a.x;
            const double qy = q.y - a.y;
            if (denominator == 0.0) {
                // Parallel: where an edge on the same line starts and ends.
                const double squared = rx * rx + ry * ry;
                if (qx * ry - qy * rx == 0.0 && squared > 0.0) {
                    ts.push_back((qx * rx + qy * ry) / squared);
                    ts.push_back(((v[i].x - a.x) * rx + (v[i].y - a.y) * ry) / squared);
                }
                continue;
            }
            const double t = (qx * sy - qy * sx) / denominator;
            const double u = (qx * ry - qy * rx) / denominator;
            if (u >= 0.0 && u <= 1.0) {
                ts.push_back(t);
            }
        }
    }
    std::erase_if(ts, [](double t) { return !(t > 0.0 && t < 1.0); });
    std::sort(ts.begin(), ts.end());
}

OutputPoint along(OutputPoint a, OutputPoint b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

LaserSample sampleAt(OutputPoint p, const LaserSample& colour) {
    LaserSample s = colour;
    s.x = static_cast<std::uint16_t>(std::lround(std::clamp(p.x, 0.0, 4095.0)));
    s.y = static_cast<std::uint16_t>(std::lround(std::clamp(p.y, 0.0, 4095.0)));
    return s;
}

// Appends s after the last sample so that the rule holds whatever rounding did: a lit
// line that would break it becomes a dark move between the two points.
void pushSafely(std::span<const Zone> zones, std::vector<LaserSample>& out, LaserSample s) {
    if (lit(s) && !mayBeLit(zones, at(s))) {
        s = dark(s);
    }
    if (!out.empty()) {
        const LaserSample last = out.back();
        if ((lit(last) || lit(s)) && !mayDrawLit(zones, at(last), at(s))) {
            if (lit(last)) {
                out.push_back(dark(last));
            }
            if (lit(s)) {
                out.push_back(dark(s));
            }
        }
    }
    out.push_back(s);
}

} // namespace

bool mayBeLit(std::span<const Zone> zones, OutputPoint point) {
    bool keepIns = false;
    bool inKeepIn = false;
    for (const Zone& zone : zones) {
        if (zone.kind == ZoneKind::keepOut && inside(zone, point) && !onOutline(zone, point)) {
            return false;
        }
        if (zone.kind == ZoneKind::keepIn) {
            keepIns = true;
            inKeepIn = inKeepIn || inside(zone, point) || onOutline(zone, point);
        }
    }
    return !keepIns || inKeepIn;
}

bool mayDrawLit(std::span<const Zone> zones, OutputPoint a, OutputPoint b) {
    if (!mayBeLit(zones, a) || !mayBeLit(zones, b)) {
        return false;
    }
    std::vector<double> ts;
    crossings(zones, a, b, ts);
    double from = 0.0;
    ts.push_back(1.0);
    for (const double t : ts) {
        if (t > from && !mayBeLit(zones, along(a, b, (from + t) / 2.0))) {
            return false;
        }
        from = t;
    }
    return true;
}

void applyZones(std::span<const Zone> zones, std::span<const LaserSample> in,
                std::vector<LaserSample>& out) {
    out.clear();
    out.reserve(in.size() + in.size() / 8);
    std::vector<double> ts;
    for (LaserSample s : in) {
        for (const Zone& zone : zones) {
            if (zone.kind == ZoneKind::attenuate && inside(zone, at(s))) {
                const double keep = zone.level / 100.0;
                s.r = static_cast<std::uint16_t>(std::floor(s.r * keep));
                s.g = static_cast<std::uint16_t>(std::floor(s.g * keep));
                s.b = static_cast<std::uint16_t>(std::floor(s.b * keep));
            }
        }
        if (lit(s) && !mayBeLit(zones, at(s))) {
            s = dark(s);
        }
        if (out.empty() || (!lit(out.back()) && !lit(s)) ||
            mayDrawLit(zones, at(out.back()), at(s))) {
            out.push_back(s);
            continue;
        }
        // Lit where allowed, dark where not, switching at each crossing.
        const LaserSample last = out.back();
        const LaserSample colour = lit(s) ? s : last;
        const OutputPoint a = at(last);
        const OutputPoint b = at(s);
        ts.clear();
        crossings(zones, a, b, ts);
        ts.push_back(1.0);
        double from = 0.0;
        bool wasAllowed = lit(last);
        for (const double t : ts) {
            if (!(t > from)) {
                continue;
            }
            const bool allowed = mayBeLit(zones, along(a, b, (from + t) / 2.0));
            if (allowed != wasAllowed && from > 0.0) {
                const LaserSample crossing = sampleAt(along(a, b, from), colour);
                pushSafely(zones, out, allowed ? dark(crossing) : crossing);
                pushSafely(zones, out, allowed ? crossing : dark(crossing));
            } else if (allowed != wasAllowed && !allowed) {
                pushSafely(zones, out, dark(last)); // the first stretch already leaves
            }
            wasAllowed = allowed;
            from = t;
        }
        pushSafely(zones, out, wasAllowed ? s : dark(s));
    }
}

} // namespace lumarok

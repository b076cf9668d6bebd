#include "laser/venue_zones.hpp"

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

OutputPoint along(OutputPoint a, OutputPoint b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

struct Cut {
    double t;
    std::size_t zone;
};

// Scratch lists of one pass, kept so that steady frames do not allocate.
struct Scratch {
    std::vector<Cut> cuts;
    std::vector<char> inside;
};

// Splits a -> b where it crosses fencing outlines: `ends` gets where each stretch ends
// (the last at 1) and `allowed` whether a lit beam may be there. Where a line only
// crosses outlines cleanly, each crossing turns its zone's inside over (even-odd); a
// line through a corner, along an edge or from an outline is judged stretch by
// stretch instead, by the midpoint of each.
void stretches(std::span<const Zone> zones, OutputPoint a, OutputPoint b, Scratch& scratch,
               std::vector<double>& ends, std::vector<char>& allowed) {
    std::vector<Cut>& cuts = scratch.cuts;
    cuts.clear();
    ends.clear();
    allowed.clear();
    const double rx = b.x - a.x;
    const double ry = b.y - a.y;
    bool awkward = rx == 0.0 && ry == 0.0;
    for (std::size_t z = 0; z < zones.size() && !awkward; ++z) {
        if (!fences(zones[z])) {
            continue;
        }
        const std::vector<OutputPoint>& v = zones[z].points;
        for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
            const OutputPoint q = v[j];
            const double sx = v[i].x - q.x;
            const double sy = v[i].y - q.y;
            const double qx = q.x - a.x;
            const double qy = q.y - a.y;
            const double denominator = rx * sy - ry * sx;
            if (denominator == 0.0) {
                awkward = awkward || qx * ry - qy * rx == 0.0; // on the same line
                continue;
            }
            const double t = (qx * sy - qy * sx) / denominator;
            const double u = (qx * ry - qy * rx) / denominator;
            if (u < 0.0 || u > 1.0 || t < 0.0 || t > 1.0) {
                continue;
            }
            if (u == 0.0 || u == 1.0 || t == 0.0 || t == 1.0) {
                awkward = true;
                break;
            }
            cuts.push_back({t, z});
        }
    }
    std::sort(cuts.begin(), cuts.end(), [](const Cut& x, const Cut& y) { return x.t < y.t; });
    if (awkward) {
        for (std::size_t z = 0; z < zones.size(); ++z) {
            if (!fences(zones[z])) {
                continue;
            }
            const std::vector<OutputPoint>& v = zones[z].points;
            for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
                // Where the line meets each edge's ends and crosses it, ends of a -> b kept out.
                const double squared = rx * rx + ry * ry;
                if (squared > 0.0) {
                    ends.push_back(((v[j].x - a.x) * rx + (v[j].y - a.y) * ry) / squared);
                }
            }
        }
        for (const Cut& cut : cuts) {
            ends.push_back(cut.t);
        }
        std::erase_if(ends, [](double t) { return !(t > 0.0 && t < 1.0); });
        std::sort(ends.begin(), ends.end());
        ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
        ends.push_back(1.0);
        double from = 0.0;
        for (const double t : ends) {
            allowed.push_back(mayBeLit(zones, along(a, b, (from + t) / 2.0)) ? 1 : 0);
            from = t;
        }
        return;
    }
    std::vector<char>& in = scratch.inside;
    in.assign(zones.size(), 0);
    for (std::size_t z = 0; z < zones.size(); ++z) {
        in[z] = fences(zones[z]) && inside(zones[z], a) ? 1 : 0;
    }
    const auto judge = [&] {
        bool keepIns = false;
        bool inKeepIn = false;
        for (std::size_t z = 0; z < zones.size(); ++z) {
            if (zones[z].kind == ZoneKind::keepOut && in[z] != 0) {
                return false;
            }
            if (zones[z].kind == ZoneKind::keepIn) {
                keepIns = true;
                inKeepIn = inKeepIn || in[z] != 0;
            }
        }
        return !keepIns || inKeepIn;
    };
    double from = 0.0;
    for (const Cut& cut : cuts) {
        if (cut.t > from) { // outlines crossed at one point make no stretch between them
            ends.push_back(cut.t);
            allowed.push_back(judge() ? 1 : 0);
            from = cut.t;
        }
        in[cut.zone] ^= 1;
    }
    ends.push_back(1.0);
    allowed.push_back(judge() ? 1 : 0);
}

LaserSample sampleAt(OutputPoint p, const LaserSample& colour) {
    LaserSample s = colour;
    s.x = static_cast<std::uint16_t>(std::lround(std::clamp(p.x, 0.0, 4095.0)));
    s.y = static_cast<std::uint16_t>(std::lround(std::clamp(p.y, 0.0, 4095.0)));
    return s;
}

// Stretches and their verdicts, with the lists they need.
struct Pass {
    Scratch scratch;
    std::vector<double> ends;
    std::vector<char> allowed;
    // Whether a lit beam may run the whole way from a to b.
    bool clear(std::span<const Zone> zones, OutputPoint a, OutputPoint b) {
        if (!mayBeLit(zones, a) || !mayBeLit(zones, b)) {
            return false;
        }
        stretches(zones, a, b, scratch, ends, allowed);
        return std::all_of(allowed.begin(), allowed.end(), [](char ok) { return ok != 0; });
    }
};

// Appends s after the last sample so that the rule holds whatever rounding did: a lit
// line that would break it becomes a dark move between the two points.
void pushSafely(std::span<const Zone> zones, Pass& pass, std::vector<LaserSample>& out,
                LaserSample s) {
    if (lit(s) && !mayBeLit(zones, at(s))) {
        s = dark(s);
    }
    if (!out.empty()) {
        const LaserSample last = out.back();
        if ((lit(last) || lit(s)) && !pass.clear(zones, at(last), at(s))) {
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
    Pass pass;
    return pass.clear(zones, a, b);
}

void applyZones(std::span<const Zone> zones, std::span<const LaserSample> in,
                std::vector<LaserSample>& out) {
    out.clear();
    out.reserve(in.size() + in.size() / 8);
    Pass pass;
    Pass check; // for the samples inserted at crossings
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
        if (out.empty() || (!lit(out.back()) && !lit(s))) {
            out.push_back(s);
            continue;
        }
        const LaserSample last = out.back();
        const OutputPoint a = at(last);
        const OutputPoint b = at(s);
        stretches(zones, a, b, pass.scratch, pass.ends, pass.allowed);
        if (std::all_of(pass.allowed.begin(), pass.allowed.end(),
                        [](char ok) { return ok != 0; })) {
            out.push_back(s);
            continue;
        }
        // Lit where allowed, dark where not, switching at each crossing.
        const LaserSample colour = lit(s) ? s : last;
        bool wasAllowed = lit(last);
        double from = 0.0;
        for (std::size_t k = 0; k < pass.ends.size(); ++k) {
            const bool allowed = pass.allowed[k] != 0;
            if (allowed != wasAllowed && from > 0.0) {
                const LaserSample crossing = sampleAt(along(a, b, from), colour);
                pushSafely(zones, check, out, allowed ? dark(crossing) : crossing);
                pushSafely(zones, check, out, allowed ? crossing : dark(crossing));
            } else if (allowed != wasAllowed && !allowed) {
                pushSafely(zones, check, out, dark(last)); // the first stretch already leaves
            }
            wasAllowed = allowed;
            from = pass.ends[k];
        }
        pushSafely(zones, check, out, wasAllowed ? s : dark(s));
    }
}

} // namespace lumarok

#include "laser/static_guard.hpp"

#include <algorithm>
#include <cmath>

namespace lumarok {

namespace {

constexpr double kNominalSampleRate = 30000.0;

} // namespace

StaticGuard::Change StaticGuard::apply(std::vector<LaserSample>& frame, Clock::time_point now) {
    still = {};
    if (!(settings.size > 0.0)) {
        return Change::none;
    }
    bool anyLit = false;
    Box lit{4095, 4095, 0, 0};
    for (const LaserSample& s : frame) {
        if (s.r != 0 || s.g != 0 || s.b != 0) {
            anyLit = true;
            lit = {std::min<int>(lit.left, s.x), std::min<int>(lit.top, s.y),
                   std::max<int>(lit.right, s.x), std::max<int>(lit.bottom, s.y)};
        }
    }
    const double side = settings.size / 100.0 * 4095.0;
    const auto small = [side](const Box& b) {
        return b.right - b.left <= side && b.bottom - b.top <= side;
    };
    if (!anyLit) {
        holding = false; // nothing lit: no beam stands anywhere
        return Change::none;
    }
    if (!small(lit)) {
        holding = false;
        if (dark) {
            dark = false;
            return Change::released;
        }
        return Change::none;
    }
    const Box joined{std::min(box.left, lit.left), std::min(box.top, lit.top),
                     std::max(box.right, lit.right), std::max(box.bottom, lit.bottom)};
    if (holding && small(joined)) {
        box = joined;
    } else {
        holding = true;
        box = lit;
        since = now;
    }
    const auto frameLength = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frame.size()) / kNominalSampleRate));
    still = now + frameLength - since;
    Change change = Change::none;
    if (!dark && still > std::chrono::milliseconds(settings.afterMs)) {
        dark = true;
        change = Change::tripped;
    }
    if (dark) {
        for (LaserSample& s : frame) {
            s.r = s.g = s.b = 0;
        }
    }
    return change;
}

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <array>
#include <span>
#include <vector>

namespace lumarok {

// A point in the projector's output coordinates (0..4095, as the samples on the wire).
struct OutputPoint {
    double x = 0.0;
    double y = 0.0;
};

// The perspective map that takes the output square's corners (0,0), (4095,0),
// (4095,4095), (0,4095) to four given points: keystone correction.
class CornerMap {
public:
    // Throws std::invalid_argument unless the points make a convex four-sided figure
    // in that order (either way round).
    explicit CornerMap(const std::array<OutputPoint, 4>& corners);
    [[nodiscard]] OutputPoint operator()(double x, double y) const;

private:
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0, g = 0, h = 0;
};

// Maps every sample in place; one landing outside 0..4095 is held at the edge, dark.
void mapCorners(const CornerMap& map, std::vector<LaserSample>& samples);

// One diode's curve, in percent of full level: a lit level v becomes
// round(4095 * (min + (max - min) * (v / 4095)^gamma) / 100); 0 stays 0.
struct ColourCurve {
    double min = 0.0;
    double max = 100.0;
    double gamma = 1.0;
    [[nodiscard]] bool neutral() const { return min == 0.0 && max == 100.0 && gamma == 1.0; }
};

struct ColourBalance {
    double intensity = 100.0; // percent, multiplies every level first
    ColourCurve red, green, blue;
    int shift = 0; // colours move this many samples later against the positions
    [[nodiscard]] bool neutral() const {
        return intensity == 100.0 && red.neutral() && green.neutral() && blue.neutral() &&
               shift == 0;
    }
};

// Intensity, curves, then the shift (the first `shift` samples dark), in place.
void balanceColour(const ColourBalance& balance, std::vector<LaserSample>& samples);

} // namespace lumarok

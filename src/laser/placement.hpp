#pragma once

#include <span>
#include <string>
#include <vector>

namespace lumarok {

struct LaserSample; // laser/laser_sample.hpp: the option parser needs no laser headers

// Where one projector draws the shared picture, in drawing units (0..4095, centre
// 2047, y downward): mirrored, turned, scaled about the centre and moved, in that
// order whatever order the words were written in.
struct Placement {
    bool flipX = false;   // x becomes 4095 - x
    bool flipY = false;   // y becomes 4095 - y
    int quarterTurns = 0; // clockwise as the preview shows it, 0..3
    // A turn that is no multiple of 90 degrees, clockwise, in (0, 360); 0 when the
    // turn is whole quarters, which stay exact.
    float turnDegrees = 0.0f;
    float scale = 1.0f;   // about the centre, > 0
    float offsetX = 0.0f; // drawing units, + to the right
    float offsetY = 0.0f; // drawing units, + downward
    [[nodiscard]] bool identity() const {
        return !flipX && !flipY && quarterTurns == 0 && turnDegrees == 0.0f && scale == 1.0f &&
               offsetX == 0.0f && offsetY == 0.0f;
    }
};

// Reads "flip-x,flip-y,rotate=DEG,scale=F,offset=DX:DY" (any subset, each word at
// most once; DEG any angle). Throws std::invalid_argument naming the fault.
[[nodiscard]] Placement parsePlacement(const std::string& text);

// Sets the turn from an angle in degrees (clockwise, any sign): whole quarter turns as
// quarterTurns, any other angle as turnDegrees. Throws std::invalid_argument for an
// angle that is not finite or beyond ten whole turns.
void setTurn(Placement& placement, double degrees);
// Checks scale and offsets; throws std::invalid_argument naming the fault.
void checkPlacement(const Placement& placement);

// `placed` becomes `samples` moved by the placement. A sample placed outside the
// projector's range is held at the edge and dark, so no lit line runs along it.
void placeSamples(const Placement& placement, std::span<const LaserSample> samples,
                  std::vector<LaserSample>& placed);

} // namespace lumarok

#pragma once

#include "app/laser_show.hpp"

#include <functional>

namespace lumarok {

// Wraps the laser mode's frame builder: a seam for test programs (a render that
// stalls), never used by the player itself.
using LaserFrameWrap = std::function<LaserFrameBuilder(LaserFrameBuilder)>;

// The program: reads the command line, starts the show and runs it in the preview
// window, on a laser projector (-laser) or once into a file (--render). Every error
// that ends it is printed as one line "lumarok: <what>" on stderr. Returns the exit
// status: 0 after an orderly end, 1 after an error.
int runShow(int argc, char** argv, const LaserFrameWrap& wrap = {});

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"

#include <functional>
#include <string>
#include <vector>

namespace lumarok {

// The readout's lines for the current frame, given the frame rate the window reaches.
using ReadoutFunction = std::function<std::vector<std::string>(double framesPerSecond)>;

// Opens the 1024 x 1024 window "single triangle" and redraws it continuously, at most
// kPreviewFrameCap times a second, until the window is closed or Esc / q is pressed;
// then returns 0. With a `readout`, its lines are written over the show in the vector
// font; h hides and shows them (shown at start). b toggles a blackout, + and - move
// the master level in steps of 10 % (never above the start), each change one line on
// stderr.
//
// `renderFrame` fills the sample list for the current show time; the list is
// kept and handed back on every redraw. argc/argv go to glutInit, which may
// remove the X options it consumes (such as -display).
//
// Throws std::runtime_error, before any window exists, when no X display with
// GLX can be opened. An exception thrown by `renderFrame` ends the event loop
// and is rethrown here once the loop has returned. With `reportRate` the frame count and
// rate go to stderr on exit.
//
// Thread: main thread only; not reentrant.
inline constexpr double kPreviewFrameCap = 120.0;

int runPreview(int& argc, char** argv,
               const std::function<void(std::vector<LaserSample>&)>& renderFrame,
               const ReadoutFunction& readout = {}, bool reportRate = false);

} // namespace lumarok

#pragma once

#include "core/laser_sample.hpp"
#include "show/show_end.hpp"

#include <glm/vec2.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace lumarok {

class ShowObjects;
struct Options;
struct Venue;

// Draws the frame for the show time at `drawFor` on the steady clock (zero: now) into
// `samples` (emptied and refilled), the beam starting where the last frame left it;
// returns where it ends. `showSeconds` receives the show time drawn.
using LaserFrameBuilder =
    std::function<glm::vec2(std::vector<LaserSample>& samples, glm::vec2 beam, double& showSeconds,
                            std::chrono::steady_clock::time_point drawFor)>;

// The bundled show's frames at the clock's show time, with this colour intensity, and
// after the show's end as `end` says (dark: no samples). The show objects must outlive it.
[[nodiscard]] LaserFrameBuilder showFrameBuilder(const ShowObjects& show, float intensity,
                                                 ShowEnd end = {});

// Laser mode, on one projector or many: one stream per projector (link, pacing, sender,
// safety rules, lost and found), one render per show time handed to every stream that
// plays, each placed and sent by its own sender, and one status for all. A projector
// lost mid-show goes dark and is looked for again while the others play on; the show
// never gives up on a projector. With --on-beat each frame is drawn for the moment its
// first sample is played (the latest the projectors that asked for it name; they are in
// step) less --latency, and each projector leads it with dark samples up to that moment. Ends on a
// stop signal with every projector dark and switched off. `build` draws each frame. Each
// projector's copy is corrected by its entry of `venue` (may be null) and watched by its
// static-beam guard.
void runLaserShow(const ShowObjects& show, const Options& options, LaserFrameBuilder build,
                  std::shared_ptr<const Venue> venue = nullptr);

} // namespace lumarok

#pragma once

namespace lumarok {

class ShowObjects;
struct Options;

// Laser mode on several projectors (--projector given more than once, with a
// placement, or as "all"): one render per show time, handed to every projector that
// plays, each placed and sent by its own sender. A projector lost mid-show goes dark
// and is looked for again while the others play on. Ends on a stop signal with every
// projector dark and switched off.
void runMultiLaserMode(const ShowObjects& show, const Options& options, float intensity);

// Whether the command line asks for the mode above rather than for one projector.
[[nodiscard]] bool wantsSeveralProjectors(const Options& options);

} // namespace lumarok

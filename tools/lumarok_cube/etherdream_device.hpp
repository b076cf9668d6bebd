#pragma once

#include <string>
#include <vector>

namespace lumarok::cube {

// lumarok-cube --kind etherdream: a virtual Ether Dream DAC. `arguments` are those after
// the kind. Returns the exit status; throws std::invalid_argument for a usage error.
int runEtherDream(const std::vector<std::string>& arguments);

extern const char* const kEtherDreamUsage;

} // namespace lumarok::cube

#pragma once

#include <string>
#include <vector>

namespace lumarok::cube {

// lumarok-cube --kind idn: a virtual IDN unit with one laser service. `arguments` are
// those after the kind. Returns the exit status; throws std::invalid_argument for a
// usage error.
int runIdn(const std::vector<std::string>& arguments);

} // namespace lumarok::cube

#pragma once

#include <string>

namespace lumarok::cube {

// The name under /run/netns of the network namespace this process runs in, or an
// empty text when it runs in an unnamed one (such as the machine's own).
std::string ownNetnsName();

} // namespace lumarok::cube

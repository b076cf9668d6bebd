#pragma once

#include <filesystem>

namespace lumarok {

// The show played when none is named: ./data when the working directory has one,
// otherwise the demo show installed with the program, ../share/lumarok/demo from the
// folder of the running executable (so an install under any prefix, or an unpacked
// package, finds its own copy). When neither exists it is ./data, so the error
// names the folder the user is expected to provide.
[[nodiscard]] std::filesystem::path defaultShowFolder();

} // namespace lumarok

#pragma once

#include <filesystem>
#include <string>

namespace lumarok {

// The folder a show is read from: `given` when not empty; otherwise ./data when it
// exists, else the demo installed beside the program (<prefix>/share/lumarok/demo for
// <prefix>/bin/lumarok). Checks that the folder holds a readable Sequence.txt, so a
// show that cannot play fails before anything starts. Throws std::runtime_error with
// one line naming the path.
[[nodiscard]] std::filesystem::path findShowFolder(const std::string& given,
                                                   const std::filesystem::path& executable);

// The running program's own file (/proc/self/exe); empty when the system does not say.
[[nodiscard]] std::filesystem::path ownExecutable();

} // namespace lumarok

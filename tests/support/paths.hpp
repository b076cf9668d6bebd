#pragma once

#include <string>

namespace lumarok::test {

// The source tree (for data/ and tests/data/) and the build tree (for the programs).
std::string sourceDir();
std::string binaryDir();
// Path of a program built by this tree, e.g. programPath("lumarok").
std::string programPath(const std::string& name);

} // namespace lumarok::test

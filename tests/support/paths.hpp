#pragma once

#include <string>

namespace lumarok::test {

// The source tree (for data/ and tests/data/) and the build tree (for the programs).
std::string sourceDir();
std::string binaryDir();
// Path of a program built by this tree, e.g. programPath("lumarok").
std::string programPath(const std::string& name);

// A whole file's bytes (empty when it cannot be read), and a file made anew with `text`.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// Processor time (user and system) process `pid` has used so far, in seconds; 0 when
// it cannot be read.
double cpuSeconds(int pid);

} // namespace lumarok::test

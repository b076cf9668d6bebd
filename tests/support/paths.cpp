#include "support/paths.hpp"

#include <fstream>
#include <sstream>

namespace lumarok::test {

std::string sourceDir() {
    return LUMAROK_SOURCE_DIR;
}
std::string binaryDir() {
    return LUMAROK_BINARY_DIR;
}
std::string programPath(const std::string& name) {
    return binaryDir() + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace lumarok::test

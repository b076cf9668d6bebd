#include "support/paths.hpp"

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

} // namespace lumarok::test

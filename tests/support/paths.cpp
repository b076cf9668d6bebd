#include "support/paths.hpp"

#include <fstream>
#include <string>

#include <sstream>
#include <unistd.h>

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

double cpuSeconds(int pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0.0;
    }
    // After the name: state, then utime and stime are the 12th and 13th fields.
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;
    }
    double user = 0.0;
    double system = 0.0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace lumarok::test

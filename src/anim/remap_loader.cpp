#include "anim/remap_loader.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace lumarok {

namespace {

constexpr double kRemapFramesPerSecond = 60.0;

double remapSeconds(int frameNumber) {
    return (frameNumber - 1.0) / kRemapFramesPerSecond;
}

} // namespace

RemapTable readRemapTable(std::istream& text, const std::string& sourceName) {
    RemapTable table;
    std::string line;
    for (std::size_t lineNumber = 1; std::getline(text, line); ++lineNumber) {
        std::istringstream fields(line);
        int first = 0;
        int second = 0;
        if (fields >> first >> second) {
            table.push_back({remapSeconds(first), remapSeconds(second)});
        } else if (line.find_first_not_of(" \t\r\f\v") != std::string::npos) {
            std::printf("%s:%zu: two integers expected\n", sourceName.c_str(), lineNumber);
        }
    }
    return table;
}

RemapTable loadRemapTable(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) {
        return {};
    }
    return readRemapTable(in, file.string());
}

RemapTable loadRemapTable() {
    return loadRemapTable(std::filesystem::path("./data/remap.txt"));
}

} // namespace lumarok

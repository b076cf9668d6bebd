#include "anim/remap_loader.hpp"

#include "anim/data_file.hpp"
#include "anim/load_diagnostics.hpp"
#include "core/data_error.hpp"

#include <sstream>

namespace lumarok {

namespace {

constexpr double kRemapFramesPerSecond = 60.0;

double remapSeconds(int frameNumber) {
    return (frameNumber - 1.0) / kRemapFramesPerSecond;
}

} // namespace

RemapTable readRemapTable(std::istream& text, const std::string& sourceName) {
    const LoadDiagnostics diagnostics(sourceName);
    RemapTable table;
    std::string line;
    for (std::size_t lineNumber = 1; std::getline(text, line); ++lineNumber) {
        std::istringstream fields(line);
        int first = 0;
        int second = 0;
        if (fields >> first >> second) {
            table.push_back({remapSeconds(first), remapSeconds(second)});
        } else if (line.find_first_not_of(" \t\r\f\v") != std::string::npos) {
            dataMessage("%s:%zu: two integers expected\n", sourceName.c_str(), lineNumber);
        }
    }
    if (text.bad()) {
        // A stream swallows the failure of a line it cannot hold, out of memory included.
        throw DataError(sourceName + ": reading stopped early");
    }
    return table;
}

RemapTable loadRemapTable(const std::filesystem::path& file) {
    std::optional<std::string> text = readDataFile(file);
    if (!text) {
        return {};
    }
    const bool blank = text->find_first_not_of(" \t\r\n\f\v") == std::string::npos;
    std::istringstream in(std::move(*text));
    RemapTable table = readRemapTable(in, file.string());
    if (table.empty() && !blank) {
        // Every line dropped: the show would run on an unmapped clock without a word.
        throw DataError(file.string() + ": no line holds two integers");
    }
    return table;
}

RemapTable loadRemapTable() {
    return loadRemapTable(std::filesystem::path("./data/remap.txt"));
}

} // namespace lumarok

#include "anim/sequence_reader.hpp"

#include "anim/load_diagnostics.hpp"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace lumarok {

namespace {

// Both primitives stop quietly at the end of the line: a stream that has run
// out simply reads nothing more.
void skipTo(std::istream& in, char c) {
    in.ignore(std::numeric_limits<std::streamsize>::max(), c);
}

std::string readUpTo(std::istream& in, char c) {
    std::string text;
    std::getline(in, text, c);
    return text;
}

void expectKey(const std::string& key, const char* wanted) {
    if (key != wanted) {
        dataMessage("'%s' expected\n", wanted);
    }
}

ClipLine readClip(std::istream& in, std::int32_t startMs) {
    ClipLine clip;
    clip.startMs = startMs;
    skipTo(in, '{');
    skipTo(in, '\'');
    expectKey(readUpTo(in, '\''), "name");
    skipTo(in, '\'');
    clip.baseName = readUpTo(in, '-');
    convertInt(clip.baseName, 16); // only checks that the name starts with a hex number
    clip.part = convertInt(readUpTo(in, '\''), 10);
    skipTo(in, '\'');
    expectKey(readUpTo(in, '\''), "from");
    skipTo(in, ' ');
    clip.from = convertInt(readUpTo(in, ','), 10);
    skipTo(in, '\'');
    expectKey(readUpTo(in, '\''), "to");
    skipTo(in, ' ');
    clip.to = convertInt(readUpTo(in, ','), 10);
    return clip;
}

void readSceneOptions(std::istream& in, FlipFlags& flags) {
    flags = FlipFlags{};
    while (in) {
        skipTo(in, '\'');
        const std::string option = readUpTo(in, '\'');
        if (option == "flip_vertical") {
            flags.vertical = true;
        } else if (option == "flip_horizontal") {
            flags.horizontal = true;
        }
    }
}

} // namespace

std::int32_t convertInt(const std::string& text, int base) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, base);
    if (end == begin) {
        throw std::invalid_argument("invalid stoi argument");
    }
    if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("stoi argument out of range");
    }
    return static_cast<std::int32_t>(value);
}

std::optional<ClipLine> readSequenceLine(const std::string& line, FlipFlags& flags) {
    std::istringstream in(line);
    std::int32_t startMs = 0;
    if (!(in >> startMs)) {
        return std::nullopt;
    }
    skipTo(in, '(');
    skipTo(in, '\'');
    const std::string keyword = readUpTo(in, '\'');
    if (keyword == "anim") {
        return readClip(in, startMs);
    }
    if (keyword == "scene") {
        flags = FlipFlags{};
    } else if (keyword == "scene_options") {
        readSceneOptions(in, flags);
    }
    return std::nullopt;
}

} // namespace lumarok

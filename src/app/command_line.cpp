#include "app/command_line.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace lumarok {

ArgumentList makeArgumentList(int argc, const char* const* argv) {
    ArgumentList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

bool hasOption(const ArgumentList& arguments, std::string_view option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

std::string optionValue(const ArgumentList& arguments, std::string_view option) {
    const auto it = std::find(arguments.begin(), arguments.end(), option);
    if (it == arguments.end() || std::next(it) == arguments.end()) {
        return {};
    }
    return *std::next(it);
}

float readFloat(const std::string& text) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    const int savedErrno = errno;
    errno = 0;
    const float value = std::strtof(begin, &end);
    const int readErrno = errno;
    errno = savedErrno;
    if (end == begin) {
        throw std::invalid_argument("invalid stof argument");
    }
    if (readErrno == ERANGE) {
        throw std::out_of_range("stof argument out of range");
    }
    return value;
}

float intensityOption(const ArgumentList& arguments) {
    const std::string value = optionValue(arguments, "-i");
    if (value.empty()) {
        return kDefaultIntensity;
    }
    return readFloat(value) / 100.0f;
}

namespace {

// The value of an option that needs one; a missing value is an error rather than a
// silent default, since the user asked for something.
std::string requiredValue(const ArgumentList& arguments, std::string_view option,
                          std::string_view what) {
    std::string value = optionValue(arguments, option);
    if (value.empty()) {
        throw std::invalid_argument(std::string(option) + " needs " + std::string(what));
    }
    return value;
}

double readSeconds(const std::string& text) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        throw std::invalid_argument("invalid --render time '" + text + "' (seconds expected)");
    }
    return value;
}

} // namespace

ExtraOptions readExtraOptions(const ArgumentList& arguments) {
    ExtraOptions options;
    options.help = hasOption(arguments, "--help");
    options.version = hasOption(arguments, "--version");
    if (hasOption(arguments, "--audio-source")) {
        options.audioSource = requiredValue(arguments, "--audio-source", "a source name");
    }
    if (hasOption(arguments, "--render")) {
        options.render = true;
        options.renderClockSeconds =
            readSeconds(requiredValue(arguments, "--render", "a clock time in seconds"));
        options.renderOut = requiredValue(arguments, "--out", "a file name (.png, .svg or .json)");
    }
    return options;
}

const char* usageText() {
    return "usage: lumarok [-osc] [-laser [-i PERCENT]] [--audio-source NAME]\n"
           "       lumarok --render SECONDS --out FILE.png|FILE.svg|FILE.json [-i PERCENT]\n"
           "       lumarok --help | --version\n"
           "\n"
           "  (no option)          play the show in a preview window (needs a display)\n"
           "  -osc                 follow OSC /Time messages on UDP port 8666\n"
           "  -laser               play the show on a laser projector found on the network\n"
           "  -i PERCENT           laser colour intensity in percent (default 10)\n"
           "  --audio-source NAME  capture this audio source (default: monitor of the\n"
           "                       default output)\n"
           "  --render SECONDS     write the show at that clock time to --out and exit,\n"
           "                       without window, network or audio\n"
           "  --out FILE           .png (preview look), .svg or .json (laser samples)\n"
           "\n"
           "The show's data is read from ./data, else the installed demo show is played.\n"
           "Ctrl-C ends laser mode cleanly.\n";
}

} // namespace lumarok

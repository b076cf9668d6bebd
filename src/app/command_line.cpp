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

// A whole argument that is a finite number, else "invalid <option> <what> '<text>'
// (<expected> expected)".
double readNumber(const std::string& text, std::string_view option, std::string_view what,
                  std::string_view expected) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        throw std::invalid_argument("invalid " + std::string(option) + " " + std::string(what) +
                                    " '" + text + "' (" + std::string(expected) + " expected)");
    }
    return value;
}

double readSeconds(const ArgumentList& arguments, std::string_view option) {
    return readNumber(requiredValue(arguments, option, "a clock time in seconds"), option, "time",
                      "seconds");
}

void readExportOptions(const ArgumentList& arguments, ExtraOptions& options) {
    const bool exporting = hasOption(arguments, "--export-ilda");
    for (const std::string_view option : {"--fps", "--from", "--to"}) {
        if (!exporting && hasOption(arguments, option)) {
            throw std::invalid_argument(std::string(option) + " goes with --export-ilda");
        }
    }
    if (!exporting) {
        return;
    }
    options.exportIlda = requiredValue(arguments, "--export-ilda", "a file name (.ild)");
    if (hasOption(arguments, "--fps")) {
        const std::string text = requiredValue(arguments, "--fps", "a frame rate");
        options.exportFramesPerSecond =
            readNumber(text, "--fps", "rate", "frames per second above 0");
        if (!(options.exportFramesPerSecond > 0.0)) {
            throw std::invalid_argument("invalid --fps rate '" + text +
                                        "' (frames per second above 0 expected)");
        }
    }
    if (hasOption(arguments, "--from")) {
        options.exportFromSeconds = readSeconds(arguments, "--from");
    }
    if (hasOption(arguments, "--to")) {
        options.exportToSeconds = readSeconds(arguments, "--to");
        if (!(*options.exportToSeconds > options.exportFromSeconds)) {
            throw std::invalid_argument("--to must lie after --from");
        }
    }
}

// `--ltc` takes an optional source: the next argument unless it is another option.
void readLtcOption(const ArgumentList& arguments, ExtraOptions& options) {
    const auto it = std::find(arguments.begin(), arguments.end(), "--ltc");
    if (it == arguments.end()) {
        return;
    }
    if (hasOption(arguments, "-osc")) {
        throw std::invalid_argument("-osc and --ltc choose different clocks; give one of them");
    }
    options.ltc = true;
    if (std::next(it) != arguments.end() && !std::next(it)->starts_with("-")) {
        options.ltcSource = *std::next(it);
    }
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
        options.renderClockSeconds = readSeconds(arguments, "--render");
        options.renderOut =
            requiredValue(arguments, "--out", "a file name (.png, .svg, .json or .ild)");
    }
    readExportOptions(arguments, options);
    readLtcOption(arguments, options);
    return options;
}

const char* usageText() {
    return "usage: lumarok [-osc | --ltc [SOURCE]] [-laser [-i PERCENT]] [--audio-source NAME]\n"
           "       lumarok --render SECONDS --out FILE.png|FILE.svg|FILE.json|FILE.ild [-i "
           "PERCENT]\n"
           "       lumarok --export-ilda FILE.ild [--fps N] [--from SECONDS] [--to SECONDS]\n"
           "               [-i PERCENT]\n"
           "       lumarok --help | --version\n"
           "\n"
           "  (no option)          play the show in a preview window (needs a display)\n"
           "  -osc                 follow OSC /Time messages on UDP port 8666\n"
           "  --ltc [SOURCE]       follow SMPTE timecode (LTC) on this audio source\n"
           "                       (default: the default input)\n"
           "  -laser               play the show on a laser projector found on the network\n"
           "  -i PERCENT           laser colour intensity in percent (default 10)\n"
           "  --audio-source NAME  capture this audio source (default: monitor of the\n"
           "                       default output)\n"
           "  --render SECONDS     write the show at that clock time to --out and exit,\n"
           "                       without window, network or audio\n"
           "  --out FILE           .png (preview look), .svg, .json (laser samples) or\n"
           "                       .ild (the laser samples as one ILDA frame)\n"
           "  --export-ilda FILE   write the laser frames at clock times FROM, FROM + 1/N,\n"
           "                       ... before TO as an ILDA file and exit\n"
           "  --fps N              frames per second of the export (default 30)\n"
           "  --from SECONDS       clock time of the first frame (default 0)\n"
           "  --to SECONDS         clock time where the export stops (default: the show's\n"
           "                       end)\n"
           "\n"
           "The show's data is read from ./data. Ctrl-C ends laser mode cleanly.\n";
}

} // namespace lumarok

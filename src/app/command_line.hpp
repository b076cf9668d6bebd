#pragma once

#include "app/placement.hpp"
#include "app/show_end.hpp"
#include "app/status_target.hpp"
#include "clock/address_range.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumarok {

// Reads text by strtof rules (leading blanks skipped, longest numeric prefix, rest
// ignored). Throws std::invalid_argument("invalid stof argument") when no number is
// there and std::out_of_range("stof argument out of range") when strtof reports ERANGE.
[[nodiscard]] float readFloat(const std::string& text);

// Laser colour intensity without -i: a tenth.
inline constexpr float kDefaultIntensity = 0.1f;
inline constexpr std::uint16_t kDefaultOscPort = 8666;

// A command line the program cannot act on: an unknown option, a missing or malformed
// value, or options that contradict each other. what() is one line without the hint.
class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Everything the command line says. Fields are plain values with their defaults, so a
// new option is one field, one table row and one case in parseOptions.
struct Options {
    bool help = false;      // -h, --help
    bool version = false;   // -V, --version
    std::string configFile; // --config FILE: settings read before the command line

    // Show
    std::string showFolder;              // --show DIR; empty: ./data, else the installed demo
    bool osc = false;                    // -osc, --osc: the show clock follows OSC /Time
    bool laser = false;                  // -laser, --laser
    float intensity = kDefaultIntensity; // -i, --intensity PERCENT, as percent / 100
    std::string intensityText;           // the -i value as given, for messages
    std::string audioSource;             // --audio-source NAME; empty: default monitor
    std::string display;                 // -display, --display NAME (preview's X display)
    int verbosity = 0;                   // -q, --quiet: -1; -v, --verbose: 1

    // Headless render
    std::optional<double> renderSeconds; // --render SECONDS
    std::string renderOut;               // --out FILE

    // OSC clock
    std::uint16_t oscPort = kDefaultOscPort; // --osc-port N (0: the system picks one)
    std::string oscAddress;                  // --osc-address ADDR; empty: all interfaces
    std::vector<AddressRange> oscFrom;       // --osc-from ADDR[/PREFIX], repeatable
    double clockTimeout = 0.0; // --clock-timeout SECONDS: dark after this long without time

    // Live control (laser mode)
    std::optional<std::uint16_t> controlPort; // --control-port N; none: no control socket
    std::string controlAddress;               // --control-address ADDR; empty: all
    std::vector<AddressRange> controlFrom;    // --control-from ADDR[/PREFIX], repeatable

    // The show's end: --at-end hold|dark|loop; none: hold for a show, dark for ILDA files
    std::optional<AtEnd> atEnd;

    // Projectors (parsed here, acted on by the laser link)
    bool listProjectors = false;         // --list-projectors
    std::vector<std::string> projectors; // --projector NAME|ADDRESS[:PLACEMENT], repeatable
    std::vector<Placement> placements;   // one per entry of projectors
    bool allProjectors = false;          // --projector all[:PLACEMENT]
    Placement allPlacement;              // for each of them
    std::string interfaceName;           // --interface IFNAME
    std::uint32_t pointRate = 30000;     // --rate N: points a second of an Ether Dream
    std::string venueFile;               // --venue FILE: zones, corners, colours per projector
    std::vector<StatusTarget> statusTo;  // --status-to HOST:PORT, repeatable

    // Time code and export (parsed here, acted on elsewhere)
    bool ltc = false;                  // --ltc[=SOURCE]
    std::string ltcSource;             // empty: the default audio input
    std::string exportIlda;            // --export-ilda FILE
    std::optional<double> fps;         // --fps N (frames per second, > 0)
    std::optional<double> fromSeconds; // --from S
    std::optional<double> toSeconds;   // --to S

    // ILDA files
    std::vector<std::string> ildaFiles; // --ilda FILE..., played in order instead of the show
    std::optional<double> ildaFps;      // --ilda-fps N (> 0; default 30)
    bool loop = false;                  // --loop: the list starts again after its end
    std::string listFrames;             // --list-frames FILE
};

// Reads the arguments after the program name. Long options take "--name value" or
// "--name=value"; -osc, -laser and -display are also accepted with one dash. The first
// -i counts, as it always has. Words that are no option are more files for --ilda. With
// --config FILE the file's settings (config_file.hpp) come first and the command line wins:
// an option it gives replaces the file's key, a repeatable one the file's whole list.
// Throws UsageError for anything it cannot act on (naming file and line for a setting of
// the file), and the errors of readFloat for a -i value on the command line without a
// number.
[[nodiscard]] Options parseOptions(const std::vector<std::string>& arguments);

// The --help text, ending with a newline.
[[nodiscard]] const char* usageText();
// Appended to a usage error's line.
inline constexpr const char* kUsageHint = "try 'lumarok --help'";

} // namespace lumarok

#pragma once

#include "core/usage_error.hpp"
#include "laser/placement.hpp"
#include "net/ipv4_address.hpp"
#include "show/show_end.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace lumarok {

// Reads text by strtof rules (leading blanks skipped, longest numeric prefix, rest
// ignored). Throws std::invalid_argument("invalid stof argument") when no number is
// there and std::out_of_range("stof argument out of range") when strtof reports ERANGE.
[[nodiscard]] float readFloat(const std::string& text);

// --latency's range in milliseconds: a sound card's delay, or the light ahead of it.
inline constexpr double kLeastLatencyMs = -200.0;
inline constexpr double kMostLatencyMs = 1000.0;

// Laser colour intensity without -i: a tenth.
inline constexpr float kDefaultIntensity = 0.1f;
inline constexpr std::uint16_t kDefaultOscPort = 8666;

// What the program is asked to do: one mode, the preview when no option names one.
struct PreviewMode {}; // no mode option: the show in a preview window
struct LaserMode {};   // -laser, --laser
struct RenderMode {    // --render SECONDS --out FILE
    double clockSeconds = 0.0;
    std::string out;
};
struct ExportIldaMode { // --export-ilda FILE (with --fps, --from, --to)
    std::string file;
};
struct ListProjectorsMode {}; // --list-projectors
struct ListFramesMode {       // --list-frames FILE
    std::string file;
};
struct HelpMode {};    // -h, --help
struct VersionMode {}; // -V, --version
using Mode = std::variant<PreviewMode, LaserMode, RenderMode, ExportIldaMode, ListProjectorsMode,
                          ListFramesMode, HelpMode, VersionMode>;

// One projector asked for with --projector: its name or address, and where it draws.
struct WantedProjector {
    std::string name;
    Placement placement;
};

// Everything the command line says. Fields are plain values with their defaults, so a
// new option is one field, one table row and one case in parseOptions.
struct Options {
    Mode mode;              // help and version win over the others, which exclude each other
    std::string configFile; // --config FILE: settings read before the command line

    template <typename M> [[nodiscard]] bool is() const { return std::holds_alternative<M>(mode); }

    // Show
    std::string showFolder;              // --show DIR; empty: ./data, else the installed demo
    bool osc = false;                    // -osc, --osc: the show clock follows OSC /Time
    float intensity = kDefaultIntensity; // -i, --intensity PERCENT, as percent / 100
    std::string intensityText;           // the -i value as given, for messages
    std::string audioSource;             // --audio-source NAME; empty: default monitor
    std::string display;                 // -display, --display NAME (preview's X display)
    int verbosity = 0;                   // -q, --quiet: -1; -v, --verbose: 1

    // OSC clock
    std::uint16_t oscPort = kDefaultOscPort; // --osc-port N (0: the system picks one)
    std::string oscAddress;                  // --osc-address ADDR; empty: all interfaces
    std::vector<AddressRange> oscFrom;       // --osc-from ADDR[/PREFIX], repeatable
    double clockTimeout = 0.0; // --clock-timeout SECONDS: dark after this long without time
    // --on-beat: each frame drawn for the moment it is played (laser mode and preview)
    bool onBeat = false;
    std::optional<double> latencyMs; // --latency MS: the music's output delay (with --on-beat)

    // Live control (laser mode)
    std::optional<std::uint16_t> controlPort; // --control-port N; none: no control socket
    std::string controlAddress;               // --control-address ADDR; empty: all
    std::vector<AddressRange> controlFrom;    // --control-from ADDR[/PREFIX], repeatable

    // The show's end: --at-end hold|dark|loop; none: hold for a show, dark for ILDA files
    std::optional<AtEnd> atEnd;

    // Projectors (parsed here, acted on by the laser link)
    std::vector<WantedProjector> projectors; // --projector NAME|ADDRESS[:PLACEMENT], repeatable
    std::optional<Placement> allProjectors;  // --projector all[:PLACEMENT]: each placed so
    std::string interfaceName;               // --interface IFNAME
    std::uint32_t pointRate = 30000;    // --rate N: points a second of an Ether Dream or IDN unit
    std::string venueFile;              // --venue FILE: zones, corners, colours per projector
    std::vector<Ipv4Endpoint> statusTo; // --status-to HOST:PORT, repeatable

    // Time code and export (parsed here, acted on elsewhere)
    bool ltc = false;                  // --ltc[=SOURCE]
    std::string ltcSource;             // empty: the default audio input
    std::optional<double> fps;         // --fps N (frames per second, > 0)
    std::optional<double> fromSeconds; // --from S
    std::optional<double> toSeconds;   // --to S

    // ILDA files
    std::vector<std::string> ildaFiles; // --ilda FILE..., played in order instead of the show
    std::optional<double> ildaFps;      // --ilda-fps N (> 0; default 30)
    bool loop = false;                  // --loop: the list starts again after its end
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

// The names or addresses of options.projectors, in order.
[[nodiscard]] std::vector<std::string> projectorNames(const Options& options);

// The --help text, ending with a newline.
[[nodiscard]] const char* usageText();
// Appended to a usage error's line.
inline constexpr const char* kUsageHint = "try 'lumarok --help'";

} // namespace lumarok

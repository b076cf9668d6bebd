#include "app/command_line.hpp"

#include "app/config_file.hpp"
#include "laser/etherdream_listener.hpp"
#include "laser/idn_scanner.hpp"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <net/if.h>
#include <set>

namespace lumarok {

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

namespace {

// Long options without a one-letter form get codes above the character range.
enum Code : int {
    kOsc = 256,
    kLaser,
    kShow,
    kAudioSource,
    kDisplay,
    kRender,
    kOut,
    kOscPort,
    kOscAddress,
    kOscFrom,
    kListProjectors,
    kProjector,
    kInterface,
    kLtc,
    kExportIlda,
    kFps,
    kFrom,
    kTo,
    kStatusTo,
    kConfig,
    kIlda,
    kIldaFps,
    kLoop,
    kListFrames,
    kVenue,
    kClockTimeout,
    kControlPort,
    kControlAddress,
    kControlFrom,
    kAtEnd,
    kOnBeat,
    kLatency,
    kRate,
};

constexpr const char* kShortOptions = ":hVi:qv";

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"show", required_argument, nullptr, kShow},
    {"osc", no_argument, nullptr, kOsc},
    {"laser", no_argument, nullptr, kLaser},
    {"intensity", required_argument, nullptr, 'i'},
    {"audio-source", required_argument, nullptr, kAudioSource},
    {"display", required_argument, nullptr, kDisplay},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"render", required_argument, nullptr, kRender},
    {"out", required_argument, nullptr, kOut},
    {"osc-port", required_argument, nullptr, kOscPort},
    {"osc-address", required_argument, nullptr, kOscAddress},
    {"osc-from", required_argument, nullptr, kOscFrom},
    {"list-projectors", no_argument, nullptr, kListProjectors},
    {"projector", required_argument, nullptr, kProjector},
    {"rate", required_argument, nullptr, kRate},
    {"interface", required_argument, nullptr, kInterface},
    {"ltc", optional_argument, nullptr, kLtc},
    {"export-ilda", required_argument, nullptr, kExportIlda},
    {"fps", required_argument, nullptr, kFps},
    {"from", required_argument, nullptr, kFrom},
    {"to", required_argument, nullptr, kTo},
    {"status-to", required_argument, nullptr, kStatusTo},
    {"config", required_argument, nullptr, kConfig},
    {"ilda", required_argument, nullptr, kIlda},
    {"ilda-fps", required_argument, nullptr, kIldaFps},
    {"loop", no_argument, nullptr, kLoop},
    {"list-frames", required_argument, nullptr, kListFrames},
    {"venue", required_argument, nullptr, kVenue},
    {"clock-timeout", required_argument, nullptr, kClockTimeout},
    {"control-port", required_argument, nullptr, kControlPort},
    {"control-address", required_argument, nullptr, kControlAddress},
    {"control-from", required_argument, nullptr, kControlFrom},
    {"at-end", required_argument, nullptr, kAtEnd},
    {"on-beat", no_argument, nullptr, kOnBeat},
    {"latency", required_argument, nullptr, kLatency},
    {nullptr, 0, nullptr, 0},
};

// The one-dash words the program has always understood, spelt as getopt_long expects.
std::string conventionalSpelling(const std::string& argument) {
    for (const char* word : {"-osc", "-laser", "-display"}) {
        if (argument == word) {
            return "-" + argument;
        }
    }
    return argument;
}

double readSeconds(const std::string& text, const std::string& option) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        throw UsageError("invalid " + option + " time '" + text + "' (seconds expected)");
    }
    return value;
}

double readLatency(const std::string& text, const std::string& option) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !(value >= kLeastLatencyMs) ||
        !(value <= kMostLatencyMs)) {
        throw UsageError("invalid " + option + " '" + text + "' (milliseconds from -200 to 1000 " +
                         "expected)");
    }
    return value;
}

std::uint16_t readPort(const std::string& text, const std::string& option = "--osc-port") {
    unsigned value = 0;
    const char* const last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    if (text.empty() || error != std::errc{} || end != last || value > 65535) {
        throw UsageError("invalid " + option + " '" + text + "' (0 to 65535 expected)");
    }
    return static_cast<std::uint16_t>(value);
}

AddressRange readRange(const std::string& text, const std::string& option) {
    try {
        return AddressRange::parse(text);
    } catch (const std::invalid_argument& e) {
        throw UsageError(option + ": " + e.what());
    }
}

std::string requireNonEmpty(const char* value, const std::string& option) {
    if (value == nullptr || *value == '\0') {
        throw UsageError(option + " needs a value");
    }
    return value;
}

// The option as the user wrote it, for messages.
std::string spelling(int code, int longIndex) {
    if (code < 256 && longIndex < 0) {
        return std::string("-") + static_cast<char>(code);
    }
    return std::string("--") + kLongOptions[longIndex].name;
}

// Words that name a projector of another kind by its address, before any placement.
constexpr std::string_view kEtherDreamPrefix = "etherdream:";
constexpr std::string_view kIdnPrefix = "idn:";

// "NAME", "NAME:PLACEMENT", "all" or "all:PLACEMENT"; "etherdream:ADDR[:PLACEMENT]".
void addProjector(Options& options, const std::string& value, const std::string& option) {
    const std::size_t kindLength = value.starts_with(kEtherDreamPrefix) ? kEtherDreamPrefix.size()
                                   : value.starts_with(kIdnPrefix)      ? kIdnPrefix.size()
                                                                        : 0;
    const std::size_t colon = value.find(':', kindLength);
    const std::string projector = value.substr(0, colon);
    Placement placement;
    if (projector.empty()) {
        throw UsageError(option + " needs a projector name or address before ':'");
    }
    if (kindLength > 0) {
        try {
            (void)etherDreamAddress(projector);
            (void)idnWord(projector);
        } catch (const std::invalid_argument& e) {
            throw UsageError(option + " " + e.what());
        }
    }
    if (colon != std::string::npos) {
        try {
            placement = parsePlacement(value.substr(colon + 1));
        } catch (const std::invalid_argument& e) {
            throw UsageError(option + " " + projector + ": " + e.what());
        }
    }
    if (projector == "all") {
        options.allProjectors = placement;
        return;
    }
    if (std::any_of(options.projectors.begin(), options.projectors.end(),
                    [&projector](const WantedProjector& p) { return p.name == projector; })) {
        throw UsageError(option + " " + projector + " given twice");
    }
    options.projectors.push_back({projector, placement});
}

// The mode options as given, each on its own: refuseConflicts judges them together
// before they become the one mode of Options.
struct ModeWords {
    bool help = false;
    bool version = false;
    bool laser = false;
    bool listProjectors = false;
    std::optional<double> renderSeconds;
    std::string renderOut;
    std::string exportIlda;
    std::string listFrames;
};

// What one reading of the words gives.
struct Parsed {
    Options options;
    ModeWords modes;
};

void applyOption(Options& options, ModeWords& modes, int code, const std::string& name,
                 const char* value, bool& intensitySeen) {
    switch (code) {
    case 'h':
        modes.help = true;
        break;
    case 'V':
        modes.version = true;
        break;
    case 'q':
        options.verbosity = -1;
        break;
    case 'v':
        options.verbosity = 1;
        break;
    case 'i':
        if (!intensitySeen) { // the first -i counts
            intensitySeen = true;
            options.intensity = readFloat(value) / 100.0f;
            options.intensityText = value;
        }
        break;
    case kShow:
        options.showFolder = requireNonEmpty(value, name);
        break;
    case kOsc:
        options.osc = true;
        break;
    case kLaser:
        modes.laser = true;
        break;
    case kAudioSource:
        options.audioSource = requireNonEmpty(value, name);
        break;
    case kDisplay:
        options.display = requireNonEmpty(value, name);
        break;
    case kRender:
        modes.renderSeconds = readSeconds(value, name);
        break;
    case kOut:
        modes.renderOut = requireNonEmpty(value, name);
        break;
    case kOscPort:
        options.oscPort = readPort(value);
        break;
    case kOscAddress: {
        const AddressRange host = readRange(value, name);
        if (host.prefixLength != 32) {
            throw UsageError(name + " takes one address, not a range");
        }
        options.oscAddress = value;
        break;
    }
    case kOscFrom:
        options.oscFrom.push_back(readRange(value, name));
        break;
    case kClockTimeout:
        options.clockTimeout = readSeconds(value, name);
        if (options.clockTimeout < 0.0) {
            throw UsageError(name + " needs 0 (hold the last time) or more seconds");
        }
        break;
    case kOnBeat:
        options.onBeat = true;
        break;
    case kLatency:
        options.latencyMs = readLatency(value, name);
        break;
    case kControlPort:
        options.controlPort = readPort(value, name);
        break;
    case kControlAddress: {
        const AddressRange host = readRange(value, name);
        if (host.prefixLength != 32) {
            throw UsageError(name + " takes one address, not a range");
        }
        options.controlAddress = value;
        break;
    }
    case kControlFrom:
        options.controlFrom.push_back(readRange(value, name));
        break;
    case kAtEnd:
        options.atEnd = parseAtEnd(requireNonEmpty(value, name));
        if (!options.atEnd) {
            throw UsageError(name + " takes hold, dark or loop, not '" + value + "'");
        }
        break;
    case kListProjectors:
        modes.listProjectors = true;
        break;
    case kProjector:
        addProjector(options, requireNonEmpty(value, name), name);
        break;
    case kRate: {
        const double rate = readSeconds(value, name);
        if (!(rate >= 1.0 && rate <= 1e6) ||
            rate != static_cast<double>(static_cast<std::uint32_t>(rate))) {
            throw UsageError(name +
                             " wants a whole number of points per second from 1 to 1000000, not '" +
                             std::string(value) + "'");
        }
        options.pointRate = static_cast<std::uint32_t>(rate);
        break;
    }
    case kStatusTo:
        try {
            options.statusTo.push_back(parseStatusTarget(requireNonEmpty(value, name)));
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        break;
    case kInterface:
        options.interfaceName = requireNonEmpty(value, name);
        if (options.interfaceName.size() >= IFNAMSIZ) {
            throw UsageError(name + ": '" + options.interfaceName + "' is too long for a name");
        }
        break;
    case kLtc:
        options.ltc = true;
        options.ltcSource = value != nullptr ? value : "";
        break;
    case kExportIlda:
        modes.exportIlda = requireNonEmpty(value, name);
        break;
    case kFps:
        options.fps = readSeconds(value, name);
        if (*options.fps <= 0.0) {
            throw UsageError(name + " needs a positive number of frames per second");
        }
        break;
    case kFrom:
        options.fromSeconds = readSeconds(value, name);
        break;
    case kTo:
        options.toSeconds = readSeconds(value, name);
        break;
    case kConfig:
        options.configFile = requireNonEmpty(value, name);
        break;
    case kIlda:
        options.ildaFiles.push_back(requireNonEmpty(value, name));
        break;
    case kIldaFps:
        options.ildaFps = readSeconds(value, name);
        if (*options.ildaFps <= 0.0) {
            throw UsageError(name + " needs a positive number of frames per second");
        }
        break;
    case kLoop:
        options.loop = true;
        break;
    case kListFrames:
        modes.listFrames = requireNonEmpty(value, name);
        break;
    case kVenue:
        options.venueFile = requireNonEmpty(value, name);
        break;
    default:
        throw UsageError("unhandled option " + name); // a table row without a case
    }
}

void refuseConflicts(const Options& options, const ModeWords& modes) {
    if (modes.renderSeconds && modes.renderOut.empty()) {
        throw UsageError("--render needs --out FILE (.png, .svg or .json)");
    }
    if (!modes.renderSeconds && !modes.renderOut.empty()) {
        throw UsageError("--out is for --render only");
    }
    const int given = (modes.renderSeconds ? 1 : 0) + (modes.laser ? 1 : 0) +
                      (modes.listProjectors ? 1 : 0) + (modes.listFrames.empty() ? 0 : 1);
    if (given > 1) {
        throw UsageError("choose one of --render, --laser, --list-projectors and --list-frames");
    }
    if (!modes.listFrames.empty() &&
        (!modes.exportIlda.empty() || !options.ildaFiles.empty() || options.osc || options.ltc)) {
        throw UsageError("--list-frames prints a file's frames; it goes with no other mode");
    }
    if (options.ildaFiles.empty() && (options.ildaFps || options.loop)) {
        throw UsageError("--ilda-fps and --loop go with --ilda");
    }
    if (!options.ildaFiles.empty() && (!options.showFolder.empty() || modes.listProjectors)) {
        throw UsageError("--ilda plays ILDA files instead of a show; give no --show or "
                         "--list-projectors with it");
    }
    if (modes.renderSeconds && options.osc) {
        throw UsageError("--render takes its clock time from the command line, not from --osc");
    }
    // A listening setting without the OSC clock would be silently unused.
    if (!options.osc && (options.oscPort != kDefaultOscPort || !options.oscAddress.empty() ||
                         !options.oscFrom.empty())) {
        throw UsageError("--osc-port, --osc-address and --osc-from need --osc");
    }
    if (options.clockTimeout > 0.0 && !options.osc && !options.ltc) {
        throw UsageError("--clock-timeout goes with --osc or --ltc");
    }
    if (options.latencyMs && !options.onBeat) {
        throw UsageError("--latency goes with --on-beat");
    }
    if (options.onBeat && (modes.renderSeconds || !modes.exportIlda.empty() ||
                           modes.listProjectors || !modes.listFrames.empty())) {
        throw UsageError("--on-beat is for playing; --render and --export-ilda draw given times");
    }
    if (!options.controlPort && (!options.controlAddress.empty() || !options.controlFrom.empty())) {
        throw UsageError("--control-address and --control-from need --control-port");
    }
    if (options.controlPort && !modes.laser) {
        throw UsageError("--control-port goes with --laser (the preview takes b, + and -)");
    }
    if (options.loop && options.atEnd && *options.atEnd != AtEnd::loop) {
        throw UsageError("--loop is --at-end loop; give one of them");
    }
    if (options.atEnd && (modes.renderSeconds || !modes.exportIlda.empty())) {
        throw UsageError("--at-end is for playing; --render and --export-ilda draw given times");
    }
    if (options.fromSeconds && options.toSeconds && *options.toSeconds <= *options.fromSeconds) {
        throw UsageError("--to must be later than --from");
    }
    if (modes.exportIlda.empty() && (options.fps || options.fromSeconds || options.toSeconds)) {
        throw UsageError("--fps, --from and --to go with --export-ilda");
    }
    if (!modes.exportIlda.empty() && (modes.renderSeconds || modes.laser || modes.listProjectors ||
                                      options.osc || options.ltc)) {
        throw UsageError("--export-ilda writes a file; it goes with no other mode or clock");
    }
    if (options.allProjectors && !options.projectors.empty()) {
        throw UsageError("--projector all takes every projector; name no others with it");
    }
    if (!options.statusTo.empty() && !modes.laser) {
        throw UsageError("--status-to goes with --laser");
    }
    const bool toFile = modes.renderSeconds || !modes.exportIlda.empty();
    if (!options.venueFile.empty() && toFile &&
        (options.projectors.size() != 1 || options.allProjectors)) {
        throw UsageError("--venue with --render or --export-ilda needs one --projector NAME: "
                         "the projector whose samples to write");
    }
    if (!options.venueFile.empty() && (modes.listProjectors || !modes.listFrames.empty())) {
        throw UsageError("--venue goes with --laser, --render, --export-ilda or the preview");
    }
    if (options.osc && options.ltc) {
        throw UsageError("--osc and --ltc choose different clocks; give one of them");
    }
}

// The long name of what getopt_long returned, e.g. "intensity" for -i.
std::string longName(int code, int longIndex) {
    if (longIndex >= 0) {
        return kLongOptions[longIndex].name;
    }
    for (const option& entry : kLongOptions) {
        if (entry.name != nullptr && entry.val == code) {
            return entry.name;
        }
    }
    return {};
}

// The options in `arguments`, without the checks of options against each other; the
// long names of those given go to `given`.
Parsed readOptions(const std::vector<std::string>& arguments, std::set<std::string>& given) {
    std::vector<std::string> words{"lumarok"};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        // getopt attaches an optional value only as --ltc=SOURCE; take "--ltc SOURCE" too.
        if (arguments[i] == "--ltc" && i + 1 < arguments.size() && !arguments[i + 1].empty() &&
            arguments[i + 1].front() != '-') {
            words.push_back("--ltc=" + arguments[++i]);
            continue;
        }
        words.push_back(conventionalSpelling(arguments[i]));
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    Parsed parsed;
    Options& options = parsed.options;
    bool intensitySeen = false;
    // getopt keeps its position in globals: 0 starts a fresh scan, and its own
    // messages are off so that every error is one line of ours.
    optind = 0;
    opterr = 0;
    const int argc = static_cast<int>(words.size());
    for (;;) {
        int longIndex = -1;
        const int code = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, &longIndex);
        if (code == -1) {
            break;
        }
        const std::string wrote = argv[static_cast<std::size_t>(optind - 1)];
        if (code == '?') {
            const std::string unknown =
                optopt != 0 ? std::string("-") + static_cast<char>(optopt) : wrote;
            throw UsageError("unknown option '" + unknown + "'");
        }
        if (code == ':') {
            const std::string missing =
                optopt != 0 && optopt < 256 ? std::string("-") + static_cast<char>(optopt) : wrote;
            throw UsageError("option '" + missing + "' needs a value");
        }
        applyOption(options, parsed.modes, code, spelling(code, longIndex), optarg, intensitySeen);
        given.insert(longName(code, longIndex));
    }
    // getopt has moved the words it did not take to the end: more files for --ilda.
    for (int i = optind; i < argc; ++i) {
        const std::string word = argv[static_cast<std::size_t>(i)];
        if (options.ildaFiles.empty() || word.empty()) {
            throw UsageError("unexpected argument '" + word + "'");
        }
        options.ildaFiles.push_back(word);
    }
    return parsed;
}

// The file's settings as option words ahead of the command line's, so that one parser
// reads both and a later option acts as it always does. A key the command line gives
// is left out: for a repeatable option the command line's list replaces the file's,
// and the first -i, which counts, is the command line's. Each setting is read alone
// first, so that a value the parser refuses is reported with its file and line.
std::vector<std::string> withConfigFile(const std::string& path,
                                        const std::vector<std::string>& arguments,
                                        const std::set<std::string>& onCommandLine) {
    std::vector<std::string> words;
    for (const ConfigSetting& setting : readConfigFile(path)) {
        if (onCommandLine.contains(setting.key)) {
            continue;
        }
        try {
            std::set<std::string> unused;
            (void)readOptions(setting.words, unused);
        } catch (const std::exception& e) {
            throw UsageError(setting.where + ": " + setting.key + ": " + e.what());
        }
        words.insert(words.end(), setting.words.begin(), setting.words.end());
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    return words;
}

// The one mode the checked words ask for; help and version win, as they did.
Mode modeOf(const ModeWords& modes) {
    if (modes.help) {
        return HelpMode{};
    }
    if (modes.version) {
        return VersionMode{};
    }
    if (modes.listProjectors) {
        return ListProjectorsMode{};
    }
    if (!modes.listFrames.empty()) {
        return ListFramesMode{modes.listFrames};
    }
    if (modes.renderSeconds) {
        return RenderMode{*modes.renderSeconds, modes.renderOut};
    }
    if (!modes.exportIlda.empty()) {
        return ExportIldaMode{modes.exportIlda};
    }
    if (modes.laser) {
        return LaserMode{};
    }
    return PreviewMode{};
}

} // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    std::set<std::string> given;
    Parsed parsed = readOptions(arguments, given);
    if (!parsed.options.configFile.empty()) {
        std::set<std::string> all;
        parsed = readOptions(withConfigFile(parsed.options.configFile, arguments, given), all);
    }
    refuseConflicts(parsed.options, parsed.modes);
    parsed.options.mode = modeOf(parsed.modes);
    return std::move(parsed.options);
}

std::vector<std::string> projectorNames(const Options& options) {
    std::vector<std::string> names;
    names.reserve(options.projectors.size());
    for (const WantedProjector& projector : options.projectors) {
        names.push_back(projector.name);
    }
    return names;
}

const char* usageText() {
    return "usage: lumarok [--show DIR] [--osc [OSC OPTIONS]] [--audio-source NAME] [-q|-v]\n"
           "       lumarok --laser [-i PERCENT] [--projector NAME|ADDR[:PLACEMENT]|all]...\n"
           "               [--interface IFNAME] [--status-to HOST:PORT]... ...\n"
           "       lumarok --list-projectors [--interface IFNAME]\n"
           "       lumarok --render SECONDS --out FILE.png|FILE.svg|FILE.json|FILE.ild [-i "
           "PERCENT]\n"
           "       lumarok --export-ilda FILE.ild [--fps N] [--from S] [--to S] [-i PERCENT]\n"
           "       lumarok --ilda FILE.ild... [--ilda-fps N] [--loop] [any mode above]\n"
           "       lumarok --list-frames FILE.ild\n"
           "       lumarok -h|--help | -V|--version\n"
           "\n"
           "  (no option)             play the show in a preview window (needs a display;\n"
           "                          h toggles the readout, b a blackout, + and - the\n"
           "                          master level; Esc or q end it)\n"
           "  --show DIR              the show's folder (default ./data, else the installed demo)\n"
           "  -osc, --osc             follow OSC /Time messages instead of the steady clock\n"
           "  --osc-port N            UDP port for /Time (default 8666)\n"
           "  --osc-address ADDR      local address to listen on (default all interfaces)\n"
           "  --osc-from ADDR[/LEN]   accept /Time only from these senders (repeatable)\n"
           "  --clock-timeout SECONDS with --osc or --ltc: dark after this long without time\n"
           "                          (default 0: hold the last time for ever)\n"
           "  --on-beat               draw each frame for the moment its light is played\n"
           "                          (recommended for shows; default: for the moment drawn)\n"
           "  --latency MS            with --on-beat: the music's own output delay, added on\n"
           "                          top (-200 to 1000 ms; default 0)\n"
           "  --at-end hold|dark|loop after the show's end: hold the last entry (default;\n"
           "                          dark for --ilda), dark, or start again (steady clock)\n"
           "  --control-port N        take live control over OSC on this UDP port (laser\n"
           "                          mode): /lumarok/blackout, /lumarok/intensity, ...\n"
           "  --control-address ADDR  local address for control (default all interfaces)\n"
           "  --control-from ADDR[/LEN]  take control only from these senders (repeatable)\n"
           "  -laser, --laser         play the show on a laser projector on the network\n"
           "  -i, --intensity PERCENT laser colour intensity in percent (default 10)\n"
           "  --list-projectors       list the projectors that answer discovery, then exit\n"
           "  --projector NAME|ADDR[:PLACEMENT]  play on this projector; repeat it for\n"
           "                          several, or give 'all' (every one that answers within\n"
           "                          1 s); PLACEMENT: flip-x,flip-y,rotate=DEG (any angle),\n"
           "                          scale=F,offset=DX:DY (drawing units);\n"
           "                          etherdream:ADDR[:PLACEMENT] an Ether Dream DAC,\n"
           "                          idn:ADDR[/SERVICE][:PLACEMENT] an IDN unit\n"
           "  --rate N                points per second of the Ether Dreams and IDN units\n"
           "                          (default 30000)\n"
           "  --venue FILE            per-projector zones, corners, colours and static-beam\n"
           "                          guard from this TOML file (with --render, --export-ilda\n"
           "                          or the preview: for the one --projector named)\n"
           "  --status-to HOST:PORT   send /lumarok/status over OSC each second (repeatable)\n"
           "  --interface IFNAME      discover projectors through this interface only\n"
           "  --audio-source NAME     capture this audio source (default: monitor of the\n"
           "                          default output, followed when it changes)\n"
           "  --ltc [SOURCE]          follow linear time code from an audio input\n"
           "  --render SECONDS        write the show at that clock time to --out and exit,\n"
           "                          without window, network or audio\n"
           "  --out FILE              .png (preview look), .svg, .json (laser samples) or .ild\n"
           "  --export-ilda FILE      write the show as an ILDA file (with --fps, --from, --to)\n"
           "  --fps N, --from S, --to S  frame rate (default 30) and clock-time span of an export\n"
           "                          (default the whole show)\n"
           "  --ilda FILE...          play these ILDA files in order instead of the show\n"
           "  --ilda-fps N            ILDA frames per second on the show clock (default 30)\n"
           "  --loop                  start the ILDA files again after the last frame\n"
           "                          (without it the beam stays dark)\n"
           "  --list-frames FILE      print each section of an ILDA file, one line each\n"
           "  --display NAME          X display for the preview window\n"
           "  --config FILE           read settings from this TOML file first: the long\n"
           "                          option names as keys (laser = true, intensity = 20,\n"
           "                          projector = [\"left\", \"right\"]); the command line wins\n"
           "  -q, --quiet             errors only\n"
           "  -v, --verbose           more detail while playing\n"
           "  -h, --help              this text\n"
           "  -V, --version           the program's version\n"
           "\n"
           "Long options take --name=value or --name value. Ctrl-C ends laser mode cleanly.\n";
}

} // namespace lumarok

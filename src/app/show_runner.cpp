#include "app/show_runner.hpp"

#include "anim/animation.hpp"
#include "app/command_line.hpp"
#include "app/laser_show.hpp"
#include "app/live_operation.hpp"
#include "app/stop_signals.hpp"
#include "app/venue_choice.hpp"
#include "app/version.hpp"
#include "clock/clock_time_provider.hpp"
#include "clock/ltc_time_provider.hpp"
#include "clock/osc_time_provider.hpp"
#include "clock/remap_time.hpp"
#include "export/headless_render.hpp"
#include "export/ilda_export.hpp"
#include "laser/discovery.hpp"
#include "laser/etherdream_listener.hpp"
#include "laser/idn_scanner.hpp"
#include "laser/ilda_show.hpp"
#include "laser/laser_frame.hpp"
#include "laser/projector_correction.hpp"
#include "laser/show_frame.hpp"
#include "output/play_moment.hpp"
#include "preview/preview_window.hpp"
#include "preview/readout.hpp"
#include "show/show_end.hpp"
#include "show/show_folder.hpp"
#include "show/show_objects.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

namespace {

ShowSources sourcesOf(const ShowObjects& show) {
    return {*show.gAnimation, *show.gRemapTable, *show.gTimeline};
}

// Start-up lines for the operator; -q leaves only errors.
void tell(const Options& options, const std::string& line) {
    if (options.verbosity >= 0) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

// Lists what answers within a fixed time, on stdout, one projector a line.
constexpr auto kListingTime = std::chrono::milliseconds(1500);

int listProjectors(const Options& options) {
    const StopSignals signals;
    // Ether Dreams only listen for: their status broadcasts come once a second.
    std::vector<std::string> cubeWords;
    std::vector<Ipv4Address> dacs;
    std::vector<IdnWord> units;
    for (const std::string& word : projectorNames(options)) {
        if (const std::optional<Ipv4Address> dac = etherDreamAddress(word)) {
            dacs.push_back(*dac);
        } else if (const std::optional<IdnWord> unit = idnWord(word)) {
            units.push_back(*unit);
        } else {
            cubeWords.push_back(word);
        }
    }
    const bool anyKind = options.projectors.empty();
    std::vector<EtherDreamFound> dacsHeard;
    std::exception_ptr listenFailure;
    std::jthread listening;
    if (anyKind || !dacs.empty()) {
        listening = std::jthread([&] {
            try {
                EtherDreamListener listener;
                for (const EtherDreamFound& dac :
                     listener.collect(kListingTime, signals.stopRequested())) {
                    if (anyKind || std::find(dacs.begin(), dacs.end(), dac.source) != dacs.end()) {
                        dacsHeard.push_back(dac);
                    }
                }
            } catch (...) {
                listenFailure = std::current_exception();
            }
        });
    }
    // IDN units are asked for from a port of their own.
    std::vector<IdnFound> unitsHeard;
    std::exception_ptr scanFailure;
    std::jthread scanning;
    if (anyKind || !units.empty()) {
        scanning = std::jthread([&] {
            try {
                IdnScanner scanner;
                if (anyKind) {
                    unitsHeard = scanner.collect(kListingTime, signals.stopRequested());
                }
                const std::atomic<bool> never{false};
                const auto until = std::chrono::steady_clock::now() + kListingTime;
                for (const IdnWord& unit : units) {
                    std::uint8_t status = 0;
                    if (std::optional<IdnFound> one =
                            scanner.find(unit, until, signals.stopRequested(), never, status)) {
                        unitsHeard.push_back(*one);
                    }
                }
            } catch (...) {
                scanFailure = std::current_exception();
            }
        });
    }
    std::vector<FoundProjector> found;
    // The protocol's command port, where the devices' answers arrive.
    UdpSocket socket(0);
    if (anyKind || !cubeWords.empty()) {
        bindCommandPort(socket);
        Discovery discovery(socket, ProjectorChoice{cubeWords, options.interfaceName});
        try {
            found = discovery.collect(kListingTime, &signals.stopRequested());
        } catch (const DiscoveryCancelled&) {
            return 1;
        }
    }
    if (listening.joinable()) {
        listening.join();
    }
    if (scanning.joinable()) {
        scanning.join();
    }
    if (listenFailure) {
        std::rethrow_exception(listenFailure);
    }
    if (scanFailure) {
        std::rethrow_exception(scanFailure);
    }
    for (const FoundProjector& projector : found) {
        std::puts(("lasercube  " + describeProjector(projector)).c_str());
    }
    for (const EtherDreamFound& dac : dacsHeard) {
        std::puts(describeEtherDream(dac).c_str());
    }
    for (const IdnFound& unit : unitsHeard) {
        std::puts(describeIdn(unit).c_str());
    }
    if ((!dacsHeard.empty() || !unitsHeard.empty()) && found.empty()) {
        return 0;
    }
    if (found.empty() && cubeWords.empty() && (!dacs.empty() || !units.empty())) {
        std::fputs("lumarok: no Ether Dream or IDN unit named answered within 1.5 s\n", stderr);
        return 1;
    }
    if (found.empty() && !cubeWords.empty()) {
        // Name what did answer: a mistyped name is then plain to see.
        Discovery everyone(socket, ProjectorChoice{{}, options.interfaceName});
        std::vector<std::string> answering;
        try {
            for (const FoundProjector& other :
                 everyone.collect(kListingTime, &signals.stopRequested())) {
                const std::string& name = other.info.deviceName;
                answering.push_back((name.empty() ? std::string("(no name)") : name) + " at " +
                                    other.source.address.text());
            }
        } catch (const DiscoveryCancelled&) {
            return 1;
        }
        std::string wanted;
        for (const std::string& word : cubeWords) {
            wanted += (wanted.empty() ? "" : ", ") + word;
        }
        std::fprintf(stderr, "lumarok: %s\n", waitingForLine(wanted, answering).c_str());
        return 1;
    }
    if (found.empty()) {
        std::fputs("lumarok: no projector answered within 1.5 s\n", stderr);
        return 1;
    }
    return 0;
}

// Laser-mode intensity, checked before anything is sent: a percentage outside 0..100
// is refused (an unreadable one already was, with the number reader's own text).
float laserIntensity(const Options& options) {
    if (!(options.intensity >= 0.0f && options.intensity <= 1.0f)) {
        throw std::invalid_argument("-i wants a percentage from 0 to 100, not '" +
                                    options.intensityText + "'");
    }
    return options.intensity;
}

// The preview window with the options' X display.
int runPreviewWindow(const Options& options, const char* program,
                     const std::function<void(std::vector<LaserSample>&)>& renderFrame,
                     const ReadoutFunction& readout) {
    // freeglut reads the X options from its own argument vector; only -display is passed.
    std::vector<std::string> words{program};
    if (!options.display.empty()) {
        words.insert(words.end(), {"-display", options.display});
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    return runPreview(argc, argv.data(), renderFrame, readout, options.verbosity > 0);
}

// Where the show ends on the clock, and what follows (--at-end).
ShowEnd showEndFor(const ShowSources& sources, const Options& options) {
    return {options.atEnd.value_or(AtEnd::hold),
            clockTimeForShowTime(sources.remapTable, showEndSeconds(sources)),
            !options.osc && !options.ltc};
}

// With --on-beat the preview draws for the moment its frame is seen, one display
// refresh on, less --latency; without it for now (zero).
class PreviewMoment {
public:
    explicit PreviewMoment(const Options& options)
        : onBeat(options.onBeat),
          latency(std::chrono::duration_cast<PlayClock::duration>(
              std::chrono::duration<double, std::milli>(options.latencyMs.value_or(0.0)))) {}
    PlayClock::time_point next() {
        return onBeat ? refresh.shownAt(PlayClock::now()) - latency : PlayClock::time_point{};
    }

private:
    bool onBeat;
    PlayClock::duration latency;
    RefreshInterval refresh;
};

int runPreviewMode(const ShowObjects& show, const Options& options, const char* program,
                   const ProjectorCorrection& correction) {
    const ShowSources sources = sourcesOf(show);
    const ShowEnd end = showEndFor(sources, options);
    glm::vec2 gPreviewBeamPosition{0.0f, 0.0f};
    double showTime = 0.0;
    ShowFrameBuffers buffers; // kept from frame to frame: steady frames do not allocate
    std::vector<LaserSample> corrected;
    const ReadoutSources readout{show.gTimeline.get(), show.gTimeProvider.get(),
                                 show.gAudioCapture.get()};
    PreviewMoment moment(options);
    return runPreviewWindow(
        options, program,
        [&](std::vector<LaserSample>& samples) {
            const EndedClock clock =
                atShowEnd(end, clockTimeFor(*show.gTimeProvider, moment.next()));
            showTime = remapTime(*show.gRemapTable, clock.clockSeconds);
            if (clock.dark) {
                samples.clear();
                return;
            }
            const ColorFrame& frame = renderShowFrame(sources, showTime, buffers);
            gPreviewBeamPosition = buildPreviewPath(frame, corrected, gPreviewBeamPosition);
            // The named projector's picture, with its zones.
            correction.apply(corrected, samples);
            appendZoneOutlines(correction.zones(), samples);
        },
        [&](double framesPerSecond) { return readoutLines(readout, showTime, framesPerSecond); });
}

// ILDA files end dark (or loop, in the show's settings); --at-end hold keeps their last
// frame instead.
double ildaClock(const IldaShow& ilda, const Options& options, double clockSeconds) {
    const double end = ilda.endSeconds();
    if (options.atEnd == AtEnd::hold && ilda.frameCount() > 0 && clockSeconds >= end) {
        return end - 0.5 / options.ildaFps.value_or(30.0);
    }
    return clockSeconds;
}

int runIldaPreview(const IldaShow& ilda, TimeProvider& clock, const Options& options,
                   const char* program, const ProjectorCorrection& correction) {
    glm::vec2 beam{0.0f, 0.0f};
    double clockSeconds = 0.0;
    std::vector<LaserSample> built;
    PreviewMoment moment(options);
    return runPreviewWindow(
        options, program,
        [&](std::vector<LaserSample>& samples) {
            clockSeconds = ildaClock(ilda, options, clockTimeFor(clock, moment.next()));
            beam = ilda.buildFrame(clockSeconds, built, beam);
            correction.apply(built, samples);
            appendZoneOutlines(correction.zones(), samples);
        },
        [&](double framesPerSecond) {
            // The show's readout without timeline, the frame in its place (in capitals,
            // the font's only letters); the clock time is the show time here.
            std::vector<std::string> lines =
                readoutLines({nullptr, &clock, nullptr}, clockSeconds, framesPerSecond);
            const std::optional<std::size_t> frame = ilda.frameAt(clockSeconds);
            std::string playing = frame ? ilda.describe(*frame) : "dark";
            std::transform(playing.begin(), playing.end(), playing.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            lines.insert(lines.begin() + 2, playing);
            return lines;
        });
}

// freeglut aborts the process when it cannot open a display; say why instead.
void requireDisplay(const Options& options) {
    const char* display = std::getenv("DISPLAY");
    if (options.display.empty() && (display == nullptr || *display == '\0')) {
        throw std::runtime_error("no display (DISPLAY is not set); use xvfb-run or --render");
    }
}

// oscClock: set to the clock when it is OSC's, whose socket live control shares.
std::unique_ptr<TimeProvider> makeTimeProvider(const Options& options, OscTimeProvider*& oscClock) {
    oscClock = nullptr;
    if (options.ltc) {
        auto provider = std::make_unique<LtcTimeProvider>(options.ltcSource);
        tell(options, "clock: " + provider->describe());
        return provider;
    }
    if (!options.osc) {
        tell(options, "clock: steady clock");
        return std::make_unique<ClockTimeProvider>(); // show time starts now
    }
    // With --on-beat the time runs on from the last /Time until the frame is seen, at most
    // for the clock timeout (else 2 s).
    auto provider = std::make_unique<OscTimeProvider>(
        OscSettings{options.oscPort, options.oscAddress, options.oscFrom,
                    options.clockTimeout > 0.0 ? options.clockTimeout : 2.0});
    std::string line = "clock: OSC /Time on " + provider->listenText();
    for (const AddressRange& sender : options.oscFrom) {
        line += (&sender == &options.oscFrom.front() ? " from " : ", ") + sender.text();
    }
    tell(options, line);
    oscClock = provider.get();
    return provider;
}

// ILDA files in the preview or on the projectors; the show objects hold only the clock.
int runIldaShow(IldaShow& ilda, const Options& options, const char* program,
                const std::shared_ptr<const Venue>& venue, const ProjectorCorrection& named) {
    float intensity = kPreviewIntensity;
    if (options.is<LaserMode>()) {
        intensity = laserIntensity(options);
    } else {
        requireDisplay(options);
    }
    ilda.setIntensity(intensity);
    ShowObjects show;
    show.gTimeProvider = makeTimeProvider(options, show.oscClock);
    int status = 0;
    if (options.is<LaserMode>()) {
        runLaserShow(
            show, options,
            [&ilda, &show, &options](std::vector<LaserSample>& samples, glm::vec2 beam,
                                     double& shownSeconds,
                                     std::chrono::steady_clock::time_point drawFor) {
                // An ILDA show's time is the clock's: it has no remap table.
                shownSeconds = ildaClock(ilda, options, clockTimeFor(*show.gTimeProvider, drawFor));
                return ilda.buildFrame(shownSeconds, samples, beam);
            },
            venue);
    } else {
        status = runIldaPreview(ilda, *show.gTimeProvider, options, program, named);
    }
    show.shutdown();
    return status;
}

int run(int argc, char** argv, const LaserFrameWrap& wrap) {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.is<HelpMode>()) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.is<VersionMode>()) {
        std::puts(versionText());
        return 0;
    }
    if (options.is<ListProjectorsMode>()) {
        return listProjectors(options);
    }
    if (const auto* listing = std::get_if<ListFramesMode>(&options.mode)) {
        listIldaFrames(listing->file, stdout, stderr);
        return 0;
    }
    const auto* render = std::get_if<RenderMode>(&options.mode);
    if (render != nullptr) {
        (void)renderFormatOf(render->out); // a bad name fails before the data is read
    }
    // Read and checked before anything starts or is sent.
    const std::shared_ptr<const Venue> venue = venueOf(options);
    // Laser mode picks each projector's entry by the name it reports, once found.
    const ProjectorCorrection named =
        options.is<LaserMode>() ? ProjectorCorrection{} : namedCorrection(options, venue.get());
    const ProjectorCorrection* toFile = options.projectors.size() == 1 ? &named : nullptr;
    std::optional<IldaShow> ilda;
    if (!options.ildaFiles.empty()) {
        const std::vector<std::filesystem::path> files(options.ildaFiles.begin(),
                                                       options.ildaFiles.end());
        ilda.emplace(files,
                     IldaShowSettings{options.ildaFps.value_or(30.0),
                                      options.loop || options.atEnd == AtEnd::loop,
                                      options.intensity},
                     options.verbosity >= 0 ? stderr : nullptr);
    }
    if (render != nullptr) {
        RenderRequest request{render->clockSeconds, render->out, options.intensity, toFile};
        if (ilda) {
            renderIldaHeadless(*ilda, request);
            return 0;
        }
        const std::filesystem::path folder = findShowFolder(options.showFolder, ownExecutable());
        ShowObjects show;
        show.load(folder, false, {});
        renderHeadless(sourcesOf(show), request);
        return 0;
    }
    if (const auto* exporting = std::get_if<ExportIldaMode>(&options.mode)) {
        IldaExportRequest request{
            exporting->file,   options.fps.value_or(30.0), options.fromSeconds.value_or(0.0),
            options.toSeconds, options.intensity,          toFile};
        const StopSignals signals; // Ctrl-C ends the export with the old file in place
        if (ilda) {
            exportIldaFrames(
                [&ilda](double clockSeconds, std::vector<LaserSample>& samples, glm::vec2 beam) {
                    return ilda->buildFrame(clockSeconds, samples, beam);
                },
                ilda->endSeconds(), request, stderr, &signals.stopRequested());
            return 0;
        }
        ShowObjects show;
        show.load(findShowFolder(options.showFolder, ownExecutable()), false, {});
        exportIlda(sourcesOf(show), request, stderr, &signals.stopRequested());
        return 0;
    }
    if (ilda) {
        return runIldaShow(*ilda, options, argv[0], venue, named);
    }
    float intensity = kDefaultIntensity;
    if (options.is<LaserMode>()) {
        intensity = laserIntensity(options);
    } else {
        requireDisplay(options);
    }
    const std::filesystem::path folder = findShowFolder(options.showFolder, ownExecutable());
    tell(options, "show folder: " + std::filesystem::absolute(folder).lexically_normal().string());
    ShowObjects show;
    show.load(folder, true, options.audioSource, options.verbosity >= 0);
    show.gTimeProvider = makeTimeProvider(options, show.oscClock);
    int status = 0;
    if (options.is<LaserMode>()) {
        LaserFrameBuilder build =
            showFrameBuilder(show, intensity, showEndFor(sourcesOf(show), options));
        runLaserShow(show, options, wrap ? wrap(std::move(build)) : std::move(build), venue);
    } else {
        status = runPreviewMode(show, options, argv[0], named);
    }
    show.shutdown();
    return status;
}

// Errors end as one line, whatever text a library put in them.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

} // namespace

int runShow(int argc, char** argv, const LaserFrameWrap& wrap) {
    try {
        return run(argc, argv, wrap);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "lumarok: %s; %s\n", oneLine(e.what()).c_str(), kUsageHint);
        return 2;
    } catch (const std::bad_alloc&) {
        std::fputs("lumarok: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok: %s\n", oneLine(e.what()).c_str());
    } catch (...) {
        std::fputs("lumarok: unknown error\n", stderr);
    }
    return 1;
}

} // namespace lumarok

#include "app/show_runner.hpp"

#include "anim/animation.hpp"
#include "app/command_line.hpp"
#include "app/effect_kind.hpp"
#include "app/headless_render.hpp"
#include "app/laser_loop.hpp"
#include "app/laser_status.hpp"
#include "app/preview_window.hpp"
#include "app/readout.hpp"
#include "app/show_folder.hpp"
#include "app/show_frame.hpp"
#include "app/show_objects.hpp"
#include "app/stop_signals.hpp"
#include "app/version.hpp"
#include "clock/clock_time_provider.hpp"
#include "clock/osc_time_provider.hpp"
#include "clock/remap_time.hpp"
#include "laser/discovery.hpp"
#include "laser/lasercube_link.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumarok {

namespace {

ShowSources sourcesOf(const ShowObjects& show) {
    return {*show.gAnimation, *show.gRemapTable, *show.gTimeline};
}

double currentShowTime(const ShowObjects& show) {
    return remapTime(*show.gRemapTable, show.gTimeProvider->getTime());
}

// Start-up lines for the operator; -q leaves only errors.
void tell(const Options& options, const std::string& line) {
    if (options.verbosity >= 0) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

ProjectorChoice projectorChoice(const Options& options) {
    return {options.projectors, options.interfaceName};
}

// Lists what answers within a fixed time, on stdout, one projector a line.
constexpr auto kListingTime = std::chrono::milliseconds(1500);

int listProjectors(const Options& options) {
    const StopSignals signals;
    // Any free port: the devices answer to where the request came from, and a show
    // playing on this machine keeps the command port.
    UdpSocket socket(0);
    socket.enableBroadcast();
    socket.bind(0);
    Discovery discovery(socket, projectorChoice(options));
    std::vector<FoundProjector> found;
    try {
        found = discovery.collect(kListingTime, &signals.stopRequested());
    } catch (const DiscoveryCancelled&) {
        return 1;
    }
    for (const FoundProjector& projector : found) {
        std::puts(describeProjector(projector).c_str());
    }
    if (found.empty()) {
        std::fputs("lumarok: no projector answered within 1.5 s\n", stderr);
        return 1;
    }
    return 0;
}

// Ends normally when SIGINT or SIGTERM arrives (also during discovery): the beam is
// darkened, the link switches the device off and joins its thread, and the caller
// then releases the show objects in shutdown order.
void runLaserMode(const ShowObjects& show, const Options& options) {
    const StopSignals signals;
    std::optional<LaserCubeLink> link;
    try {
        link.emplace(&signals.stopRequested(), projectorChoice(options));
    } catch (const DiscoveryCancelled&) {
        return;
    }
    tell(options, "projector: " + link->name() + " at " + link->address());
    const float intensity = options.intensity;
    const ShowSources sources = sourcesOf(show);
    const auto start = StatusLine::Clock::now();
    StatusLine statusLine = StatusLine::forStderr(options.verbosity < 0, start);
    RateMeter rates(start);
    LaserStatus status;
    status.projector = link->name() + " " + link->address();
    runLaserLoop(
        signals.stopRequested(),
        [&](std::vector<LaserSample>& samples, glm::vec2 beamPosition) {
            status.showSeconds = currentShowTime(show);
            const ColorFrame frame = renderShowFrame(sources, status.showSeconds);
            return buildLaserFramePath(frame, samples, beamPosition, intensity).beamPosition;
        },
        [&](const std::vector<LaserSample>& samples) {
            link->sendFrame(samples);
            rates.frameSent(samples.size());
            const auto now = StatusLine::Clock::now();
            if (statusLine.due(now)) {
                status.entry = show.gTimeline->selectedIndex(status.showSeconds);
                status.effectKind = effectKind(show.gTimeline->effectAt(status.showSeconds));
                const LaserCubeLink::Readout readout = link->readout();
                status.bufferFree = readout.bufferFree;
                status.bufferMax = readout.bufferMax;
                status.underruns = readout.emptyReports;
                status.deviceSampleRate = readout.sampleRate;
                rates.read(status, now);
                statusLine.show(formatLaserStatus(status, options.verbosity > 0), now);
            }
        });
}

int runPreviewMode(const ShowObjects& show, const Options& options, const char* program) {
    const ShowSources sources = sourcesOf(show);
    glm::vec2 gPreviewBeamPosition{0.0f, 0.0f};
    double showTime = 0.0;
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
    const ReadoutSources readout{show.gTimeline.get(), show.gTimeProvider.get(),
                                 show.gAudioCapture.get()};
    return runPreview(
        argc, argv.data(),
        [&](std::vector<LaserSample>& samples) {
            showTime = currentShowTime(show);
            const ColorFrame frame = renderShowFrame(sources, showTime);
            gPreviewBeamPosition = buildPreviewPath(frame, samples, gPreviewBeamPosition);
        },
        [&](double framesPerSecond) { return readoutLines(readout, showTime, framesPerSecond); });
}

// freeglut aborts the process when it cannot open a display; say why instead.
void requireDisplay(const Options& options) {
    const char* display = std::getenv("DISPLAY");
    if (options.display.empty() && (display == nullptr || *display == '\0')) {
        throw std::runtime_error("no display (DISPLAY is not set); use xvfb-run or --render");
    }
}

std::unique_ptr<TimeProvider> makeTimeProvider(const Options& options) {
    if (!options.osc) {
        tell(options, "clock: steady clock");
        return std::make_unique<ClockTimeProvider>(); // show time starts now
    }
    auto provider = std::make_unique<OscTimeProvider>(
        OscSettings{options.oscPort, options.oscAddress, options.oscFrom});
    std::string line = "clock: OSC /Time on " + provider->listenText();
    for (const AddressRange& sender : options.oscFrom) {
        line += (&sender == &options.oscFrom.front() ? " from " : ", ") + sender.text();
    }
    tell(options, line);
    return provider;
}

int run(int argc, char** argv) {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts(versionText());
        return 0;
    }
    if (options.listProjectors) {
        return listProjectors(options);
    }
    if (options.renderSeconds) {
        RenderRequest request{*options.renderSeconds, options.renderOut, options.intensity};
        (void)renderFormatOf(request.out); // a bad name fails before the data is read
        const std::filesystem::path folder = findShowFolder(options.showFolder, ownExecutable());
        ShowObjects show;
        show.load(folder, false, {});
        renderHeadless(sourcesOf(show), request);
        return 0;
    }
    if (!options.laser) {
        requireDisplay(options);
    }
    const std::filesystem::path folder = findShowFolder(options.showFolder, ownExecutable());
    tell(options, "show folder: " + std::filesystem::absolute(folder).lexically_normal().string());
    ShowObjects show;
    show.load(folder, true, options.audioSource, options.verbosity >= 0);
    show.gTimeProvider = makeTimeProvider(options);
    int status = 0;
    if (options.laser) {
        runLaserMode(show, options);
    } else {
        status = runPreviewMode(show, options, argv[0]);
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

int runShow(int argc, char** argv) {
    try {
        return run(argc, argv);
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

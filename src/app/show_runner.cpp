#include "app/show_runner.hpp"

#include "anim/animation.hpp"
#include "app/command_line.hpp"
#include "app/headless_render.hpp"
#include "app/laser_loop.hpp"
#include "app/preview_window.hpp"
#include "app/show_frame.hpp"
#include "app/show_objects.hpp"
#include "app/stop_signals.hpp"
#include "app/version.hpp"
#include "clock/clock_time_provider.hpp"
#include "clock/osc_time_provider.hpp"
#include "clock/remap_time.hpp"
#include "laser/lasercube_link.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace lumarok {

namespace {

ShowSources sourcesOf(const ShowObjects& show) {
    return {*show.gAnimation, *show.gRemapTable, *show.gTimeline};
}

double currentShowTime(const ShowObjects& show) {
    return remapTime(*show.gRemapTable, show.gTimeProvider->getTime());
}

// Ends normally when SIGINT or SIGTERM arrives (also during discovery): the beam is
// darkened, the link switches the device off and joins its thread, and the caller
// then releases the show objects in shutdown order.
void runLaserMode(const ShowObjects& show, const ArgumentList& arguments) {
    const StopSignals signals;
    std::optional<LaserCubeLink> link;
    try {
        link.emplace(&signals.stopRequested());
    } catch (const DiscoveryCancelled&) {
        return;
    }
    // Read only now that the link exists, so a bad value ends the program after
    // the device has been found and switched on, as it always has.
    const float intensity = intensityOption(arguments);
    const ShowSources sources = sourcesOf(show);
    ShowFrameBuffers buffers; // kept from frame to frame: steady frames do not allocate
    runLaserLoop(
        signals.stopRequested(),
        [&](std::vector<LaserSample>& samples, glm::vec2 beamPosition) {
            const ColorFrame& frame = renderShowFrame(sources, currentShowTime(show), buffers);
            return buildLaserFramePath(frame, samples, beamPosition, intensity).beamPosition;
        },
        [&](const std::vector<LaserSample>& samples) { link->sendFrame(samples); });
}

int runPreviewMode(const ShowObjects& show, int& argc, char** argv) {
    const ShowSources sources = sourcesOf(show);
    glm::vec2 gPreviewBeamPosition{0.0f, 0.0f};
    ShowFrameBuffers buffers; // kept from frame to frame: steady frames do not allocate
    return runPreview(argc, argv, [&](std::vector<LaserSample>& samples) {
        const ColorFrame& frame = renderShowFrame(sources, currentShowTime(show), buffers);
        gPreviewBeamPosition = buildPreviewPath(frame, samples, gPreviewBeamPosition);
    });
}

// freeglut aborts the process when it cannot open a display; say why instead.
void requireDisplay(const ArgumentList& arguments) {
    const char* display = std::getenv("DISPLAY");
    const bool displayGiven = hasOption(arguments, "-display");
    if (!displayGiven && (display == nullptr || *display == '\0')) {
        throw std::runtime_error("no display (DISPLAY is not set); use xvfb-run or --render");
    }
}

int run(int argc, char** argv) {
    const ArgumentList arguments = makeArgumentList(argc, argv);
    const ExtraOptions extra = readExtraOptions(arguments);
    if (extra.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (extra.version) {
        std::puts(versionText());
        return 0;
    }
    if (extra.render) {
        RenderRequest request{extra.renderClockSeconds, extra.renderOut,
                              intensityOption(arguments)};
        (void)renderFormatOf(request.out); // a bad name fails before the data is read
        ShowObjects show;
        show.load(false, {});
        renderHeadless(sourcesOf(show), request);
        return 0;
    }
    const bool laser = hasOption(arguments, "-laser");
    if (!laser) {
        requireDisplay(arguments);
    }
    ShowObjects show;
    show.load(true, extra.audioSource);
    if (hasOption(arguments, "-osc")) {
        show.gTimeProvider = std::make_unique<OscTimeProvider>();
    } else {
        show.gTimeProvider = std::make_unique<ClockTimeProvider>(); // show time starts now
    }
    int status = 0;
    if (laser) {
        runLaserMode(show, arguments);
    } else {
        status = runPreviewMode(show, argc, argv);
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok: %s\n", oneLine(e.what()).c_str());
    } catch (...) {
        std::fputs("lumarok: unknown error\n", stderr);
    }
    return 1;
}

} // namespace lumarok

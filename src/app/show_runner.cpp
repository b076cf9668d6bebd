#include "app/show_runner.hpp"

#include "anim/animation.hpp"
#include "app/command_line.hpp"
#include "app/headless_render.hpp"
#include "app/laser_loop.hpp"
#include "app/laser_sender.hpp"
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace lumarok {

namespace {

ShowSources sourcesOf(const ShowObjects& show) {
    return {*show.gAnimation, *show.gRemapTable, *show.gTimeline};
}

double currentShowTime(const ShowObjects& show) {
    return remapTime(*show.gRemapTable, show.gTimeProvider->getTime());
}

// Laser-mode intensity, read and checked before anything is sent: the texts of an
// unreadable value as ever, and a percentage outside 0..100 refused.
float laserIntensity(const ArgumentList& arguments) {
    const std::string text = optionValue(arguments, "-i");
    if (text.empty()) {
        return kDefaultIntensity;
    }
    const float percent = readFloat(text);
    if (!(percent >= 0.0f && percent <= 100.0f)) {
        throw std::invalid_argument("-i wants a percentage from 0 to 100, not '" + text + "'");
    }
    return percent / 100.0f;
}

// For tests only (never set in a show): "AFTER_SECONDS:MILLISECONDS" makes one
// render that many seconds into laser mode take that much longer, as a render stall.
class RenderStallForTests {
public:
    RenderStallForTests() {
        const char* value = std::getenv("LUMAROK_TEST_RENDER_STALL");
        double after = 0.0;
        long milliseconds = 0;
        if (value != nullptr && std::sscanf(value, "%lf:%ld", &after, &milliseconds) == 2) {
            at = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(after));
            stall = std::chrono::milliseconds(milliseconds);
            armed = true;
        }
    }
    void maybeStall() {
        if (armed && std::chrono::steady_clock::now() >= at) {
            armed = false;
            std::this_thread::sleep_for(stall);
        }
    }

private:
    std::chrono::steady_clock::time_point at{};
    std::chrono::milliseconds stall{0};
    bool armed = false;
};

// Ends normally when a stop signal arrives (also during discovery). The stop is
// decided in one place, the render loop's flags: a signal, or the sender failing.
// Every way out (those two, an error while rendering) leaves through the sender,
// which darkens the beam where it is, and the link, which switches the device off;
// then the caller releases the show objects in shutdown order, or the error ends
// the program.
void runLaserMode(const ShowObjects& show, float intensity) {
    const StopSignals signals;
    std::optional<LaserCubeLink> link;
    try {
        link.emplace(&signals.stopRequested(), true);
    } catch (const DiscoveryCancelled&) {
        return;
    }
    FrameHandoff handoff;
    LaserSender sender(*link, handoff, signals.stopRequested());
    const ShowSources sources = sourcesOf(show);
    RenderStallForTests stallForTests;
    runLaserLoop(
        StopFlags{&signals.stopRequested(), &sender.failed()},
        [&](std::vector<LaserSample>& samples, glm::vec2 beamPosition) {
            stallForTests.maybeStall();
            const ColorFrame frame = renderShowFrame(sources, currentShowTime(show));
            return buildLaserFramePath(frame, samples, beamPosition, intensity).beamPosition;
        },
        handoff);
    sender.finish();
}

int runPreviewMode(const ShowObjects& show, int& argc, char** argv) {
    const ShowSources sources = sourcesOf(show);
    glm::vec2 gPreviewBeamPosition{0.0f, 0.0f};
    return runPreview(argc, argv, [&](std::vector<LaserSample>& samples) {
        const ColorFrame frame = renderShowFrame(sources, currentShowTime(show));
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
    float intensity = kDefaultIntensity;
    if (laser) {
        intensity = laserIntensity(arguments);
    } else {
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
        runLaserMode(show, intensity);
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

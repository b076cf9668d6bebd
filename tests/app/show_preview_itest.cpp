// The real program in preview mode with the OSC clock, on a private X server:
// the test sets the show time with oscsend and looks at the window. What a frame looks
// like is the render's and the preview probe's to check (render_itest, preview_itest).
#include "anim/remap_loader.hpp"
#include "clock/remap_time.hpp"
#include "preview/readout.hpp"
#include "support/child_process.hpp"
#include "support/paths.hpp"
#include "support/pulse_server.hpp"
#include "support/x_server.hpp"

#include <glm/vec2.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

const std::string kTitle = "single triangle";
constexpr int kWindow = 1024;
constexpr float kPixelsPerUnit = 1024.0f / 4096.0f;

std::string asanOptions() {
    const char* own = std::getenv("ASAN_OPTIONS");
    return std::string(own != nullptr ? own : "") + ":detect_leaks=0";
}

// Walks a segment in drawing units in steps of about one pixel, clamped to the drawing
// space as the path builder clamps every sample.
template <typename Visit> void walk(glm::vec2 from, glm::vec2 to, Visit visit) {
    const float length = std::hypot(to.x - from.x, to.y - from.y) * kPixelsPerUnit;
    const int steps = std::max(1, static_cast<int>(std::ceil(length)));
    for (int k = 0; k <= steps; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(steps);
        const glm::vec2 p = from * (1.0f - t) + to * t;
        visit(static_cast<int>(std::clamp(p.x, 0.0f, 4095.0f) * kPixelsPerUnit),
              static_cast<int>(std::clamp(p.y, 0.0f, 4095.0f) * kPixelsPerUnit));
    }
}

class ShowPreview : public ::testing::Test {
protected:
    static void SetUpTestSuite() { remap_ = loadRemapTable(sourceDir() + "/data/remap.txt"); }

    void SetUp() override {
        if (!onPath("oscsend")) {
            GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
        }
        x_ = std::make_unique<XServer>();
        if (!x_->failure().empty()) {
            GTEST_SKIP() << "no X server for the preview: " << x_->failure();
        }
        // The audio-reactive effects record from a private server's silent
        // sink; without one the show goes on and says so once on stderr.
        try {
            pulse_.emplace();
        } catch (const PulseServerUnavailable& why) {
            std::printf("no private audio server (%s); the show runs without\n", why.what());
        }
    }

    // Starts `lumarok -osc` and waits for its window. Port 8666 is fixed and
    // other tests on the machine may hold it for a while: a show that cannot
    // bind is started again.
    std::unique_ptr<ChildProcess> startShow() {
        ChildOptions options;
        options.argv = {programPath("lumarok"), "-osc", "-v"}; // -v: the frame rate at the end
        options.workingDirectory = sourceDir();                // the show reads ./data
        options.setEnv = {{"DISPLAY", x_->display()}, {"ASAN_OPTIONS", asanOptions()}};
        ChildOptions wait;
        wait.argv = {programPath("lumarok-xsend"), "-display", x_->display(), kTitle, "wait", "60"};
        const auto deadline = std::chrono::steady_clock::now() + 180s;
        for (;;) {
            auto show = std::make_unique<ChildProcess>(options);
            const int waited = runToEnd(wait, 90s);
            const bool portBusy =
                !show->running() && show->stderrText().find("Bind failed") != std::string::npos;
            if (!portBusy || std::chrono::steady_clock::now() > deadline) {
                EXPECT_EQ(waited, 0) << "no window: " << show->stderrText();
                return show;
            }
            std::this_thread::sleep_for(1s);
        }
    }

    int xsend(std::vector<std::string> args) {
        ChildOptions options;
        options.argv = {programPath("lumarok-xsend"), "-display", x_->display(), kTitle};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        return runToEnd(options, 30s);
    }

    static void sendTime(float seconds) {
        ChildOptions options;
        std::ostringstream value;
        value.precision(9);
        value << seconds;
        options.argv = {"oscsend", "127.0.0.1", "8666", "/Time", "f", value.str()};
        EXPECT_EQ(runToEnd(options, 10s), 0);
    }

    // The show time the program computes for an OSC time.
    static double showTime(float oscSeconds) {
        return remapTime(remap_, static_cast<double>(oscSeconds));
    }
    static inline RemapTable remap_;
    std::unique_ptr<XServer> x_;
    std::optional<PrivatePulseServer> pulse_;
};

// Share of points along the readout's strokes for `lines` (empty rows skipped) that the
// window shows in the readout's ink.
double readoutCoverage(const std::vector<std::string>& lines, const Screenshot& shot) {
    std::vector<PreviewVertex> vertices;
    appendReadoutSegments(lines, vertices);
    int points = 0;
    int shown = 0;
    for (std::size_t i = 0; i + 1 < vertices.size(); i += 2) {
        const glm::vec2 from{vertices[i].x, vertices[i].y};
        const glm::vec2 to{vertices[i + 1].x, vertices[i + 1].y};
        walk(from, to, [&](int x, int y) {
            ++points;
            const Rgb p = shot.brightestAround(x, y, 1);
            shown += (p.r >= 150 && p.g >= 150) ? 1 : 0;
        });
    }
    return points == 0 ? 0.0 : static_cast<double>(shown) / points;
}

TEST_F(ShowPreview, ReadoutWaitsForTimeThenShowsTheShowTimeAndHides) {
    auto show = startShow();
    ASSERT_TRUE(show->running()) << show->stderrText();
    const std::string errors = show->stderrText();
    EXPECT_NE(errors.find("clock: OSC /Time on 0.0.0.0:8666\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("show folder: " + sourceDir() + "/data\n"), std::string::npos) << errors;

    const auto seen = [&](const std::vector<std::string>& lines) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        double best = 0.0;
        do {
            best = readoutCoverage(lines, takeScreenshot(x_->display()));
        } while (best < 0.95 && std::chrono::steady_clock::now() < deadline);
        return best;
    };
    EXPECT_GE(seen({"SHOW 0.00 S", "WAITING FOR /TIME ON 0.0.0.0:8666"}), 0.95);

    // Idle before the first /Time, the window still redraws at its capped rate.
    const double cpuBefore = cpuSeconds(show->pid());
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(3s);
    const double cpuShare =
        (cpuSeconds(show->pid()) - cpuBefore) /
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    std::printf("preview CPU under Xvfb with the readout: %.0f %% of one core\n", 100.0 * cpuShare);

    sendTime(19.6f);
    char showLine[32];
    std::snprintf(showLine, sizeof showLine, "SHOW %.2f S", showTime(19.6f));
    EXPECT_GE(seen({showLine, "CLOCK OSC 0.0.0.0:8666"}), 0.95);

    ASSERT_EQ(xsend({"key", "h"}), 0);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (takeScreenshot(x_->display()).litPixels(0, 0, kWindow, 150) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(takeScreenshot(x_->display()).litPixels(0, 0, kWindow, 150), 0) << "h hides it";

    ASSERT_EQ(xsend({"key", "q"}), 0);
    EXPECT_EQ(show->waitFor(60s), 0) << show->stderrText();
}

TEST_F(ShowPreview, PlaysAMinuteOfTheShowAndEndsInOrderWhenClosed) {
    auto show = startShow();
    ASSERT_TRUE(show->running()) << show->stderrText();
    // A minute of show time at twice the speed of the clock: the blue opening,
    // the mask, the title card, the tunnel, rings, credits and the audio circle.
    const auto start = std::chrono::steady_clock::now();
    float seconds = 0.0f;
    while (seconds < 60.0f && show->running()) {
        seconds =
            2.0f * std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
        sendTime(std::min(seconds, 60.0f));
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(show->running()) << show->stderrText();
    ASSERT_EQ(xsend({"close"}), 0);
    ASSERT_EQ(show->waitFor(60s), 0) << show->stderrText();

    const std::string errors = show->stderrText();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        errors, match, std::regex(R"(preview: (\d+) frames in ([0-9.]+) s, ([0-9.]+) frames/s)")))
        << errors;
    EXPECT_GT(std::stoi(match[1].str()), 30);
    if (pulse_) {
        EXPECT_EQ(errors.find("lumarok:"), std::string::npos) << errors;
    }
    std::printf("lumarok -osc preview under Xvfb, 60 s of show time: %s\n", match[0].str().c_str());
}

} // namespace
} // namespace lumarok::test

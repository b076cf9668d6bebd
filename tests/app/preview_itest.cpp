// The preview window on a real X server (Xvfb with Mesa's software OpenGL),
// driven by lumarok-preview-probe, which shows a fixed sample list.
#include "support/child_process.hpp"
#include "support/paths.hpp"
#include "support/x_server.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

const std::string kTitle = "single triangle";
constexpr int kWindow = 1024;

// GL programs run under AddressSanitizer in the asan build; Mesa keeps
// allocations until exit, which the leak checker would report.
std::string asanOptions() {
    const char* own = std::getenv("ASAN_OPTIONS");
    return std::string(own != nullptr ? own : "") + ":detect_leaks=0";
}

class PreviewWindow : public ::testing::Test {
protected:
    void SetUp() override {
        x_ = std::make_unique<XServer>();
        if (!x_->failure().empty()) {
            GTEST_SKIP() << "no X server for the preview: " << x_->failure();
        }
    }

    std::unique_ptr<ChildProcess>
    startProbe(std::vector<std::string> args,
               std::vector<std::pair<std::string, std::string>> env = {}) {
        ChildOptions options;
        options.argv = {programPath("lumarok-preview-probe")};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.setEnv = std::move(env);
        options.setEnv.emplace_back("DISPLAY", x_->display());
        options.setEnv.emplace_back("ASAN_OPTIONS", asanOptions());
        return std::make_unique<ChildProcess>(options);
    }

    int xsend(std::vector<std::string> args) {
        ChildOptions options;
        options.argv = {programPath("lumarok-xsend"), "-display", x_->display(), kTitle};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        return runToEnd(options, 30s);
    }

    void waitForWindow() { ASSERT_EQ(xsend({"wait", "20"}), 0) << "the window never appeared"; }

    // Screenshots until `ready` holds (the window has drawn), at most 20 s.
    Screenshot shotWhen(const std::function<bool(const Screenshot&)>& ready) {
        Screenshot shot;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        do {
            shot = takeScreenshot(x_->display());
            if (ready(shot)) {
                return shot;
            }
            std::this_thread::sleep_for(100ms);
        } while (std::chrono::steady_clock::now() < deadline);
        ADD_FAILURE() << "the window never showed what was expected";
        return shot;
    }

    std::unique_ptr<XServer> x_;
};

bool blueAt(const Screenshot& shot, int x, int y) {
    const Rgb p = shot.brightestAround(x, y, 2);
    return p.b >= 250 && p.r == 0 && p.g == 0;
}

TEST_F(PreviewWindow, ShowsTheSamplesWhereTheyAreWrittenInTheirColours) {
    auto probe = startProbe({});
    waitForWindow();
    // The probe's picture, in window pixels (drawing units / 4), is described
    // beside its scene in tools/preview_probe.
    const Screenshot shot = shotWhen([](const Screenshot& s) { return blueAt(s, 256, 128); });
    ASSERT_EQ(shot.width, 1280);

    // The blue square's four sides, full blue.
    EXPECT_TRUE(blueAt(shot, 256, 128));
    EXPECT_TRUE(blueAt(shot, 256, 384));
    EXPECT_TRUE(blueAt(shot, 128, 256));
    EXPECT_TRUE(blueAt(shot, 384, 256));
    // The blank move crosses the square's inside and leaves nothing.
    EXPECT_EQ(shot.litPixels(140, 140, 372, 372), 0);
    // Not mirrored: nothing in the top-right or bottom-left quarter.
    EXPECT_EQ(shot.litPixels(512, 0, kWindow, 500), 0);
    EXPECT_EQ(shot.litPixels(0, 512, 500, kWindow), 0);
    // The green diagonal.
    const Rgb green = shot.brightestAround(640, 640, 2);
    EXPECT_GE(green.g, 250);
    EXPECT_EQ(green.r + green.b, 0);
    // Additive blending: a half-red line drawn there and back shows full red,
    // the same line drawn once shows half red.
    const Rgb twice = shot.brightestAround(600, 768, 2);
    const Rgb once = shot.brightestAround(600, 850, 2);
    EXPECT_GE(twice.r, 250);
    EXPECT_GE(once.r, 110);
    EXPECT_LE(once.r, 145);
    // Blue counts double: level 1024 of 4095 shows at half blue, not a quarter.
    const Rgb halfBlue = shot.brightestAround(600, 950, 2);
    EXPECT_GE(halfBlue.b, 110);
    EXPECT_LE(halfBlue.b, 145);
    // Everything else is cleared to black (the screen around the window shows
    // the server's weave, so black here is the window's own work).
    EXPECT_LT(shot.litPixels(0, 0, kWindow, kWindow), 5000);
    EXPECT_GT(shot.litPixels(kWindow, 0, 1280, 1024), 10000);

    EXPECT_EQ(xsend({"key", "q"}), 0);
    EXPECT_EQ(probe->waitFor(20s), 0);
}

TEST_F(PreviewWindow, FramesWithFewerThanTwoSamplesArePlainBlack) {
    for (const char* scene : {"empty", "single"}) {
        SCOPED_TRACE(scene);
        auto probe = startProbe({"--scene", scene});
        waitForWindow();
        const auto black = [](const Screenshot& s) {
            return s.litPixels(0, 0, kWindow, kWindow) == 0;
        };
        shotWhen(black);
        // Still black after many more redraws.
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(black(takeScreenshot(x_->display())));
        EXPECT_EQ(xsend({"key", "Escape"}), 0);
        EXPECT_EQ(probe->waitFor(20s), 0);
    }
}

TEST_F(PreviewWindow, EscapeQAndClosingTheWindowReturnFromTheEventLoop) {
    const std::vector<std::vector<std::string>> ways{{"key", "Escape"}, {"key", "q"}, {"close"}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.back());
        auto probe = startProbe({});
        waitForWindow();
        ASSERT_EQ(xsend(way), 0);
        EXPECT_EQ(probe->waitFor(20s), 0);
        // The caller's code after the event loop ran: the process was not ended inside it.
        EXPECT_NE(probe->stdoutText().find("probe: event loop returned"), std::string::npos)
            << probe->stderrText();
    }
}

TEST_F(PreviewWindow, OtherKeysDoNotEndTheShow) {
    auto probe = startProbe({});
    waitForWindow();
    ASSERT_EQ(xsend({"key", "a"}), 0);
    ASSERT_EQ(xsend({"key", "space"}), 0);
    EXPECT_FALSE(probe->waitFor(500ms));
    ASSERT_EQ(xsend({"key", "q"}), 0);
    EXPECT_EQ(probe->waitFor(20s), 0);
}

TEST_F(PreviewWindow, AResizedWindowStretchesTheWholeDrawingSpace) {
    auto probe = startProbe({});
    waitForWindow();
    shotWhen([](const Screenshot& s) { return blueAt(s, 256, 128); });
    ASSERT_EQ(xsend({"resize", "1280", "512"}), 0);
    // x now maps 4096 units to 1280 pixels, y 4096 units to 512 pixels:
    // the square spans x 160..480 and y 64..192.
    const Screenshot shot = shotWhen([](const Screenshot& s) { return blueAt(s, 320, 64); });
    EXPECT_TRUE(blueAt(shot, 320, 192));
    EXPECT_TRUE(blueAt(shot, 160, 128));
    EXPECT_TRUE(blueAt(shot, 480, 128));
    EXPECT_EQ(shot.litPixels(0, 0, 150, 512), 0);
    // The diagonal now ends at (1120, 448), inside the wider window.
    EXPECT_GE(shot.brightestAround(1100, 440, 3).g, 250);
    EXPECT_EQ(xsend({"close"}), 0);
    EXPECT_EQ(probe->waitFor(20s), 0);
}

TEST_F(PreviewWindow, AnErrorWhileRenderingEndsTheLoopAndIsReportedOnce) {
    auto probe = startProbe({"--scene", "throw"});
    const auto status = probe->waitFor(30s);
    ASSERT_TRUE(status) << "the probe kept running after its frame failed";
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(probe->stderrText(), "lumarok: probe failure on frame 3\n");
    EXPECT_EQ(probe->stdoutText().find("event loop returned"), std::string::npos);
}

TEST_F(PreviewWindow, StatisticsReportTheFrameRateOnExit) {
    auto probe = startProbe({"--seconds", "1.5", "--stats"});
    ASSERT_EQ(probe->waitFor(30s), 0) << probe->stderrText();
    const std::string report = probe->stderrText();
    // The figure itself is the measuring tools' (tools/preview_probe/measure_fps.sh).
    EXPECT_TRUE(std::regex_search(
        report, std::regex(R"(preview: \d+ frames in [0-9.]+ s, [0-9.]+ frames/s)")))
        << report;
    std::printf("probe preview under Xvfb: %s", report.c_str());
}

} // namespace
} // namespace lumarok::test

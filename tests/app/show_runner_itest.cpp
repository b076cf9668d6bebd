// The whole program in preview mode on a real X server, playing the hand-made show
// of tests/data/app_show (a rectangle whose top edge lies on pixel row 202.7 of the
// window, from x 204.75 to 614.25; see render_itest.cpp).
#include "support/child_process.hpp"
#include "support/paths.hpp"
#include "support/x_server.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class PreviewShow : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir = fs::temp_directory_path() / ("lumarok-show-" + std::to_string(::getpid()));
        fs::remove_all(dataDir);
        fs::create_directories(dataDir);
        fs::copy(fs::path(sourceDir()) / "tests/data/app_show", dataDir / "data");
        x = std::make_unique<XServer>();
        if (!x->failure().empty()) {
            GTEST_SKIP() << "no X server for the preview: " << x->failure();
        }
    }
    void TearDown() override {
        show.reset();
        x.reset();
        fs::remove_all(dataDir);
    }

    void start(std::vector<std::string> args) {
        ChildOptions options;
        options.argv = {programPath("lumarok")};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.workingDirectory = dataDir.string();
        options.setEnv = {{"DISPLAY", x->display()},
                          {"PULSE_SERVER", "unix:/nonexistent"},
                          {"ASAN_OPTIONS", std::string(std::getenv("ASAN_OPTIONS") != nullptr
                                                           ? std::getenv("ASAN_OPTIONS")
                                                           : "") +
                                               ":detect_leaks=0"}};
        show = std::make_unique<ChildProcess>(options);
    }

    int xsend(std::vector<std::string> args) {
        ChildOptions options;
        options.argv = {programPath("lumarok-xsend"), "-display", x->display(), "single triangle"};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        return runToEnd(options, 30s);
    }

    bool shotShows(const std::function<bool(const Screenshot&)>& wanted,
                   std::chrono::seconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        do {
            if (wanted(takeScreenshot(x->display()))) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    static bool topEdgeBlue(const Screenshot& s) {
        const Rgb edge = s.brightestAround(400, 202, 2);
        return edge.b >= 250 && edge.r == 0 && edge.g == 0;
    }

    fs::path dataDir;
    std::unique_ptr<XServer> x;
    std::unique_ptr<ChildProcess> show;
};

TEST_F(PreviewShow, PlaysTheShowInTheWindowAndEndsCleanlyOnQ) {
    start({});
    ASSERT_EQ(xsend({"wait", "20"}), 0) << "no window titled \"single triangle\"";
    // The steady clock starts after loading, so the drawing shows within its 7.7 s.
    EXPECT_TRUE(shotShows(topEdgeBlue, 7s)) << show->stderrText();
    const Screenshot shot = takeScreenshot(x->display());
    EXPECT_EQ(shot.litPixels(620, 620, 1024, 1024), 0) << "drawn mirrored";
    ASSERT_EQ(xsend({"key", "q"}), 0);
    EXPECT_EQ(show->waitFor(20s), 0) << show->stderrText();
}

} // namespace
} // namespace lumarok::test

// The real program in preview mode with the OSC clock, on a private X server:
// the test sets the show time with oscsend and looks at the window.
#include "anim/animation.hpp"
#include "anim/remap_loader.hpp"
#include "anim/sampler.hpp"
#include "clock/remap_time.hpp"
#include "effects/color_effect.hpp"
#include "effects/mask_effect.hpp"
#include "effects/text_effect.hpp"
#include "preview/readout.hpp"
#include "support/child_process.hpp"
#include "support/paths.hpp"
#include "support/pulse_server.hpp"
#include "support/x_server.hpp"

#include <glm/geometric.hpp>
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

// What the window should show for a ColorFrame, in window pixels.
class ExpectedPicture {
public:
    // Pixels within `reach` of a stroke: strokes are cut into chords by the
    // path builder and blank moves fade out over one blank step (30 units).
    ExpectedPicture(const ColorFrame& frame, int reach) : near_(kWindow * kWindow, 0) {
        for (const ColorPolyline& line : frame) {
            for (std::size_t i = 0; i + 1 < line.size(); ++i) {
                walk(line[i].position, line[i + 1].position, [&](int x, int y) {
                    for (int yy = std::max(0, y - reach); yy <= std::min(kWindow - 1, y + reach);
                         ++yy) {
                        for (int xx = std::max(0, x - reach);
                             xx <= std::min(kWindow - 1, x + reach); ++xx) {
                            near_[static_cast<std::size_t>(yy * kWindow + xx)] = 1;
                        }
                    }
                });
            }
        }
    }

    // Lit window pixels that no stroke explains.
    int strayPixels(const Screenshot& shot) const {
        int stray = 0;
        for (int y = 0; y < kWindow; ++y) {
            for (int x = 0; x < kWindow; ++x) {
                const Rgb p = shot.at(x, y);
                if ((p.r | p.g | p.b) != 0 &&
                    near_[static_cast<std::size_t>(y * kWindow + x)] == 0) {
                    ++stray;
                }
            }
        }
        return stray;
    }

    // Walks a segment in drawing units in steps of about one pixel, clamped to
    // the drawing space as the path builder clamps every sample.
    template <typename Visit> static void walk(glm::vec2 from, glm::vec2 to, Visit visit) {
        const float length = std::hypot(to.x - from.x, to.y - from.y) * kPixelsPerUnit;
        const int steps = std::max(1, static_cast<int>(std::ceil(length)));
        for (int k = 0; k <= steps; ++k) {
            const float t = static_cast<float>(k) / static_cast<float>(steps);
            const glm::vec2 p = from * (1.0f - t) + to * t;
            visit(static_cast<int>(std::clamp(p.x, 0.0f, 4095.0f) * kPixelsPerUnit),
                  static_cast<int>(std::clamp(p.y, 0.0f, 4095.0f) * kPixelsPerUnit));
        }
    }

private:
    std::vector<std::uint8_t> near_;
};

// Share of points along the frame's strokes (every 8 px, strokes long enough
// to be drawn) where the window shows the stroke's full colour channels.
double coverage(const ColorFrame& frame, const Screenshot& shot) {
    int points = 0;
    int shown = 0;
    for (const ColorPolyline& line : frame) {
        float length = 0.0f;
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            length += glm::length(line[i + 1].position - line[i].position);
        }
        if (length < 60.0f) {
            continue;
        }
        int step = 0;
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            const glm::vec3 c = line[i].color;
            ExpectedPicture::walk(line[i].position, line[i + 1].position, [&](int x, int y) {
                if (step++ % 8 != 0) {
                    return;
                }
                const Rgb p = shot.brightestAround(x, y, 3);
                ++points;
                const bool ok = (c.r < 0.9f || p.r >= 200) && (c.g < 0.9f || p.g >= 200) &&
                                (2.0f * c.b < 0.9f || p.b >= 200);
                shown += ok ? 1 : 0;
            });
        }
    }
    return points == 0 ? 0.0 : static_cast<double>(shown) / points;
}

class ShowPreview : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string data = sourceDir() + "/data";
        animation_ = std::make_unique<Animation>(data);
        remap_ = loadRemapTable(data + "/remap.txt");
    }
    static void TearDownTestSuite() { animation_.reset(); }

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
    static Frame frameAt(float oscSeconds) {
        return sampleAnimation(*animation_, showTime(oscSeconds));
    }

    // Sends the time until the window shows `expected` well, then returns that
    // screenshot (or the last one after 30 s).
    Screenshot showAt(std::optional<float> oscSeconds, const ColorFrame& expected) {
        Screenshot shot;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        do {
            if (oscSeconds) {
                sendTime(*oscSeconds);
            }
            std::this_thread::sleep_for(150ms);
            shot = takeScreenshot(x_->display());
            if (coverage(expected, shot) >= 0.95) {
                break;
            }
        } while (std::chrono::steady_clock::now() < deadline);
        return shot;
    }

    static inline std::unique_ptr<Animation> animation_;
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
        ExpectedPicture::walk(from, to, [&](int x, int y) {
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

int litWith(const Screenshot& shot, bool (*match)(const Rgb&)) {
    int count = 0;
    for (int y = 0; y < kWindow; ++y) {
        for (int x = 0; x < kWindow; ++x) {
            count += match(shot.at(x, y)) ? 1 : 0;
        }
    }
    return count;
}

TEST_F(ShowPreview, ShowsTheOpeningTheMaskAndTheTitleCardAsTheTimelineSays) {
    auto show = startShow();
    ASSERT_TRUE(show->running()) << show->stderrText();
    ASSERT_EQ(xsend({"key", "h"}), 0); // the show alone, without the readout

    {
        SCOPED_TRACE("at start, before any /Time: show time 0 has no drawing, all black");
        ASSERT_TRUE(ColorEffect({0, 0, 1}).apply(frameAt(0.0f), 0.0f).empty());
        // Black, not the server's weave: the window is drawn and cleared.
        Screenshot shot;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        do {
            shot = takeScreenshot(x_->display());
        } while (shot.litPixels(0, 0, kWindow, kWindow) != 0 &&
                 std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(shot.litPixels(0, 0, kWindow, kWindow), 0);
        EXPECT_GT(shot.litPixels(kWindow, 0, 1280, 1024), 10000);
    }
    {
        SCOPED_TRACE("1.0 s: the animation in blue");
        const ColorFrame expected = ColorEffect({0, 0, 1}).apply(frameAt(1.0f), 1.0f);
        const Screenshot shot = showAt(1.0f, expected);
        EXPECT_GE(coverage(expected, shot), 0.95);
        EXPECT_EQ(ExpectedPicture(expected, 10).strayPixels(shot), 0);
        EXPECT_EQ(litWith(shot, [](const Rgb& p) { return p.r != 0 || p.g != 0; }), 0);
        EXPECT_GT(litWith(shot, [](const Rgb& p) { return p.b >= 250; }), 500);
    }
    {
        SCOPED_TRACE("3.0 s: green animation inside the blue outline taken at 2.039 s");
        const Frame maskFrame = sampleAnimation(*animation_, 2.039);
        ASSERT_FALSE(maskFrame.empty());
        const MaskEffect mask({0, 1, 0}, {0, 0, 1}, 0.95f, maskFrame.front());
        const ColorFrame expected = mask.apply(frameAt(3.0f), 3.0f);
        const ColorFrame outline(expected.begin(), expected.begin() + 1);
        const ColorFrame inside(expected.begin() + 1, expected.end());
        ASSERT_FALSE(inside.empty()) << "nothing of the animation lies inside the mask at 3 s";
        const Screenshot shot = showAt(3.0f, expected);
        EXPECT_GE(coverage(outline, shot), 0.95);
        EXPECT_GE(coverage(inside, shot), 0.95);
        EXPECT_EQ(ExpectedPicture(expected, 10).strayPixels(shot), 0);
        EXPECT_EQ(litWith(shot, [](const Rgb& p) { return p.r != 0; }), 0);
        EXPECT_GT(litWith(shot, [](const Rgb& p) { return p.g >= 250; }), 300);
        // No green outside the outline's box (a pixel of slack per side and
        // the fade of a blank move).
        float left = 4096.0f, right = 0.0f, top = 4096.0f, bottom = 0.0f;
        for (const glm::vec2 p : maskFrame.front()) {
            left = std::min(left, p.x);
            right = std::max(right, p.x);
            top = std::min(top, p.y);
            bottom = std::max(bottom, p.y);
        }
        int greenOutside = 0;
        for (int y = 0; y < kWindow; ++y) {
            for (int x = 0; x < kWindow; ++x) {
                const bool inBox =
                    x >= left * kPixelsPerUnit - 10 && x <= right * kPixelsPerUnit + 10 &&
                    y >= top * kPixelsPerUnit - 10 && y <= bottom * kPixelsPerUnit + 10;
                greenOutside += (!inBox && shot.at(x, y).g != 0) ? 1 : 0;
            }
        }
        EXPECT_EQ(greenOutside, 0);
    }
    {
        SCOPED_TRACE("19.6 s: the title card's first word in white");
        const ColorFrame expected = TextEffect({1, 1, 1}, 1.0f, "KRELM").apply({}, 19.6f);
        const Screenshot shot = showAt(19.6f, expected);
        EXPECT_GE(coverage(expected, shot), 0.95);
        EXPECT_EQ(ExpectedPicture(expected, 10).strayPixels(shot), 0);
        // Five cells of 819.2 units (204.8 px); glyphs 0.8 cell wide and 1.2
        // cell tall about y 2047 (px 389 to 635). Worked out by hand:
        const auto white = [&](int x, int y) {
            const Rgb p = shot.brightestAround(x, y, 2);
            return p.r >= 250 && p.g >= 250 && p.b >= 250;
        };
        EXPECT_TRUE(white(20, 512));   // K: left upright at 0.1 cell
        EXPECT_TRUE(white(225, 420));  // R: left upright in cell 1
        EXPECT_TRUE(white(490, 512));  // E: middle bar, from 0.1 to 0.7 of cell 2
        EXPECT_FALSE(white(580, 512)); // ... which stops short of the right side
        EXPECT_TRUE(white(716, 634));  // L: foot along the glyphs' bottom
        EXPECT_TRUE(white(840, 450));  // M: left upright in cell 4
        // Nothing above or below the line of text, nothing between the letters.
        EXPECT_EQ(shot.litPixels(0, 0, kWindow, 375), 0);
        EXPECT_EQ(shot.litPixels(0, 650, kWindow, kWindow), 0);
        for (int gap = 1; gap < 5; ++gap) {
            const int middle = static_cast<int>(gap * 204.8f);
            EXPECT_EQ(shot.litPixels(middle - 10, 375, middle + 10, 650), 0) << "gap " << gap;
        }
        EXPECT_EQ(litWith(shot, [](const Rgb& p) { return p.r != p.g; }), 0);
    }

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

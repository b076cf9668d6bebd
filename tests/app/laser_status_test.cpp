#include "app/laser_status.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace lumarok {
namespace {

using namespace std::chrono_literals;

TEST(LaserStatus, FormatsTheReadingForTheOperator) {
    LaserStatus status;
    status.showSeconds = 62.54;
    status.entry = 12;
    status.effectKind = "circle";
    status.framesPerSecond = 59.96;
    status.samplesPerSecond = 30012.4;
    status.bufferFree = 1520;
    status.bufferMax = 6000;
    status.underruns = 2;
    status.projector = "alpha 10.213.0.2";
    status.deviceSampleRate = 30000;
    status.frames = 3600;
    EXPECT_EQ(formatLaserStatus(status, false),
              "show 1:02.5  entry 12 circle  60.0 frames/s  30012 samples/s  free 1520/6000  "
              "underruns 2  alpha 10.213.0.2");
    EXPECT_EQ(formatLaserStatus(status, true),
              "show 1:02.5  entry 12 circle  60.0 frames/s  30012 samples/s  free 1520/6000  "
              "underruns 2  device 30000 samples/s  501 samples/frame  3600 frames  "
              "alpha 10.213.0.2");
    status.showSeconds = -3.25;
    status.framesPerSecond = 0.0;
    EXPECT_EQ(formatLaserStatus(status, true).substr(0, 12), "show -0:03.2");
    EXPECT_NE(formatLaserStatus(status, true).find(" 0 samples/frame"), std::string::npos);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(LaserStatus, LinesComeAtMostOncePerPeriodInTheirStyle) {
    using Style = StatusLine::Style;
    const StatusLine::Clock::time_point t0{};
    struct Case {
        Style style;
        std::string expected;
    };
    const std::vector<Case> cases{
        {Style::plain, "at 10\nat 20.5\n"},
        {Style::terminal, "\rat 10\x1b[K\rat 20.5\x1b[K\n"},
        {Style::off, ""},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
        ASSERT_TRUE(file);
        {
            StatusLine line(file.get(), c.style, 10s, t0);
            // Polled often; shown when due, the next period counted from the showing.
            for (const auto at : {0ms, 5000ms, 10000ms, 12000ms, 19999ms, 20500ms, 30000ms}) {
                const auto now = t0 + at;
                if (line.due(now)) {
                    line.show(at == 10000ms ? "at 10" : "at 20.5", now);
                }
            }
        }
        EXPECT_EQ(contents(file.get()), c.expected) << static_cast<int>(c.style);
    }
}

TEST(LaserStatus, RatesCoverTheTimeSinceTheLastReading) {
    const RateMeter::Clock::time_point t0{};
    RateMeter meter(t0);
    for (int i = 0; i < 30; ++i) {
        meter.frameSent(500);
    }
    LaserStatus status;
    meter.read(status, t0 + 500ms);
    EXPECT_DOUBLE_EQ(status.framesPerSecond, 60.0);
    EXPECT_DOUBLE_EQ(status.samplesPerSecond, 30000.0);
    meter.frameSent(100);
    meter.read(status, t0 + 1500ms);
    EXPECT_DOUBLE_EQ(status.framesPerSecond, 1.0);
    EXPECT_DOUBLE_EQ(status.samplesPerSecond, 100.0);
    EXPECT_EQ(status.frames, 31u);
}

} // namespace
} // namespace lumarok

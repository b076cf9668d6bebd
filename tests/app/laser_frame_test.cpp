#include "app/laser_frame.hpp"
#include "app/laser_loop.hpp"
#include "app/laser_sender.hpp"
#include "laser/laser_path.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {
namespace {

TEST(LaserPointSpacing, GrowsFromTwentyFiveToSeventyBetween18000And30000) {
    EXPECT_FLOAT_EQ(laserPointSpacing(0.0f), 25.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(18000.0f), 25.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(24000.0f), 47.5f);
    EXPECT_FLOAT_EQ(laserPointSpacing(21000.0f), 36.25f);
    EXPECT_FLOAT_EQ(laserPointSpacing(30000.0f), 70.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(1.0e9f), 70.0f);
    EXPECT_FLOAT_EQ(laserPointSpacing(std::numeric_limits<float>::infinity()), 70.0f);
    // A broken total must not yield a spacing that would stall the path builder.
    EXPECT_FLOAT_EQ(laserPointSpacing(std::numeric_limits<float>::quiet_NaN()), 25.0f);
}

ColorPolyline strokeOf(std::initializer_list<glm::vec2> points) {
    ColorPolyline stroke;
    for (const glm::vec2 p : points) {
        stroke.push_back({p, glm::vec3(1.0f)});
    }
    return stroke;
}

std::size_t pathSamples(const ColorFrame& frame, PathSteps steps) {
    std::vector<LaserSample> samples;
    buildLaserPath(frame, samples, {0.0f, 0.0f}, steps.pointSpacing, steps.blankStep,
                   glm::vec3(0.0f), 1.0f);
    return samples.size();
}

// Frames made the ways damaged data makes them: a very long outline, a point far
// off the drawing space, a crowd of strokes. Ordinary frames keep their steps.
TEST(FrameBudget, OnlyFramesPastTheBudgetAreRespacedAndThenFit) {
    const PathSteps wanted{25.0f, 30.0f};
    ColorFrame ordinary; // random strokes: the bound holds and is close
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coordinate(0.0f, 4095.0f);
    for (int k = 0; k < 60; ++k) {
        ordinary.push_back(strokeOf({{coordinate(rng), coordinate(rng)},
                                     {coordinate(rng), coordinate(rng)},
                                     {coordinate(rng), coordinate(rng)}}));
    }
    ColorFrame longOutline(1);
    for (int k = 0; k < 65536; ++k) {
        longOutline[0].push_back({glm::vec2(k % 2 == 0 ? 0.0f : 4095.0f, 2000.0f), glm::vec3(1)});
    }
    const ColorFrame farPoint{strokeOf({{100, 100}, {200, 1.6e10f}, {300, 100}, {100, 100}}),
                              strokeOf({{1000, 1000}, {1100, 1000}})};
    ColorFrame crowd;
    for (int k = 0; k < 20000; ++k) {
        const float x = k % 2 == 0 ? 0.0f : 4095.0f;
        crowd.push_back(strokeOf({{x, 0}, {x, 4095}}));
    }

    const std::size_t ordinarySamples = pathSamples(ordinary, wanted);
    const double bound = pathSampleBound(ordinary, {0.0f, 0.0f}, wanted);
    EXPECT_GE(bound, static_cast<double>(ordinarySamples));
    EXPECT_LE(bound, 1.25 * static_cast<double>(ordinarySamples));
    // The form given the builder's own lengths decides alike, big frames included.
    const auto withLengths = [&wanted](const ColorFrame& frame) {
        float total = 0.0f;
        return stepsWithinBudget(frame, pathLengths(frame, total), {0.0f, 0.0f}, wanted);
    };
    const PathSteps kept = stepsWithinBudget(ordinary, {0.0f, 0.0f}, wanted);
    EXPECT_EQ(kept.pointSpacing, wanted.pointSpacing);
    EXPECT_EQ(kept.blankStep, wanted.blankStep);
    EXPECT_EQ(withLengths(ordinary).pointSpacing, wanted.pointSpacing);

    testing::internal::CaptureStderr();
    for (const ColorFrame* frame :
         std::vector<const ColorFrame*>{&longOutline, &farPoint, &crowd}) {
        const PathSteps steps = stepsWithinBudget(*frame, {0.0f, 0.0f}, wanted);
        EXPECT_EQ(withLengths(*frame).pointSpacing, steps.pointSpacing);
        EXPECT_EQ(withLengths(*frame).blankStep, steps.blankStep);
        EXPECT_GT(steps.pointSpacing, wanted.pointSpacing);
        EXPECT_FLOAT_EQ(steps.blankStep / steps.pointSpacing,
                        wanted.blankStep / wanted.pointSpacing);
        const std::size_t samples = pathSamples(*frame, steps);
        EXPECT_LE(samples, kFrameSampleBudget);
        EXPECT_GT(samples,
                  frame == &crowd ? 0u : kFrameSampleBudget / 2); // a crowd keeps its moves
    }
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.rfind("lumarok: a frame of up to ", 0), 0u) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << "rate-limited: " << report;
}

TEST(DarkSample, IsBlackAndMirroredLikeThePathBuilder) {
    const LaserSample origin = darkSampleAt({0.0f, 0.0f});
    EXPECT_EQ(origin.x, 4095);
    EXPECT_EQ(origin.y, 4095);
    EXPECT_EQ(origin.r + origin.g + origin.b, 0);
    const LaserSample inside = darkSampleAt({1000.7f, 3000.2f});
    EXPECT_EQ(inside.x, 3094); // 4095 - 1000.7 = 3094.3, truncated
    EXPECT_EQ(inside.y, 1094); // 4095 - 3000.2 = 1094.8, truncated
    const LaserSample outside = darkSampleAt({-20.0f, 5000.0f});
    EXPECT_EQ(outside.x, 4095);
    EXPECT_EQ(outside.y, 0);
}

// A projector stand-in: records what is sent; `queuedFor` is what timeUntilQueued says
// for marks below `reached`.
class RecordingOutput final : public LaserOutput {
public:
    struct Sent {
        std::vector<LaserSample> samples;
        bool paced;
        FrameStart start = FrameStart::paced;
    };
    std::vector<Sent> sent;
    std::chrono::nanoseconds queuedFor{std::chrono::milliseconds(5)};
    std::int32_t queued = -1; // what queuedSamples says
    bool failSends = false;

    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags&,
                          FrameStart start) override {
        if (failSends) {
            throw std::runtime_error("sendto failed: Operation not permitted");
        }
        sent.push_back({{samples.begin(), samples.end()}, true, start});
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pacing
        return SendOutcome::sent;
    }
    void sendUnpaced(std::span<const LaserSample> samples) override {
        sent.push_back({{samples.begin(), samples.end()}, false});
    }
    std::int32_t reached = std::numeric_limits<std::int32_t>::max(); // ... then none
    std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override {
        return samples >= reached ? std::chrono::nanoseconds(0) : queuedFor;
    }
    std::int32_t queuedSamples() override { return queued; }
    void switchOff() override { offAfter = sent.size(); }
    std::size_t offAfter = 0; // sends before the switch-off; 0: not switched off
};

bool darkAt(const std::vector<LaserSample>& samples, std::uint16_t x, std::uint16_t y) {
    return !samples.empty() && std::all_of(samples.begin(), samples.end(), [&](LaserSample s) {
        return s.x == x && s.y == y && s.r == 0 && s.g == 0 && s.b == 0;
    });
}

// Frame n: three lit samples at (n, 2n); the beam ends at (n, 10n).
glm::vec2 buildNumbered(std::vector<LaserSample>& samples, glm::vec2 beam, int& built) {
    EXPECT_EQ(beam, glm::vec2(static_cast<float>(built), 10.0f * built))
        << "each frame starts where the previous one ended";
    ++built;
    const auto n = static_cast<std::uint16_t>(built);
    samples.assign(3, LaserSample{n, static_cast<std::uint16_t>(2 * n), 4095, 4095, 4095});
    return {static_cast<float>(built), 10.0f * built};
}

TEST(LaserLoop, FramesGoOutInOrderAndEveryWayOutEndsWithADarkFrameAtTheBeam) {
    for (const int way : {0, 1, 2}) { // a stop signal, an error while rendering, a send error
        SCOPED_TRACE(way);
        RecordingOutput output;
        std::atomic<bool> signal{false};
        FrameHandoff handoff;
        int built = 0;
        std::optional<LaserSender> sender;
        sender.emplace(output, handoff, signal, false);
        auto build = [&](std::vector<LaserSample>& samples, glm::vec2 beam) {
            if (built == 5) {
                if (way == 0) {
                    signal = true;
                } else if (way == 1) {
                    throw std::runtime_error("render failed");
                } else {
                    output.failSends = true;
                }
            }
            return buildNumbered(samples, beam, built);
        };
        if (way == 1) {
            EXPECT_THROW(runLaserLoop(StopFlags{&signal, &sender->failed()}, build, handoff),
                         std::runtime_error);
            sender.reset();
        } else {
            runLaserLoop(StopFlags{&signal, &sender->failed()}, build, handoff);
            if (way == 2) {
                EXPECT_TRUE(sender->failed());
                EXPECT_THROW(sender->finish(), std::runtime_error);
            } else {
                EXPECT_NO_THROW(sender->finish());
            }
        }
        // Frames 1..5 at least, in order (the one built with the stop may be cut).
        ASSERT_GE(output.sent.size(), 5u);
        std::uint16_t beamX = 0;
        for (std::size_t i = 0; i + 1 < output.sent.size(); ++i) {
            EXPECT_EQ(output.sent[i].samples.front().x, i + 1);
            beamX = output.sent[i].samples.front().x;
        }
        EXPECT_GE(beamX, 5);
        const RecordingOutput::Sent& last = output.sent.back();
        EXPECT_FALSE(last.paced);
        EXPECT_EQ(last.samples.size(), kDarkFrameSamples);
        EXPECT_TRUE(darkAt(last.samples, beamX, static_cast<std::uint16_t>(2 * beamX)));
        EXPECT_EQ(output.offAfter, output.sent.size()) << "switched off after the dark frame";
    }
}

TEST(LaserLoop, AStalledRenderIsFilledWithDarkAtTheBeamAndNoFrameIsLost) {
    RecordingOutput output;
    output.queuedFor = std::chrono::nanoseconds(0); // the device is low at once
    std::atomic<bool> signal{false};
    FrameHandoff handoff;
    int built = 0;
    LaserSender sender(output, handoff, signal, false);
    runLaserLoop(
        StopFlags{&signal, &sender.failed()},
        [&](std::vector<LaserSample>& samples, glm::vec2 beam) {
            if (built == 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (built == 4) {
                signal = true;
            }
            return buildNumbered(samples, beam, built);
        },
        handoff);
    sender.finish();
    std::vector<int> lit;
    std::size_t darkFills = 0;
    for (const RecordingOutput::Sent& s : output.sent) {
        if (s.samples.front().r != 0) {
            lit.push_back(s.samples.front().x);
        } else if (s.samples.size() == kDarkFillSamples) {
            ++darkFills;
            const auto x = static_cast<std::uint16_t>(lit.empty() ? 4095 : lit.back());
            const auto y = static_cast<std::uint16_t>(lit.empty() ? 4095 : 2 * lit.back());
            EXPECT_TRUE(darkAt(s.samples, x, y)) << "dark where the last frame left the beam";
        }
    }
    ASSERT_GE(lit.size(), 4u) << "the frame built with the stop may be left out";
    for (std::size_t i = 0; i < lit.size(); ++i) {
        EXPECT_EQ(lit[i], static_cast<int>(i) + 1);
    }
    EXPECT_GE(darkFills, 2u) << "the stall was bridged with dark samples";
}

TEST(FrameHandoff, OneBellWakesEverySenderOnlyOnceTheRendererRingsIt) {
    WantBell wants;
    FrameBell frames;
    FrameHandoff first(&wants, &frames);
    FrameHandoff second(&wants, &frames);
    std::vector<LaserSample> frame(3);
    first.publish(frame);
    EXPECT_FALSE(first.take(frame)) << "not before the bell gives it out";
    frames.ring();
    const auto soon = FrameHandoff::Clock::now() + std::chrono::milliseconds(1);
    EXPECT_TRUE(first.waitForFrame(soon)) << "a frame given out earlier is seen at once";
    EXPECT_FALSE(second.waitForFrame(soon));

    std::atomic<bool> woken{false};
    std::thread sender([&] {
        woken = second.waitForFrame(FrameHandoff::Clock::now() + std::chrono::seconds(10));
    });
    second.publish(frame);
    frames.ring();
    sender.join();
    EXPECT_TRUE(woken);

    // A sender that ends closes its side: the renderer stops waiting for it at once;
    // a sender of the same projector found again opens it anew.
    first.close();
    EXPECT_TRUE(first.closed());
    EXPECT_FALSE(first.waitUntilWanted(std::chrono::seconds(10)));
    first.want();
    EXPECT_FALSE(first.closed());
    EXPECT_TRUE(first.waitUntilWanted(std::chrono::seconds(10)));
}

TEST(LaserLoop, RendersWhenTheSenderAskedAndForeseesTheNextRequest) {
    using namespace std::chrono_literals;
    using Clock = FrameHandoff::Clock;
    FrameHandoff handoff;
    const Clock::time_point asked = Clock::now() + 30ms;
    handoff.want(asked, 30000);
    // 300 samples at 30000 a second: the next request is due 10 ms after this one.
    EXPECT_EQ(handoff.foreseeNext(asked, 300), asked + 10ms);
    std::atomic<bool> stop{false};
    std::vector<Clock::time_point> rendered;
    std::thread renderer([&] {
        runLaserLoop(
            StopFlags{&stop, nullptr},
            [&](std::vector<LaserSample>& samples, glm::vec2 beam) {
                rendered.push_back(Clock::now());
                samples.assign(300, LaserSample{});
                return beam;
            },
            handoff);
    });
    std::vector<LaserSample> frame;
    while (!handoff.take(frame)) {
        std::this_thread::sleep_for(1ms);
    }
    handoff.want(); // at once, and nothing to foresee from
    EXPECT_FALSE(handoff.foreseeNext(Clock::time_point::min(), 300));
    while (!handoff.take(frame)) {
        std::this_thread::sleep_for(1ms);
    }
    handoff.close(); // ends the renderer's sleep at once
    renderer.join();
    ASSERT_EQ(rendered.size(), 2u);
    EXPECT_GE(rendered[0], asked) << "not before the time asked for";
}

TEST(LaserSender, AnAlignedFrameIsPaddedDarkToTheReserveAndGoesOutAtOnce) {
    const struct {
        std::int32_t queued;
        std::size_t pad;
    } cases[] = {{1200, 300}, {kPacingReserve, 0}, {2500, 0}};
    for (const auto& c : cases) {
        RecordingOutput output;
        output.reached = kPacingReserve; // down to the reserve at once, never to low water
        output.queued = c.queued;
        std::atomic<bool> signal{false};
        FrameHandoff handoff;
        int built = 0;
        LaserSender sender(output, handoff, signal, false, true);
        runLaserLoop(
            StopFlags{&signal, &sender.failed()},
            [&](std::vector<LaserSample>& samples, glm::vec2 beam) {
                signal = built == 2;
                return buildNumbered(samples, beam, built);
            },
            handoff);
        sender.finish();
        ASSERT_GE(output.sent.size(), 2u) << c.queued;
        const RecordingOutput::Sent& second = output.sent[1];
        EXPECT_EQ(second.start, FrameStart::now) << c.queued;
        ASSERT_EQ(second.samples.size(), c.pad + 3) << c.queued;
        EXPECT_TRUE(c.pad == 0 ||
                    darkAt({second.samples.begin(), second.samples.begin() + c.pad}, 1, 2))
            << "dark where the first frame left the beam";
        EXPECT_EQ(second.samples[c.pad].x, 2) << c.queued;
    }
}

} // namespace
} // namespace lumarok

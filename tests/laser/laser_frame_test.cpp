#include "laser/event_log.hpp"
#include "laser/laser_frame.hpp"
#include "laser/laser_path.hpp"
#include "laser/pacing.hpp"
#include "output/laser_sender.hpp"

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
    std::atomic<bool> failSends{false};

    SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags&, FrameStart start,
                          std::size_t) override {
        if (failSends) {
            throw std::runtime_error("sendto failed: Operation not permitted");
        }
        sent.push_back({{samples.begin(), samples.end()}, true, start});
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // pacing
        return SendOutcome::sent;
    }
    bool sendUnpaced(std::span<const LaserSample> samples) override {
        sent.push_back({{samples.begin(), samples.end()}, false});
        return true;
    }
    std::int32_t reached = std::numeric_limits<std::int32_t>::max(); // ... then none
    std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) override {
        return samples >= reached ? std::chrono::nanoseconds(0) : queuedFor;
    }
    std::int32_t queuedSamples() override { return queued; }
    bool switchOff() override {
        offAfter = sent.size();
        return true;
    }
    std::size_t offAfter = 0; // sends before the switch-off; 0: not switched off
};

bool darkAt(const std::vector<LaserSample>& samples, std::uint16_t x, std::uint16_t y) {
    return !samples.empty() && std::all_of(samples.begin(), samples.end(), [&](LaserSample s) {
        return s.x == x && s.y == y && s.r == 0 && s.g == 0 && s.b == 0;
    });
}

// Frame n: three lit samples at (n, 2n).
void buildNumbered(std::vector<LaserSample>& samples, int& built) {
    ++built;
    const auto n = static_cast<std::uint16_t>(built);
    samples.assign(3, LaserSample{n, static_cast<std::uint16_t>(2 * n), 4095, 4095, 4095});
}

// The show's renderer for one sender: a frame each time it asks, with room for its dark
// lead, until the stop or the sender closes.
template <typename Build>
void renderFor(FrameHandoff& handoff, Doorbell& wants, Doorbell& frames,
               const std::atomic<bool>& stop, Build&& build) {
    std::vector<LaserSample> samples;
    while (!stop.load() && !handoff.closed()) {
        const std::uint32_t seen = wants.rings();
        if (!handoff.needsFrame()) {
            wants.waitPast(seen, Doorbell::Clock::now() + std::chrono::milliseconds(20));
            continue;
        }
        build(samples);
        samples.reserve(samples.size() + kPacingReserve);
        handoff.publish(samples);
        frames.ring();
    }
}

struct SenderRig {
    RecordingOutput output;
    std::atomic<bool> signal{false};
    Doorbell wants;
    Doorbell frames;
    FrameHandoff handoff{wants, frames};
    EventLog log;
};

TEST(LaserSender, FramesGoOutInOrderAndEveryWayOutEndsWithADarkFrameAtTheBeam) {
    for (const bool sendFails : {false, true}) { // a stop signal, a send error
        SCOPED_TRACE(sendFails);
        SenderRig rig;
        rig.output.reached = kPacingReserve; // asks at once, waits for its frames
        int built = 0;
        LaserSender sender(rig.output, rig.handoff, rig.signal, rig.log, 0, false);
        renderFor(rig.handoff, rig.wants, rig.frames, rig.signal, [&](auto& samples) {
            if (built == 5) {
                (sendFails ? rig.output.failSends : rig.signal) = true;
            }
            buildNumbered(samples, built);
        });
        if (sendFails) {
            EXPECT_TRUE(sender.failed());
            EXPECT_THROW(sender.finish(), std::runtime_error);
        } else {
            EXPECT_NO_THROW(sender.finish());
        }
        // Frames 1..5 at least, in order (the one built with the stop may be cut).
        ASSERT_GE(rig.output.sent.size(), 5u);
        std::uint16_t beamX = 0;
        for (std::size_t i = 0; i + 1 < rig.output.sent.size(); ++i) {
            EXPECT_EQ(rig.output.sent[i].samples.front().x, i + 1);
            beamX = rig.output.sent[i].samples.front().x;
        }
        EXPECT_GE(beamX, 5);
        const RecordingOutput::Sent& last = rig.output.sent.back();
        EXPECT_FALSE(last.paced);
        EXPECT_EQ(last.samples.size(), kDarkFrameSamples);
        EXPECT_TRUE(darkAt(last.samples, beamX, static_cast<std::uint16_t>(2 * beamX)));
        EXPECT_EQ(rig.output.offAfter, rig.output.sent.size()) << "off after the dark frame";
        EXPECT_TRUE(sender.closedDark());
    }
}

TEST(LaserSender, AStalledRenderIsFilledWithDarkAtTheBeamAndNoFrameIsLost) {
    SenderRig rig;
    rig.output.queuedFor = std::chrono::nanoseconds(0); // the device is low at once
    int built = 0;
    LaserSender sender(rig.output, rig.handoff, rig.signal, rig.log, 0, false);
    renderFor(rig.handoff, rig.wants, rig.frames, rig.signal, [&](auto& samples) {
        if (built == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (built == 4) {
            rig.signal = true;
        }
        buildNumbered(samples, built);
    });
    sender.finish();
    std::vector<int> lit;
    std::size_t darkFills = 0;
    for (const RecordingOutput::Sent& s : rig.output.sent) {
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
    Doorbell wants;
    Doorbell frames;
    FrameHandoff first(wants, frames);
    FrameHandoff second(wants, frames);
    std::vector<LaserSample> frame(3);
    first.want();
    EXPECT_TRUE(first.needsFrame());
    first.publish(frame);
    EXPECT_FALSE(first.needsFrame()) << "put up, not taken yet";
    EXPECT_FALSE(first.take(frame)) << "not before the bell gives it out";
    frames.ring();
    const auto soon = FrameHandoff::Clock::now() + std::chrono::milliseconds(1);
    EXPECT_TRUE(first.waitForFrame(soon)) << "a frame given out earlier is seen at once";
    EXPECT_TRUE(first.take(frame));
    EXPECT_EQ(frame.size(), 3u);
    EXPECT_FALSE(second.waitForFrame(soon));

    std::atomic<bool> woken{false};
    std::thread sender([&] {
        woken = second.waitForFrame(FrameHandoff::Clock::now() + std::chrono::seconds(10));
    });
    second.publish(frame);
    frames.ring();
    sender.join();
    EXPECT_TRUE(woken);

    // A sender that ends closes its side; one of the same projector found again opens it.
    first.close();
    EXPECT_TRUE(first.closed());
    first.want();
    EXPECT_FALSE(first.closed());
}

// On the beat: the moment asked for reaches the renderer, the moment drawn for comes back
// with the frame, and a frame drawn for a moment before the sender's bound is drawn anew.
TEST(FrameHandoff, OnTheBeatCarriesTheMomentsAndHasAStaleFrameDrawnAnew) {
    using Clock = FrameHandoff::Clock;
    Doorbell wants;
    Doorbell frames;
    FrameHandoff handoff(wants, frames);
    std::vector<LaserSample> frame(3);
    const Clock::time_point moment{std::chrono::seconds(50)};
    handoff.want(moment, moment - std::chrono::milliseconds(10));
    EXPECT_EQ(handoff.wantedFor(), moment);
    handoff.publish(frame, moment - std::chrono::milliseconds(30)); // the others' moment
    frames.ring();
    EXPECT_TRUE(handoff.needsFrame()) << "stale: to be drawn anew";
    EXPECT_FALSE(handoff.take(frame));
    std::vector<LaserSample> fresh(4);
    handoff.publish(fresh, moment + std::chrono::milliseconds(2));
    frames.ring();
    EXPECT_FALSE(handoff.needsFrame());
    ASSERT_TRUE(handoff.take(frame));
    EXPECT_EQ(frame.size(), 4u);
    EXPECT_EQ(handoff.takenFor(), moment + std::chrono::milliseconds(2));
    // No bound (after a late frame): whatever comes is taken.
    handoff.want(moment);
    handoff.publish(fresh, moment - std::chrono::seconds(1));
    frames.ring();
    EXPECT_TRUE(handoff.take(frame));
}

TEST(LaserSender, AFrameIsPaddedDarkToTheReserveWithoutGrowingItsStorage) {
    const struct {
        std::int32_t queued;
        std::size_t pad;
    } cases[] = {{1200, 300}, {kPacingReserve, 0}, {2500, 0}};
    for (const auto& c : cases) {
        SenderRig rig;
        rig.output.reached = kPacingReserve; // down to the reserve at once, never to low water
        rig.output.queued = c.queued;
        int built = 0;
        LaserSender sender(rig.output, rig.handoff, rig.signal, rig.log, 0, false);
        renderFor(rig.handoff, rig.wants, rig.frames, rig.signal, [&](auto& samples) {
            rig.signal = built == 2;
            buildNumbered(samples, built);
        });
        sender.finish();
        ASSERT_GE(rig.output.sent.size(), 2u) << c.queued;
        const RecordingOutput::Sent& second = rig.output.sent[1];
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

#include "audio/audio_capture.hpp"
#include "effects/circle_effect.hpp"
#include "effects/disturb_effect.hpp"
#include "effects/line_effect.hpp"

#include "support/pulse_server.hpp"
#include "support/stderr_capture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

namespace lumarok {
namespace {

using namespace std::chrono_literals;
using test::PrivatePulseServer;

constexpr const char* kUnavailable = "lumarok: audio capture unavailable: ";

std::unique_ptr<PrivatePulseServer> startServerOrSkip(std::string& whyNot) {
    try {
        return std::make_unique<PrivatePulseServer>();
    } catch (const test::PulseServerUnavailable& e) {
        whyNot = e.what();
        return nullptr;
    }
}

#define START_SERVER_OR_SKIP(server)                                                               \
    std::string whyNoServer;                                                                       \
    const auto server = startServerOrSkip(whyNoServer);                                            \
    if (!server) {                                                                                 \
        GTEST_SKIP() << "no private audio server on this machine: " << whyNoServer;                \
    }

struct ChannelRms {
    float left = 0.0f;
    float right = 0.0f;
};

ChannelRms rmsOf(const std::vector<glm::vec2>& frames) {
    double left = 0.0;
    double right = 0.0;
    for (const auto& frame : frames) {
        left += double(frame.x) * frame.x;
        right += double(frame.y) * frame.y;
    }
    const double n = frames.empty() ? 1.0 : double(frames.size());
    return {static_cast<float>(std::sqrt(left / n)), static_cast<float>(std::sqrt(right / n))};
}

// Polls until the condition holds or the time-out passes; true when it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

int countLines(const std::string& text, const std::string& prefix) {
    int count = 0;
    for (std::size_t at = text.find(prefix); at != std::string::npos;
         at = text.find(prefix, at + 1)) {
        ++count;
    }
    return count;
}

// Silence on an idle null sink can take a couple of seconds to start flowing.
constexpr auto kFirstPacketTimeout = 15s;

TEST(AudioCaptureWithServer, DeliversAPlayedToneThenSilence) {
    START_SERVER_OR_SKIP(server);
    constexpr float kLeft = 0.5f;
    constexpr float kRight = 0.25f;
    const std::string tone = server->scratchDir() + "/tone.wav";
    test::writeToneWav(tone, 4.0, 440.0, kLeft, kRight);

    AudioCapture capture(server->monitorName());
    test::ChildProcess player(test::ChildOptions{{"paplay", tone}, {}, {}, {}, -1});

    const float expectedLeft = kLeft / std::sqrt(2.0f);
    const float expectedRight = kRight / std::sqrt(2.0f);
    ASSERT_TRUE(waitFor(
        [&] {
            return std::abs(rmsOf(capture.copySamples()).left - expectedLeft) < 0.1f * expectedLeft;
        },
        kFirstPacketTimeout))
        << "the tone never reached the capture";

    // While the tone plays, every packet carries it, left and right in their places.
    for (int reading = 0; reading < 30; ++reading) {
        const auto frames = capture.copySamples();
        ASSERT_EQ(frames.size(), 480u) << "packets are 10 ms at 48 kHz";
        const ChannelRms rms = rmsOf(frames);
        EXPECT_NEAR(rms.left, expectedLeft, 0.1f * expectedLeft);
        EXPECT_NEAR(rms.right, expectedRight, 0.1f * expectedRight);
        std::this_thread::sleep_for(10ms);
    }

    ASSERT_TRUE(player.waitFor(15s)) << "paplay did not finish";
    EXPECT_TRUE(waitFor(
        [&] {
            const auto frames = capture.copySamples();
            const ChannelRms rms = rmsOf(frames);
            return !frames.empty() && rms.left < 1e-4f && rms.right < 1e-4f;
        },
        5s))
        << "no silence after the tone ended";
}

TEST(AudioCaptureWithServer, DefaultOutputMonitorIsUsedWhenNoNameIsGiven) {
    START_SERVER_OR_SKIP(server);
    const std::string tone = server->scratchDir() + "/tone.wav";
    test::writeToneWav(tone, 3.0, 220.0, 0.4f, 0.4f);
    AudioCapture capture;
    test::ChildProcess player(test::ChildOptions{{"paplay", tone}, {}, {}, {}, -1});
    EXPECT_TRUE(
        waitFor([&] { return rmsOf(capture.copySamples()).left > 0.2f; }, kFirstPacketTimeout));
}

TEST(AudioCaptureWithServer, UnknownSourceIsReportedOnceAndLeavesSamplesEmpty) {
    START_SERVER_OR_SKIP(server);
    const test::StderrCapture errors;
    {
        AudioCapture capture("no_such_source_here");
        ASSERT_TRUE(waitFor([&] { return countLines(errors.text(), kUnavailable) > 0; }, 5s));
        EXPECT_TRUE(capture.copySamples().empty());
    }
    EXPECT_EQ(countLines(errors.text(), kUnavailable), 1) << errors.text();
    EXPECT_NE(errors.text().find("No such entity"), std::string::npos) << errors.text();
}

bool allZero(const std::vector<glm::vec2>& frames) {
    return std::all_of(frames.begin(), frames.end(),
                       [](glm::vec2 f) { return f.x == 0.0f && f.y == 0.0f; });
}

// A tone played for the whole test on one sink (the default when none is named).
std::unique_ptr<test::ChildProcess> playTone(const PrivatePulseServer& server,
                                             const std::string& sink = {}) {
    const std::string tone = server.scratchDir() + "/long_tone.wav";
    test::writeToneWav(tone, 20.0, 440.0, 0.5f, 0.5f);
    std::vector<std::string> argv{"paplay"};
    if (!sink.empty()) {
        argv.push_back("--device=" + sink);
    }
    argv.push_back(tone);
    return std::make_unique<test::ChildProcess>(test::ChildOptions{argv, {}, {}, {}, -1});
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(AudioCaptureWithServer, ServerKilledAndRestartedGivesSilenceThenSoundAgain) {
    START_SERVER_OR_SKIP(server);
    const test::StderrCapture errors;
    {
        AudioCapture capture;
        auto player = playTone(*server);
        ASSERT_TRUE(
            waitFor([&] { return rmsOf(capture.copySamples()).left > 0.3f; }, kFirstPacketTimeout));
        server->kill();
        ASSERT_TRUE(waitFor([&] { return countLines(errors.text(), kUnavailable) > 0; }, 5s));
        const auto meanwhile = capture.copySamples();
        EXPECT_FALSE(meanwhile.empty());
        EXPECT_TRUE(allZero(meanwhile)) << "the effects get silence while the server is away";
        EXPECT_EQ(capture.sourceText().rfind("none: ", 0), 0u) << capture.sourceText();
        std::this_thread::sleep_for(1500ms); // long enough for the back-off to reach its top

        server->restart();
        const auto back = std::chrono::steady_clock::now();
        EXPECT_TRUE(waitFor([&] { return capture.sourceText().rfind("none: ", 0) != 0; }, 2s))
            << "not capturing again within 2 s of the server's return";
        const double reconnected = secondsSince(back);
        player = playTone(*server);
        ASSERT_TRUE(waitFor([&] { return rmsOf(capture.copySamples()).left > 0.3f; }, 10s))
            << errors.text();
        std::printf("capture again %.3f s after the server answered; tone after %.3f s\n",
                    reconnected, secondsSince(back));
    }
    EXPECT_EQ(countLines(errors.text(), kUnavailable), 1) << "one line per outage\n"
                                                          << errors.text();
}

TEST(AudioCaptureWithServer, CaptureFollowsTheDefaultOutputUnlessASourceIsNamed) {
    START_SERVER_OR_SKIP(server);
    const std::string other = "lumarok_other_sink";
    ASSERT_EQ(test::runToEnd(test::ChildOptions{{"pactl", "load-module", "module-null-sink",
                                                 "sink_name=" + other, "rate=48000", "channels=2",
                                                 "format=float32le"},
                                                {},
                                                {},
                                                {},
                                                -1},
                             10s),
              0);
    const test::StderrCapture errors;
    AudioCapture following;
    AudioCapture pinned(server->monitorName());
    auto player = playTone(*server, other);
    ASSERT_TRUE(waitFor([&] { return !following.copySamples().empty(); }, kFirstPacketTimeout));
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(rmsOf(following.copySamples()).left, 1e-4f) << "the tone plays on the other sink";

    ASSERT_EQ(test::runToEnd(
                  test::ChildOptions{{"pactl", "set-default-sink", other}, {}, {}, {}, -1}, 10s),
              0);
    const auto switched = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return rmsOf(following.copySamples()).left > 0.3f; }, 2s))
        << errors.text();
    std::printf("the tone of the new default output after %.3f s\n", secondsSince(switched));
    EXPECT_EQ(following.sourceText(), other + ".monitor");
    EXPECT_NE(errors.text().find("audio: the default output changed to " + other),
              std::string::npos)
        << errors.text();
    EXPECT_LT(rmsOf(pinned.copySamples()).left, 1e-4f) << "a named source stays where it is";
    EXPECT_EQ(pinned.sourceText(), server->monitorName());
}

TEST(AudioCaptureWithServer, DestructorDoesNotWaitForAStalledServer) {
    START_SERVER_OR_SKIP(server);
    auto capture = std::make_unique<AudioCapture>(server->monitorName());
    ASSERT_TRUE(waitFor([&] { return !capture->copySamples().empty(); }, kFirstPacketTimeout));
    ASSERT_EQ(::kill(server->pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(50ms);

    const auto start = std::chrono::steady_clock::now();
    capture.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    ::kill(server->pid(), SIGCONT);
    // A hang guard, not a speed measurement: the join itself takes well under 100 ms.
    EXPECT_LT(took, 1s);
    RecordProperty(
        "destructor_us",
        static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
}

TEST(AudioCaptureWithServer, ReadersAndCaptureThreadShareSamplesSafely) {
    START_SERVER_OR_SKIP(server);
    const std::string tone = server->scratchDir() + "/tone.wav";
    test::writeToneWav(tone, 3.0, 330.0, 0.5f, 0.5f);
    AudioCapture capture(server->monitorName());
    test::ChildProcess player(test::ChildOptions{{"paplay", tone}, {}, {}, {}, -1});
    ASSERT_TRUE(
        waitFor([&] { return rmsOf(capture.copySamples()).left > 0.3f; }, kFirstPacketTimeout));

    // Each copy must be one whole packet of the tone: equal channels throughout.
    std::atomic<int> badCopies{0};
    std::atomic<int> copies{0};
    auto reader = [&] {
        const auto until = std::chrono::steady_clock::now() + 500ms;
        while (std::chrono::steady_clock::now() < until) {
            const auto frames = capture.copySamples();
            copies.fetch_add(1);
            for (const auto& frame : frames) {
                if (frame.x != frame.y) {
                    badCopies.fetch_add(1);
                    break;
                }
            }
        }
    };
    std::thread first(reader);
    std::thread second(reader);
    first.join();
    second.join();
    EXPECT_GT(copies.load(), 100);
    EXPECT_EQ(badCopies.load(), 0);
}

TEST(AudioCaptureWithoutServer, ReportsOnceAndStaysEmpty) {
    const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/lumarok/native");
    const test::StderrCapture errors;
    const auto start = std::chrono::steady_clock::now();
    {
        AudioCapture capture;
        ASSERT_TRUE(waitFor([&] { return countLines(errors.text(), kUnavailable) > 0; }, 5s));
        EXPECT_TRUE(capture.copySamples().empty());

        // The show goes on in silence: the flat line and the plain circle.
        const glm::vec3 white{1, 1, 1};
        const ColorFrame wave = LineEffect(0.1f, white, white, white, &capture).apply({}, 1.0f);
        ASSERT_EQ(wave.size(), 1u);
        for (const ColorPoint& point : wave[0]) {
            EXPECT_EQ(point.position.y, 2047.0f);
        }
        const ColorFrame ring = CircleEffect(1500.0f, white, white, &capture).apply({}, 1.0f);
        ASSERT_EQ(ring.size(), 1u);
        EXPECT_NEAR(ring[0][0].position.x, 2047.0f + 1500.0f, 0.01f);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 2s) << "a missing server must not hold anything up";
    const std::string text = errors.text();
    EXPECT_EQ(countLines(text, kUnavailable), 1) << text;
    EXPECT_EQ(countLines(text, "\n"), 1) << "nothing else is printed: " << text;
}

TEST(AudioCaptureWithoutServer, ImmediateDestructionDoesNotHang) {
    const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/lumarok/native");
    const test::StderrCapture errors;
    for (int i = 0; i < 20; ++i) {
        const AudioCapture capture;
    }
    EXPECT_LE(countLines(errors.text(), kUnavailable), 20);
}

} // namespace
} // namespace lumarok

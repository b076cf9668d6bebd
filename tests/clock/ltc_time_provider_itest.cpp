// Plays timecode made by libltc's encoder into a private audio server's null sink and
// follows it with an LtcTimeProvider on the sink's monitor, in real time. The expected
// time is counted from the frames encoded, not from their labels, so drop-frame labels
// crossing a minute must be converted right for the two to agree.
#include "clock/ltc_time_provider.hpp"
#include "support/child_process.hpp"
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"
#include "support/pulse_server.hpp"
#include "support/x_server.hpp"

#include <gtest/gtest.h>
#include <ltc.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

namespace lumarok {
namespace {

using namespace std::chrono_literals;

constexpr double kRateHz = 48000.0;

// Writes encoded timecode (or, during a drop-out, silence in its place) to the sink and
// knows which timecode time is being played. A quarter second stays queued, so that a
// busy machine does not starve the sink and stretch the audio's own time line.
class LtcPlayer {
public:
    LtcPlayer(double fps, LTC_TV_STANDARD standard, double startSeconds)
        : framesPerSecond(fps), timeAtWrittenEnd(startSeconds) {
        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(kRateHz), 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(250000, &sampleFormat));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        int error = 0;
        sink.reset(pa_simple_new(nullptr, "ltc test", PA_STREAM_PLAYBACK,
                                 test::PrivatePulseServer::kSinkName, "timecode", &sampleFormat,
                                 nullptr, &attr, &error));
        if (!sink) {
            throw std::runtime_error(pa_strerror(error));
        }
        encoder.reset(ltc_encoder_create(kRateHz, fps, standard, 0));
        SMPTETimecode start{};
        start.hours = 1;
        start.mins = 0;
        start.secs = 58;
        ltc_encoder_set_timecode(encoder.get(), &start);
    }

    // Plays timecode, or silence while the timecode runs on unheard, until the sink
    // plays timecode time `until`.
    void playUntil(double until, bool audible = true) {
        while (playingNow() < until) {
            ltc_encoder_encode_frame(encoder.get());
            ltcsnd_sample_t* bytes = nullptr;
            const int count = ltc_encoder_get_bufferptr(encoder.get(), &bytes, 1);
            std::vector<float> samples(static_cast<std::size_t>(count), 0.0f);
            for (std::size_t i = 0; audible && i < samples.size(); ++i) {
                samples[i] = (static_cast<float>(bytes[i]) - 128.0f) / 160.0f;
            }
            int error = 0;
            ASSERT_EQ(
                pa_simple_write(sink.get(), samples.data(), samples.size() * sizeof(float), &error),
                0);
            ltc_encoder_inc_timecode(encoder.get());
            timeAtWrittenEnd += 1.0 / framesPerSecond;
        }
    }

    // Relocates: the next frame played is `frames` frames later.
    void jump(int frames) {
        for (int i = 0; i < frames; ++i) {
            ltc_encoder_inc_timecode(encoder.get());
        }
        timeAtWrittenEnd += frames / framesPerSecond;
    }

    // The timecode time at the end of what was written so far.
    [[nodiscard]] double writtenUpTo() const { return timeAtWrittenEnd; }

    // The timecode time of the sample leaving the sink now.
    double playingNow() {
        int error = 0;
        const pa_usec_t latency = pa_simple_get_latency(sink.get(), &error);
        return timeAtWrittenEnd - static_cast<double>(latency) / 1e6;
    }

private:
    struct SinkFree {
        void operator()(pa_simple* s) const { pa_simple_free(s); }
    };
    struct EncoderFree {
        void operator()(LTCEncoder* e) const { ltc_encoder_free(e); }
    };
    double framesPerSecond;
    double timeAtWrittenEnd;
    std::unique_ptr<pa_simple, SinkFree> sink;
    std::unique_ptr<LTCEncoder, EncoderFree> encoder;
};

struct LtcCase {
    const char* name;
    double fps;
    LTC_TV_STANDARD standard;
    double startSeconds; // 01:00:58:00 counted by hand
    LtcRate rate;
    int sixtySecondsOfFrames;
};

void PrintTo(const LtcCase& c, std::ostream* os) {
    *os << c.name;
}

class LtcFollowing : public ::testing::TestWithParam<LtcCase> {};

TEST_P(LtcFollowing, FollowsFreewheelsJumpsAndHolds) {
    const LtcCase& c = GetParam();
    std::unique_ptr<test::PrivatePulseServer> server;
    try {
        server = std::make_unique<test::PrivatePulseServer>();
    } catch (const test::PulseServerUnavailable& e) {
        GTEST_SKIP() << "no private audio server on this machine: " << e.what();
    }
    LtcPlayer player(c.fps, c.standard, c.startSeconds);
    LtcTimeProvider provider(server->monitorName());
    const double frame = 1.0 / c.fps;
    const auto expectFollowing = [&](const char* when) {
        const double expected = player.playingNow();
        EXPECT_NEAR(provider.getTime(), expected, frame) << when;
    };

    player.playUntil(c.startSeconds + 1.0); // lock on
    for (int i = 1; i <= 6; ++i) {
        // crosses 01:00:59 -> 01:01:00, where drop-frame skips two labels
        player.playUntil(c.startSeconds + 1.0 + 0.25 * i);
        expectFollowing("running");
    }
    EXPECT_EQ(provider.rate(), c.rate);

    const double dropOut = player.writtenUpTo();
    player.playUntil(dropOut + 0.5, false);
    expectFollowing("0.5 s into a drop-out");
    player.playUntil(dropOut + 1.0, false);
    expectFollowing("1 s into a drop-out");
    const double back = player.writtenUpTo();
    player.playUntil(back + 0.5);
    expectFollowing("after the drop-out");

    player.jump(c.sixtySecondsOfFrames);
    const double landing = player.writtenUpTo();
    player.playUntil(landing + 2 * frame);
    expectFollowing("two frames after a 60 s jump");
    player.playUntil(landing + 0.3);
    expectFollowing("after the jump");

    const double lastHeard = player.writtenUpTo();
    player.playUntil(lastHeard + 2.5, false); // beyond the 2 s of free-wheeling: the clock holds
    const double held = provider.getTime();
    player.playUntil(lastHeard + 2.7, false);
    EXPECT_EQ(provider.getTime(), held);
    EXPECT_NEAR(held, lastHeard + LtcTimeProvider::kFreewheelSeconds, frame);

    // Sound returns: a frame cut by the drop-out and decoded only now never pulls the
    // held clock back.
    const double resumed = player.writtenUpTo();
    double previous = held;
    for (int i = 1; i <= 8; ++i) {
        player.playUntil(resumed + 0.05 * i);
        const double now = provider.getTime();
        EXPECT_GE(now, previous) << "step " << i;
        previous = now;
    }
    player.playUntil(resumed + 0.6);
    expectFollowing("after timecode came back");
}

// The audio server restarts (a crash, a new session): the recording connects again by
// itself and the clock follows timecode again. LUMAROK_LTC_RESTARTS sets how many
// restarts (default 1), for measuring.
TEST(LtcRestart, TheRecordingConnectsAgainAfterTheAudioServerRestarts) {
    std::unique_ptr<test::PrivatePulseServer> server;
    try {
        server = std::make_unique<test::PrivatePulseServer>();
    } catch (const test::PulseServerUnavailable& e) {
        GTEST_SKIP() << "no private audio server on this machine: " << e.what();
    }
    const char* wanted = std::getenv("LUMAROK_LTC_RESTARTS");
    const int restarts = wanted != nullptr ? std::atoi(wanted) : 1;
    LtcTimeProvider provider(server->monitorName());
    const double start = 3658.0; // every player starts at 01:00:58:00
    {
        LtcPlayer player(25.0, LTC_TV_625_50, start);
        player.playUntil(start + 0.5);
        ASSERT_LT(provider.secondsSinceFrame().value_or(99.0), 0.2);
    }
    int within300ms = 0;
    double slowest = 0.0;
    for (int i = 0; i < restarts; ++i) {
        server->kill();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server->restart();
        const auto back = std::chrono::steady_clock::now();
        while (!provider.recording() && std::chrono::steady_clock::now() - back < 3s) {
            std::this_thread::sleep_for(2ms);
        }
        const double reconnected =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
        ASSERT_TRUE(provider.recording()) << "not recording again after restart " << i + 1;
        LtcPlayer player(25.0, LTC_TV_625_50, start);
        bool heard = false;
        // Heard again: the last frame ended within 0.1 s and the clock is on its time.
        while (!heard && player.writtenUpTo() < start + 3.0) {
            player.playUntil(player.writtenUpTo() + 0.02);
            if (provider.secondsSinceFrame().value_or(99.0) < 0.1 &&
                std::fabs(provider.getTime() - player.playingNow()) < 0.1) {
                heard = true;
            }
        }
        ASSERT_TRUE(heard) << "timecode not followed again after restart " << i + 1;
        within300ms += reconnected <= 0.3 ? 1 : 0;
        slowest = std::max(slowest, reconnected);
    }
    std::printf("recording again within 0.3 s of the server's return after %d of %d "
                "restarts (slowest %.3f s); timecode followed again after each\n",
                within300ms, restarts, slowest);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, LtcFollowing,
    ::testing::Values(LtcCase{"25", 25.0, LTC_TV_625_50, 3658.0, {25, false}, 1500},
                      LtcCase{"29_97_drop_frame",
                              30000.0 / 1001.0,
                              LTC_TV_525_60,
                              109632.0 * 1001.0 / 30000.0,
                              {30, true},
                              1798}),
    [](const auto& test) { return std::string(test.param.name); });

// The program itself: `--ltc SOURCE` reports the source and the rate it hears; a source
// that does not exist stops it at start-up with one line.
TEST(LtcShow, ReportsTheSourceAndTheRateOrRefusesAMissingSource) {
    std::unique_ptr<test::PrivatePulseServer> server;
    try {
        server = std::make_unique<test::PrivatePulseServer>();
    } catch (const test::PulseServerUnavailable& e) {
        GTEST_SKIP() << "no private audio server on this machine: " << e.what();
    }
    const test::XServer x;
    if (!x.failure().empty()) {
        GTEST_SKIP() << "no private X server: " << x.failure();
    }
    const test::TempDir dir;
    std::filesystem::create_directory_symlink(std::filesystem::path(test::sourceDir()) / "data",
                                              dir.path() / "data");
    test::ChildOptions options;
    options.argv = {test::programPath("lumarok"), "--ltc", "no_such_source"};
    options.setEnv = {{"DISPLAY", x.display()}};
    options.workingDirectory = dir.path().string();
    {
        test::ChildProcess refused(options);
        ASSERT_EQ(refused.waitFor(std::chrono::seconds(30)), 1);
        const std::string err = refused.stderrText();
        const std::size_t line = err.find("lumarok: ");
        ASSERT_NE(line, std::string::npos) << err;
        EXPECT_EQ(err.find("lumarok: ", line + 1), std::string::npos) << "one line\n" << err;
        EXPECT_NE(err.find("no_such_source", line), std::string::npos) << err;
    }

    options.argv.back() = server->monitorName();
    test::ChildProcess show(options);
    LtcPlayer player(25.0, LTC_TV_625_50, 3658.0);
    player.playUntil(3659.5);
    show.stop();
    const std::string out = show.stdoutText();
    const std::string err = show.stderrText();
    EXPECT_NE(err.find("clock: LTC timecode on " + server->monitorName()), std::string::npos)
        << err;
    EXPECT_NE(out.find("LTC: 25 frames/s timecode"), std::string::npos) << out;
}

} // namespace
} // namespace lumarok

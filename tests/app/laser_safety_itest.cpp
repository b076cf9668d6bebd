// Beam safety in laser mode: every way out goes dark and switches the projector off
// at once, a lying projector can neither stall, flood nor move the stream, a network
// that drops out is waited for, and a stalled render is bridged with dark samples.
// The player runs in its own network namespace against the virtual projector.
#include "support/laser_show.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

void sleepUntilCube(const LaserShowRig& rig, double seconds) {
    while (rig.cubeSeconds() < seconds) {
        std::this_thread::sleep_for(20ms);
    }
}

// Samples per second the projector received while it was being fed, up to `until`
// seconds after it started.
double wireRate(const std::string& cubeOutput, double until = 1e9) {
    std::vector<CubeProgress> lines = progressLines(cubeOutput);
    while (!lines.empty() && lines.back().seconds > until) {
        lines.pop_back();
    }
    if (lines.empty()) {
        return 0.0;
    }
    const CubeProgress* first = nullptr;
    for (const CubeProgress& p : lines) {
        if (p.samples > 0 && first == nullptr) {
            first = &p;
        }
    }
    if (first == nullptr || lines.back().seconds <= first->seconds) {
        return 0.0;
    }
    return static_cast<double>(lines.back().samples - first->samples) /
           (lines.back().seconds - first->seconds);
}

struct PlayedShow {
    std::string cube;   // the projector's whole output
    std::string errors; // the player's stderr
    int status = -1;
    double signalAt = 0.0;     // monotonic seconds
    double signalCubeAt = 0.0; // seconds after the projector started
    double cpuShare = 0.0;     // of one core, over the play time
};

// Plays for `seconds` against a projector started with `cubeOptions`, then sends
// `signal` (and SIGTERM after it, when `signal` is not meant to stop the player).
// `during(rig)` runs while the show plays. Empty when namespaces are refused.
std::optional<PlayedShow> playAndStop(const std::vector<std::string>& cubeOptions, double seconds,
                                      int signal,
                                      const std::function<void(LaserShowRig&)>& during = {},
                                      const std::vector<std::string>& playerArguments = {"-laser"},
                                      const std::vector<std::string>& program = {}) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    if (!rig) {
        return std::nullopt;
    }
    rig->startCube(cubeOptions);
    rig->startPlayer(playerArguments, {}, program);
    PlayedShow run;
    if (!rig->waitForDiscovery(20s)) {
        ADD_FAILURE() << "no discovery: " << rig->playerErrors();
        return run;
    }
    const double start = rig->cubeSeconds();
    const double cpuBefore = test::cpuSeconds(rig->player().pid());
    if (during) {
        during(*rig);
    }
    sleepUntilCube(*rig, start + seconds);
    const double cpu = test::cpuSeconds(rig->player().pid()) - cpuBefore;
    run.cpuShare = cpu / (rig->cubeSeconds() - start);
    EXPECT_EQ(rig->player().wait(0ms), -1) << "the player ended early: " << rig->playerErrors();
    run.signalAt = steadySeconds();
    run.signalCubeAt = rig->cubeSeconds();
    rig->player().signal(signal);
    if (signal == SIGPIPE) {
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(rig->player().wait(0ms), -1) << "SIGPIPE is ignored";
        run.signalAt = steadySeconds();
        rig->player().signal(SIGTERM);
    }
    run.status = rig->player().wait(5s);
    std::this_thread::sleep_for(200ms); // the last datagrams reach the projector
    run.cube = rig->stopCube();
    run.errors = rig->playerErrors();
    return run;
}

// Lines of trouble on stderr; the start-up lines that say what plays are not.
long complaints(const std::string& errors) {
    long count = 0;
    for (std::size_t at = 0; at < errors.size(); at = errors.find('\n', at) + 1) {
        count += errors.compare(at, 8, "lumarok:") == 0 ? 1 : 0;
        if (errors.find('\n', at) == std::string::npos) {
            break;
        }
    }
    return count;
}

// The end every case must reach: dark on the device, switched off after the signal
// (how soon is lumarok-laser-measure's figure), nothing overflowed, the stream where it
// always was.
// After a network drop-out a few packets were lost with the link, and a few may
// overflow: what was sent while the neighbour was looked up again arrives at once.
void expectDarkStop(const PlayedShow& run, const std::string& what, bool dropOut = false) {
    const long long lost = dropOut ? 100 : 0; // seen 5-18, 55 under the sanitizers
    SCOPED_TRACE(what);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(cubeCount(run.cube, "last_sample_lit"), 0) << run.cube;
    EXPECT_EQ(cubeCount(run.cube, "switch_commands"), 8) << run.cube;
    const double offAt = static_cast<double>(cubeCount(run.cube, "switched_off_at_us")) * 1e-6;
    EXPECT_GE(offAt, run.signalAt) << run.cube;
    EXPECT_LE(cubeCount(run.cube, "overflows"), lost) << run.cube;
    EXPECT_EQ(cubeCount(run.cube, "malformed"), 0) << run.cube;
    EXPECT_LE(cubeCount(run.cube, "message_gaps"), lost) << run.cube;
    EXPECT_LE(cubeCount(run.cube, "frame_gaps"), lost) << run.cube;
    EXPECT_EQ(cubeCount(run.cube, "discovery_requests"), 1) << "never rediscovered\n" << run.cube;
    EXPECT_EQ(run.errors.find(" lost "), std::string::npos) << run.errors;
    EXPECT_LE(wireRate(run.cube), 30000.0 * 1.03) << "at most the device's rate\n" << run.cube;
    EXPECT_LE(cubeCount(run.cube, "largest_burst"), 16) << run.cube;
}

// No static lit beam: the projector never stood empty on a lit sample, but for the
// few underruns a shared test machine causes; each of those may leave the lit tail
// of a frame (up to 55 ms) and some scheduling delay. A frozen beam lasts seconds.
void expectNeverLitStarved(const std::string& cube, const std::string& what) {
    const long long underruns = cubeCount(cube, "underruns");
    EXPECT_LE(underruns, underrunAllowance()) << what << "\n" << cube;
    EXPECT_LE(cubeCount(cube, "lit_starved_ms"), 60 * underruns + (underruns > 0 ? 60 : 0))
        << what << "\n"
        << cube;
}

TEST(LaserSafety, EveryStopSignalMidStreamEndsDarkAndSwitchedOff) {
    for (const int signal : {SIGHUP, SIGQUIT, SIGINT, SIGPIPE}) {
        const std::optional<PlayedShow> run = playAndStop({}, 3.0, signal);
        LUMAROK_SKIP_WITHOUT_NETNS(run);
        expectDarkStop(*run, "signal " + std::to_string(signal));
        expectNeverLitStarved(run->cube, "signal " + std::to_string(signal));
        EXPECT_GT(wireRate(run->cube), 25000.0) << run->cube;
    }
}

TEST(LaserSafety, ImplausibleDeviceNumbersAreIgnoredAndTheStreamGoesOnAtTheDeviceRate) {
    const std::vector<std::vector<std::string>> lies{
        {"--claim-sample-rate", "0"},
        {"--claim-sample-rate", "1"},
        {"--claim-sample-rate", "4294967295"},
        {"--claim-buffer-size", "0"},
        {"--report-free", "65535"}, // more free than the buffer holds
        {"--info-every-ms", "20", "--info-bytes", "3"},
        {"--info-every-ms", "20", "--info-bytes", "22"},
    };
    for (const std::vector<std::string>& lie : lies) {
        const std::optional<PlayedShow> run = playAndStop(lie, 3.0, SIGTERM);
        LUMAROK_SKIP_WITHOUT_NETNS(run);
        const std::string what = lie[0] + " " + lie.back();
        expectDarkStop(*run, what);
        expectNeverLitStarved(run->cube, what);
        EXPECT_GT(wireRate(run->cube), 27000.0) << what << "\n" << run->cube;
        EXPECT_NE(run->errors.find("ignored"), std::string::npos) << what << "\n" << run->errors;
        EXPECT_LE(complaints(run->errors), 6) << "rate-limited\n" << run->errors;
    }
}

TEST(LaserSafety, AProjectorThatNeverMakesRoomOrNamesAnotherAddressNeitherHangsNorMovesTheStream) {
    struct Case {
        std::vector<std::string> lie;
        double expectedRate; // samples per second on the wire, at least
    };
    const std::vector<Case> cases{
        // "0 free" for ever, from discovery on: nothing lit ever goes out.
        {{"--report-free", "0"}, 0.0},
        {{"--report-free", "0", "--report-burst", "300", "--report-ms", "1"}, 0.0},
        {{"--info-every-ms", "20", "--info-address", "10.213.0.77"}, 27000.0},
        {{"--info-every-ms", "20", "--info-address", "255.255.255.255"}, 27000.0},
        {{"--info-address", "127.0.0.1"}, 27000.0},
    };
    for (const Case& c : cases) {
        const std::optional<PlayedShow> run = playAndStop(c.lie, 3.0, SIGTERM);
        LUMAROK_SKIP_WITHOUT_NETNS(run);
        const std::string what = c.lie[0] + " " + c.lie[1];
        expectDarkStop(*run, what);
        EXPECT_GE(wireRate(run->cube), c.expectedRate) << what << "\n" << run->cube;
        if (c.expectedRate == 0.0) {
            // Fed only dark frames, one per stall, each running dry by design.
            EXPECT_EQ(cubeCount(run->cube, "lit_starved_ms"), 0) << what << "\n" << run->cube;
            EXPECT_NE(run->errors.find("made no room"), std::string::npos) << run->errors;
            EXPECT_LE(complaints(run->errors), 3) << run->errors;
        } else {
            expectNeverLitStarved(run->cube, what);
        }
    }
}

// Whatever breaks the stream, the device starves on a dark sample: every frame on the wire
// ends dark. The player stopped and continued, the link down for longer than a player
// once waited for it, the address gone, and at last the player killed, in one show.
TEST(LaserSafety, WhateverBreaksTheStreamTheDeviceStarvesDarkAndThePlayerNeverGivesUp) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube({});
    rig->startPlayer({"-laser"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    const std::string player = "ip -n " + rig->netns().player() + " ";
    const auto playing = [&](double seconds) {
        sleepUntilCube(*rig, rig->cubeSeconds() + seconds);
    };
    const auto rate = [&] {
        const std::vector<CubeProgress> lines = progressLines(rig->cubeOutput());
        const CubeProgress& a = lines.at(lines.size() - 3);
        const CubeProgress& b = lines.back();
        return static_cast<double>(b.samples - a.samples) / (b.seconds - a.seconds);
    };
    playing(2.0);
    rig->player().signal(SIGSTOP);
    std::this_thread::sleep_for(1500ms);
    rig->player().signal(SIGCONT);
    playing(3.0);
    EXPECT_GT(rate(), 25000.0) << "streaming after SIGCONT";
    ASSERT_EQ(std::system((player + "link set lrk0 down").c_str()), 0);
    std::this_thread::sleep_for(12s);
    ASSERT_EQ(std::system((player + "link set lrk0 up").c_str()), 0);
    playing(3.0);
    EXPECT_GT(rate(), 25000.0) << "streaming again with the link up";
    ASSERT_EQ(std::system((player + "addr del 10.213.0.1/24 dev lrk0").c_str()), 0);
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(std::system((player + "addr add 10.213.0.1/24 dev lrk0").c_str()), 0);
    playing(3.0);
    EXPECT_GT(rate(), 25000.0) << "streaming again with the address back";
    EXPECT_EQ(rig->player().wait(0ms), -1) << "never gave up: " << rig->playerErrors();
    rig->player().signal(SIGKILL);
    rig->player().wait(5s);
    std::this_thread::sleep_for(300ms);
    const std::string cube = rig->stopCube();
    EXPECT_EQ(cubeCount(cube, "lit_starved_ms"), 0) << cube;
    EXPECT_EQ(cubeCount(cube, "last_sample_lit"), 0) << cube;
    EXPECT_LE(cubeCount(cube, "largest_burst"), 16) << cube;
    const std::string errors = rig->playerErrors();
    EXPECT_NE(errors.find("failed (Network is unreachable); retrying"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("works again"), std::string::npos) << errors;
}

TEST(LaserSafety, AStalledRenderAndAClockNotStartedAreBridgedDarkWithoutSpinning) {
    {
        // One render 3.5 s into the show takes 3 s longer (the player with a test seam);
        // the stop signal at 5 s lands inside it and must not wait for it.
        const std::optional<PlayedShow> run =
            playAndStop({}, 5.0, SIGTERM, {}, {"-laser"},
                        {programPath("tests/lumarok-stalled-player"), "3.5", "3000"});
        LUMAROK_SKIP_WITHOUT_NETNS(run);
        expectDarkStop(*run, "stalled render");
        expectNeverLitStarved(run->cube, "stalled render");
        EXPECT_GT(wireRate(run->cube, run->signalCubeAt), 27000.0) << "fed dark through the stall\n"
                                                                   << run->cube;
    }
    {
        // -osc without a single /Time: every frame is empty.
        const std::optional<PlayedShow> run = playAndStop({}, 5.0, SIGTERM, {}, {"-laser", "-osc"});
        LUMAROK_SKIP_WITHOUT_NETNS(run);
        expectDarkStop(*run, "clock not started");
        EXPECT_EQ(cubeCount(run->cube, "lit_starved_ms"), 0) << "nothing lit ever\n" << run->cube;
        EXPECT_GT(wireRate(run->cube), 27000.0) << "fed dark\n" << run->cube;
        RecordProperty("empty_show_cpu_percent", static_cast<int>(run->cpuShare * 100.0));
        // A spinning loop takes a whole core; the figure itself (under 2 % in a plain
        // build) is printed for the record, not held to on a shared machine.
        std::printf("empty laser show: %.1f %% of one core\n", run->cpuShare * 100.0);
        EXPECT_LT(run->cpuShare, 0.25) << "no busy spin: " << run->cpuShare * 100.0 << " %";
    }
}

TEST(LaserSafety, AnIntensityOutsideZeroToHundredSendsNothing) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube({});
    const std::vector<std::pair<std::string, std::string>> cases{
        {"500", "lumarok: -i wants a percentage from 0 to 100, not '500'\n"},
        {"-5", "lumarok: -i wants a percentage from 0 to 100, not '-5'\n"},
    };
    for (const auto& [value, line] : cases) {
        rig->startPlayer({"-laser", "-i", value});
        EXPECT_EQ(rig->player().wait(20s), 1) << value;
        EXPECT_EQ(rig->playerErrors(), line);
    }
    const std::string out = rig->stopCube();
    EXPECT_EQ(cubeCount(out, "discovery_requests"), 0) << out;
    EXPECT_EQ(cubeCount(out, "switch_commands"), 0) << out;
    EXPECT_EQ(cubeCount(out, "packets"), 0) << out;
}

} // namespace
} // namespace lumarok::test

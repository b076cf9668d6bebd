// An Ether Dream as one more kind of projector: the player in its own network namespace
// against the virtual DAC in another, for each family of safety cases: stop signals,
// the DAC vanishing and coming back, a DAC that stops making room or goes into e-stop,
// and a stalled render.
#include "support/laser_show.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kPlayer{"-laser", "--projector", "etherdream:10.213.0.2"};
const std::vector<std::string> kDac{"--kind", "etherdream"};

// Every way out: the DAC stopped by an acknowledged 's', its stream ending dark, never
// fed faster than it plays.
void expectStoppedDark(const std::string& dac, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_GE(cubeCount(dac, "stops_acknowledged"), 1) << dac;
    EXPECT_EQ(cubeCount(dac, "playing_at_exit"), 0) << dac;
    EXPECT_EQ(cubeCount(dac, "last_sample_lit"), 0) << dac;
    EXPECT_EQ(cubeCount(dac, "malformed"), 0) << dac;
    EXPECT_LE(fedRate(dac), 30000.0 * 1.03) << "at most the DAC's rate\n" << dac;
    const long long underruns = cubeCount(dac, "underruns");
    EXPECT_LE(underruns, underrunAllowance()) << dac;
    EXPECT_LE(cubeCount(dac, "lit_starved_ms"), 60 * underruns) << dac;
}

TEST(EtherDreamOutput, StopSignalsLeaveTheDacStoppedAndDark) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
        LUMAROK_SKIP_WITHOUT_NETNS(rig);
        rig->startCube(kDac);
        rig->startPlayer(kPlayer);
        ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
        playFor(*rig, 3.0);
        rig->player().signal(signal);
        EXPECT_EQ(rig->player().wait(5s), 0) << rig->playerErrors();
        std::this_thread::sleep_for(200ms);
        const std::string dac = rig->stopCube();
        expectStoppedDark(dac, "signal " + std::to_string(signal));
        EXPECT_GT(fedRate(dac), 25000.0) << dac;
        EXPECT_NE(rig->playerOutput().find("Foundetherdream-000001 Ip: 10.213.0.2"),
                  std::string::npos)
            << rig->playerOutput();
    }
}

TEST(EtherDreamOutput, ADacThatVanishesIsReportedAndFoundAgain) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube(kDac);
    rig->startPlayer(kPlayer);
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    playFor(*rig, 1.5);
    rig->cube().signal(SIGKILL);
    rig->cube().wait(5s);
    ASSERT_TRUE(waitForText(rig->file("player.err"), " lost (", 5s)) << rig->playerErrors();
    rig->startCube(kDac);
    ASSERT_TRUE(waitForText(rig->file("player.err"), "answers again", 10s)) << rig->playerErrors();
    playFor(*rig, 1.5);
    EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
    std::this_thread::sleep_for(200ms);
    const std::string dac = rig->stopCube();
    expectStoppedDark(dac, "found again");
    EXPECT_GT(cubeCount(dac, "points"), 20000) << dac;
}

TEST(EtherDreamOutput, ADacThatStopsMakingRoomOrGoesIntoEmergencyStopIsToldAndStoppedSafely) {
    struct Case {
        std::vector<std::string> fault;
        std::string told;
    };
    const std::vector<Case> cases{
        {{"--stall-after", "1.5"}, "made no room"},
        {{"--estop-after", "1.5"}, "stopped playing (e-stop); started it again"},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
        LUMAROK_SKIP_WITHOUT_NETNS(rig);
        std::vector<std::string> options = kDac;
        options.insert(options.end(), c.fault.begin(), c.fault.end());
        rig->startCube(options);
        rig->startPlayer(kPlayer);
        ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
        playFor(*rig, 3.5);
        EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
        std::this_thread::sleep_for(200ms);
        const std::string dac = rig->stopCube();
        SCOPED_TRACE(c.fault[0]);
        EXPECT_NE(rig->playerErrors().find(c.told), std::string::npos) << rig->playerErrors();
        EXPECT_GE(cubeCount(dac, "stops_acknowledged"), 1) << dac;
        EXPECT_EQ(cubeCount(dac, "playing_at_exit"), 0) << dac;
        EXPECT_LE(fedRate(dac), 30000.0 * 1.03) << dac;
        if (c.fault[0] == "--estop-after") {
            // A stalled DAC may hold a lit point when stopped; one that plays ends dark.
            EXPECT_EQ(cubeCount(dac, "last_sample_lit"), 0) << dac;
            EXPECT_GE(cubeCount(dac, "prepares"), 2) << "prepared again\n" << dac;
            EXPECT_GE(cubeCount(dac, "begins"), 2) << dac;
        }
    }
}

TEST(EtherDreamOutput, AStalledRenderIsBridgedDark) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube(kDac);
    // One render 2 s into the show takes 2 s longer (the player with a test seam).
    rig->startPlayer(kPlayer, {}, {programPath("tests/lumarok-stalled-player"), "2", "2000"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    playFor(*rig, 5.0);
    EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
    std::this_thread::sleep_for(200ms);
    const std::string dac = rig->stopCube();
    expectStoppedDark(dac, "stalled render");
    EXPECT_GT(fedRate(dac), 27000.0) << "fed dark through the stall\n" << dac;
}

} // namespace
} // namespace lumarok::test

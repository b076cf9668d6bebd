// An IDN unit as one more kind of projector: the player in its own network namespace
// against the virtual unit in another: stop signals close the channel after a dark
// chunk, a unit that vanishes is reported and found again, an occupied unit is told in
// one line, and a stalled render is bridged dark.
#include "support/laser_show.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kPlayer{"-laser", "--projector", "idn:10.213.0.2"};
const std::vector<std::string> kUnit{"--kind", "idn"};

// The strict unit found nothing to drop, the channel was closed by its flag after a
// dark last sample, and the stream never ran faster than the rate.
void expectClosedDark(const std::string& unit, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_GE(cubeCount(unit, "channel_closed"), 1) << unit;
    EXPECT_EQ(cubeCount(unit, "open_at_exit"), 0) << unit;
    EXPECT_EQ(cubeCount(unit, "last_sample_lit"), 0) << unit;
    for (const char* fault : {"malformed", "timestamp_errors", "config_errors", "unrouted"}) {
        EXPECT_EQ(cubeCount(unit, fault), 0) << fault << "\n" << unit;
    }
    EXPECT_LE(fedRate(unit), 30000.0 * 1.03) << unit;
    const long long underruns = cubeCount(unit, "underruns");
    EXPECT_LE(underruns, underrunAllowance()) << unit;
    EXPECT_LE(cubeCount(unit, "lit_starved_ms"), 60 * underruns) << unit;
}

TEST(IdnOutput, AStopSignalClosesTheChannelAfterADarkChunk) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube(kUnit);
    rig->startPlayer(kPlayer);
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    playFor(*rig, 3.0);
    rig->player().signal(SIGTERM);
    EXPECT_EQ(rig->player().wait(5s), 0) << rig->playerErrors();
    std::this_thread::sleep_for(200ms);
    const std::string unit = rig->stopCube();
    expectClosedDark(unit, "SIGTERM");
    EXPECT_GT(fedRate(unit), 25000.0) << unit;
    EXPECT_GT(cubeCount(unit, "acks"), 0) << unit;
}

TEST(IdnOutput, AUnitThatVanishesIsFoundAgainAndAnOccupiedOneIsTold) {
    {
        const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
        LUMAROK_SKIP_WITHOUT_NETNS(rig);
        rig->startCube(kUnit);
        rig->startPlayer(kPlayer);
        ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
        playFor(*rig, 1.5);
        rig->cube().signal(SIGKILL);
        rig->cube().wait(5s);
        ASSERT_TRUE(waitForText(rig->file("player.err"), " lost (", 5s)) << rig->playerErrors();
        rig->startCube(kUnit);
        ASSERT_TRUE(waitForText(rig->file("player.err"), "answers again", 10s))
            << rig->playerErrors();
        playFor(*rig, 1.5);
        EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
        std::this_thread::sleep_for(200ms);
        expectClosedDark(rig->stopCube(), "found again");
    }
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube({"--kind", "idn", "--occupied"});
    rig->startPlayer(kPlayer);
    EXPECT_TRUE(
        waitForText(rig->file("player.err"), "lumarok: IDN unit idn:10.213.0.2: occupied", 10s))
        << rig->playerErrors();
    EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
    const std::string unit = rig->stopCube();
    EXPECT_EQ(cubeCount(unit, "messages"), 0) << "nothing streamed to it\n" << unit;
}

TEST(IdnOutput, AStalledRenderIsBridgedDark) {
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    LUMAROK_SKIP_WITHOUT_NETNS(rig);
    rig->startCube(kUnit);
    // One render 2 s into the show takes 2 s longer (the player with a test seam).
    rig->startPlayer(kPlayer, {}, {programPath("tests/lumarok-stalled-player"), "2", "2000"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    playFor(*rig, 5.0);
    EXPECT_EQ(rig->stopPlayer(5s), 0) << rig->playerErrors();
    std::this_thread::sleep_for(200ms);
    const std::string unit = rig->stopCube();
    expectClosedDark(unit, "stalled render");
    EXPECT_GT(fedRate(unit), 27000.0) << "fed dark through the stall\n" << unit;
}

} // namespace
} // namespace lumarok::test

// The link's discovery against a device played by the test, each in a network namespace of
// its own. How the link streams (counters, pacing, forged reports) is the player's laser
// tests' (laser_faults_itest.cpp, laser_safety_itest.cpp, multi_projector_itest.cpp) and the
// units' (sample_packets_test.cpp).
#include "support/laser_show.hpp"
#include "support/lumarok_process.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"
#include "support/udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

TEST(LaserCubeLinkNetns, DiscoverySkipsEchoesAndStrangersAndFallsBackToSourceAddress) {
    const std::unique_ptr<NetnsPair> pair = tryNetns<NetnsPair>();
    LUMAROK_SKIP_WITHOUT_NETNS(pair);
    const TempDir dir;
    std::optional<NetnsProcess> probe;
    std::vector<std::vector<std::uint8_t>> switches;
    runInNetns(pair->device(), [&] {
        UdpEndpoint device("0.0.0.0", 45457); // any: a broadcast reaches no unicast-bound socket
        probe.emplace(pair->player(),
                      std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-link-probe"),
                                               "--netns", pair->player(), "--seconds", "0.3",
                                               "--samples", "10"},
                      dir / "probe.out", dir / "probe.err");
        auto request = device.receive(5s);
        ASSERT_TRUE(request.has_value());
        ASSERT_EQ(*request, std::vector<std::uint8_t>{0x77});
        // Neither a lone 0x77 nor a stranger's datagram ends discovery.
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x77});
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x55, 1, 2, 3, 4});
        const auto before = std::chrono::steady_clock::now();
        request = device.receive(5s);
        ASSERT_TRUE(request.has_value()) << "the link asks again";
        EXPECT_EQ(*request, std::vector<std::uint8_t>{0x77});
        EXPECT_GE(std::chrono::steady_clock::now() - before, 150ms)
            << "requests are spaced, not flooded";
        // Three bytes are a device information; it carries no address, so the
        // link must use the address the answer came from.
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x77, 0, 0});
        while (auto datagram = device.receive(3s)) {
            if (datagram->size() == 2) {
                switches.push_back(*datagram);
            }
            if (switches.size() == 8) {
                break;
            }
        }
    });
    ASSERT_EQ(probe->wait(10s), 0) << readFile(dir / "probe.err");
    EXPECT_EQ(readFile(dir / "probe.out").rfind("Found Ip: 10.213.0.2\n", 0), 0u)
        << readFile(dir / "probe.out");
    EXPECT_NE(readFile(dir / "probe.err").find("waiting for a projector"), std::string::npos);
    const std::vector<std::vector<std::uint8_t>> expected{
        {0x78, 1}, {0x78, 1}, {0x80, 1}, {0x80, 1}, {0x78, 0}, {0x78, 0}, {0x80, 0}, {0x80, 0}};
    EXPECT_EQ(switches, expected);
}

TEST(LaserCubeLinkNetns, StopFlagEndsAWaitingDiscovery) {
    const std::unique_ptr<NetnsPair> pair = tryNetns<NetnsPair>();
    LUMAROK_SKIP_WITHOUT_NETNS(pair);
    const TempDir dir;
    NetnsProcess probe(
        pair->player(),
        {programPath("tools/lumarok_cube/lumarok-link-probe"), "--netns", pair->player()},
        dir / "probe.out", dir / "probe.err");
    ASSERT_TRUE(waitForText(dir / "probe.err", "waiting for a projector", 5s));
    probe.signal(SIGTERM);
    EXPECT_EQ(probe.wait(2s), 3) << readFile(dir / "probe.err");
    EXPECT_EQ(readFile(dir / "probe.out"), "discovery cancelled\n");
}

TEST(LaserCubeLinkNetns, ProbeRefusesToBroadcastOutsideItsNamespace) {
    const TempDir dir;
    // Run in this process's own namespace: the probe must stop before any socket.
    const std::string command = programPath("tools/lumarok_cube/lumarok-link-probe") +
                                " --netns lrk_nowhere >" + (dir / "out") + " 2>" + (dir / "err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 97);
    EXPECT_NE(readFile(dir / "err").find("refusing"), std::string::npos);
}

} // namespace
} // namespace lumarok::test

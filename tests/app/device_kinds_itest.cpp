// Projectors of every kind side by side: a LaserCube, an Ether Dream and an IDN unit,
// virtual, in a device namespace; --list-projectors in the player's names each with
// its kind, and one show plays on all three, each taken by --projector all and fed on
// the beat (each kind's link tells what its device holds).
#include "support/laser_show.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

struct Devices {
    NetnsPair netns;
    TempDir dir;
    std::vector<std::unique_ptr<NetnsProcess>> running;
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    Devices() {
        for (const std::string kind : {"lasercube", "etherdream", "idn"}) {
            running.push_back(std::make_unique<NetnsProcess>(
                netns.device(),
                std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"), "--kind",
                                         kind},
                file(kind + ".out"), file(kind + ".err")));
            if (!waitForText(file(kind + ".out"), "listening", 10s)) {
                throw std::runtime_error("the virtual " + kind + " did not start");
            }
        }
    }
};

TEST(DeviceKinds, EveryKindIsListedAndPlaysOneShow) {
    std::optional<Devices> devices;
    try {
        devices.emplace();
    } catch (const NetnsUnavailable&) {
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";
    }
    {
        NetnsProcess list(devices->netns.player(), {programPath("lumarok"), "--list-projectors"},
                          devices->file("list.out"), devices->file("list.err"));
        EXPECT_EQ(list.wait(10s), 0) << readFile(devices->file("list.err"));
    }
    const std::string listed = readFile(devices->file("list.out"));
    for (const char* line : {"lasercube  lumarok-cube  10.213.0.2  30000 samples/s",
                             "etherdream  etherdream-000001  10.213.0.2  100000 points/s max  "
                             "buffer 1799  (ready, idle, firmware 2)",
                             "idn  lumarok-idn  10.213.0.2  service 1 \"laser\"  version 0.1"}) {
        EXPECT_NE(listed.find(line), std::string::npos) << line << "\n" << listed;
    }
    NetnsProcess player(devices->netns.player(),
                        {programPath("lumarok"), "-laser", "--projector", "all", "--on-beat"},
                        devices->file("player.out"), devices->file("player.err"), sourceDir());
    ASSERT_TRUE(waitForText(devices->file("player.err"), "projector: etherdream-000001", 10s))
        << readFile(devices->file("player.err"));
    std::this_thread::sleep_for(2s);
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(5s), 0) << readFile(devices->file("player.err"));
    std::this_thread::sleep_for(200ms);
    for (const auto& device : devices->running) {
        device->signal(SIGTERM);
        device->wait(5s);
    }
    const std::string cube = readFile(devices->file("lasercube.out"));
    const std::string dac = readFile(devices->file("etherdream.out"));
    const std::string unit = readFile(devices->file("idn.out"));
    EXPECT_EQ(cubeCount(cube, "switch_commands"), 8) << cube;
    EXPECT_GE(cubeCount(dac, "stops_acknowledged"), 1) << dac;
    EXPECT_GE(cubeCount(unit, "channel_closed"), 1) << unit;
    for (const std::string* out : {&cube, &dac, &unit}) {
        EXPECT_EQ(cubeCount(*out, "last_sample_lit"), 0) << *out;
        EXPECT_GT(std::max(cubeCount(*out, "samples"), cubeCount(*out, "points")), 30000) << *out;
    }
}

} // namespace
} // namespace lumarok::test

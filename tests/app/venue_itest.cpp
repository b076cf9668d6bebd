// A venue on the wire: two virtual projectors in one device namespace, the player in
// another; one projector fenced by a keep-out zone, the other placed so that the show
// shrinks to a point, which its static-beam guard must darken.
#include "support/laser_show.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
using Sample = std::array<int, 5>;

constexpr std::array<const char*, 2> kNames{"one", "two"};
constexpr std::array<const char*, 2> kAddresses{"10.213.0.2", "10.213.0.3"};
// The keep-out zone of "one": the middle of the output.
constexpr int kLow = 1200;
constexpr int kHigh = 2900;

bool lit(const Sample& s) {
    return s[2] != 0 || s[3] != 0 || s[4] != 0;
}

std::vector<std::vector<Sample>> dumpedFrames(const std::string& path) {
    std::vector<std::vector<Sample>> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        frames.push_back(nlohmann::json::parse(line)["samples"].get<std::vector<Sample>>());
    }
    return frames;
}

// Lit lines of a frame that pass strictly inside the zone, walked in small steps.
int litCrossings(const std::vector<Sample>& frame) {
    int count = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        if (!lit(frame[i - 1]) && !lit(frame[i])) {
            continue;
        }
        for (int k = 0; k <= 200; ++k) {
            const double x = frame[i - 1][0] + (frame[i][0] - frame[i - 1][0]) * k / 200.0;
            const double y = frame[i - 1][1] + (frame[i][1] - frame[i - 1][1]) * k / 200.0;
            if (x > kLow + 0.5 && x < kHigh - 0.5 && y > kLow + 0.5 && y < kHigh - 0.5) {
                ++count;
                break;
            }
        }
    }
    return count;
}

TEST(VenueNetns, KeepOutIsNeverCrossedLitOnTheWireAndAStillPointGoesDark) {
    const std::unique_ptr<NetnsPair> pair = tryNetns<NetnsPair>();
    LUMAROK_SKIP_WITHOUT_NETNS(pair);
    pair->addDeviceAddress("10.213.0.3/24");
    const TempDir dir;
    const auto file = [&](const std::string& name) { return (dir.path() / name).string(); };
    const std::string low = std::to_string(kLow);
    const std::string high = std::to_string(kHigh);
    std::ofstream(file("venue.toml"))
        << "[projector.one]\n[[projector.one.zone]]\nkind = \"keep-out\"\npoints = [[" << low
        << ", " << low << "], [" << high << ", " << low << "], [" << high << ", " << high << "], ["
        << low << ", " << high << "]]\n"
        << "[projector.\"10.213.0.3\"]\nplacement = { scale = 0.0001 }\n";
    std::array<std::optional<NetnsProcess>, 2> cubes;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string base = file(kNames[i]);
        cubes[i].emplace(pair->device(),
                         std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"),
                                                  "--name", kNames[i], "--address", kAddresses[i],
                                                  "--dump", base + ".jsonl", "--dump-frames",
                                                  "200"},
                         base + ".out", base + ".err");
        ASSERT_TRUE(waitForText(base + ".out", "listening", 10s)) << readFile(base + ".err");
    }
    NetnsWorker clock(pair->player(), [&](const std::atomic<bool>& stop) {
        const UdpSender sender;
        while (!stop) {
            sender.send("127.0.0.1", 8666, oscTime(12.0f));
            std::this_thread::sleep_for(20ms);
        }
    });
    NetnsProcess player(pair->player(),
                        {"env", "PULSE_SERVER=unix:/nonexistent/lumarok-no-audio",
                         programPath("lumarok"), "-laser", "-osc", "--venue", file("venue.toml"),
                         "--projector", "one", "--projector", "10.213.0.3"},
                        file("player.out"), file("player.err"), sourceDir());
    std::this_thread::sleep_for(3s);
    player.signal(SIGTERM);
    const std::string err = readFile(file("player.err"));
    EXPECT_EQ(player.wait(10s), 0) << err;
    clock.finish();
    for (auto& cube : cubes) {
        cube->signal(SIGTERM);
        cube->wait(10s);
    }
    const auto one = dumpedFrames(file("one.jsonl"));
    const auto two = dumpedFrames(file("two.jsonl"));
    ASSERT_GE(one.size(), 10u) << err;
    ASSERT_GE(two.size(), 10u) << err;
    std::size_t litOne = 0;
    for (const auto& frame : one) {
        EXPECT_EQ(litCrossings(frame), 0);
        litOne += static_cast<std::size_t>(std::count_if(frame.begin(), frame.end(), lit));
    }
    EXPECT_GT(litOne, 1000u); // the picture outside the zone still plays
    // The point is lit for at most 150 ms of samples at the projector's 30,000 a second.
    std::size_t litTwo = 0;
    for (const auto& frame : two) {
        litTwo += static_cast<std::size_t>(std::count_if(frame.begin(), frame.end(), lit));
    }
    EXPECT_GT(litTwo, 0u);
    EXPECT_LE(litTwo, 4500u);
    EXPECT_NE(err.find("the lit beam stayed within 1 % for 100 ms"), std::string::npos) << err;
}

} // namespace
} // namespace lumarok::test

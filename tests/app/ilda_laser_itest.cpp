// ILDA files in laser mode against the virtual projector, each in a network namespace of
// its own: the stream carries the file's frames as --render gives them, at the frame the
// OSC clock names, and follows a /Time jump.
#include "support/ilda_bytes.hpp"
#include "support/lumarok_process.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
using Sample = std::array<int, 5>;

// From the first lit sample on: the blank move before it depends on the frame before.
std::vector<Sample> litPart(const nlohmann::json& samples) {
    std::vector<Sample> lit;
    for (const nlohmann::json& s : samples) {
        const Sample sample = s.is_array()
                                  ? s.get<Sample>()
                                  : Sample{s["x"].get<int>(), s["y"].get<int>(), s["r"].get<int>(),
                                           s["g"].get<int>(), s["b"].get<int>()};
        if (!lit.empty() || sample[2] + sample[3] + sample[4] > 0) {
            lit.push_back(sample);
        }
    }
    return lit;
}

// Frame k: a lit square of side 1000 + 500 k, its first point blanked.
std::string squaresFile() {
    std::string bytes;
    for (int k = 0; k < 3; ++k) {
        const int side = (1000 + 500 * k) * 16;
        std::vector<IldaTestPoint> points;
        for (const auto& [x, y] : {std::pair{0, 0}, {side, 0}, {side, side}, {0, side}, {0, 0}}) {
            IldaTestPoint p;
            p.x = x - side / 2;
            p.y = y - side / 2;
            p.red = 255;
            p.green = 40 * k;
            p.blanked = points.empty();
            points.push_back(p);
        }
        appendIldaFrame(bytes, 5, points);
    }
    appendIldaEnd(bytes);
    return bytes;
}

TEST(IldaLaserNetns, PlaysTheFrameTheOscClockNamesAndFollowsAJump) {
    const std::unique_ptr<NetnsPair> pair = tryNetns<NetnsPair>();
    LUMAROK_SKIP_WITHOUT_NETNS(pair);
    const TempDir dir;
    const std::string lumarok = programPath("lumarok");
    const std::string file = (dir.path() / "squares.ild").string();
    writeFile(file, squaresFile());
    // One frame per 10 s, so that the clock running on after a /Time stays in the frame.
    const std::vector<std::string> ilda{"--ilda", file, "--ilda-fps", "0.1", "-i", "100"};
    std::vector<std::vector<Sample>> expected;
    for (const char* clock : {"5", "15", "25"}) {
        std::vector<std::string> render = ilda;
        render.insert(render.end(), {"--render", clock, "--out", (dir.path() / "x.json").string()});
        ProcessOptions options;
        ASSERT_EQ(runProcess(lumarok, render, options).exitCode, 0);
        std::ifstream in(dir.path() / "x.json");
        expected.push_back(litPart(nlohmann::json::parse(in)["samples"]));
        ASSERT_EQ(expected.back().size(), 4u);
    }

    // Small frames go out thousands of times a second: the log keeps those completed
    // after 2 s, when the projector has been found and the clock told 15 s.
    const std::string log = (dir.path() / "frames.jsonl").string();
    NetnsProcess cube(pair->device(),
                      {programPath("tools/lumarok_cube/lumarok-cube"), "--seconds", "120", "--dump",
                       log, "--dump-after", "2", "--dump-frames", "1000000"},
                      (dir.path() / "cube.out").string(), (dir.path() / "cube.err").string());
    ASSERT_TRUE(waitForText((dir.path() / "cube.out").string(), "listening", 10s));
    std::vector<std::string> play{lumarok, "-laser", "-osc"};
    play.insert(play.end(), ilda.begin(), ilda.end());
    NetnsProcess show(pair->player(), play, (dir.path() / "show.out").string(),
                      (dir.path() / "show.err").string());
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [clock, until] : {std::pair{"15", 3500ms}, {"25", 5000ms}}) {
        while (std::chrono::steady_clock::now() - start < until) {
            NetnsProcess osc(pair->player(), {"oscsend", "127.0.0.1", "8666", "/Time", "f", clock},
                             (dir.path() / "osc.out").string(), (dir.path() / "osc.err").string());
            ASSERT_EQ(osc.wait(10s), 0);
            std::this_thread::sleep_for(50ms);
        }
    }
    show.signal(SIGTERM);
    EXPECT_NE(show.wait(10s), -1);
    ASSERT_TRUE(waitForText((dir.path() / "show.err").string(), "projector: lumarok-cube", 1s))
        << readFile((dir.path() / "show.err").string());

    std::vector<int> seen; // which expected frame each lit frame is, in order
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::vector<Sample> lit = litPart(nlohmann::json::parse(line)["samples"]);
        if (lit.empty()) {
            continue; // a dark fill
        }
        // On the wire a frame ends on a dark sample where its last one stands.
        const Sample& last = lit.back();
        if (last[2] + last[3] + last[4] == 0 && lit.size() == expected.front().size() + 1) {
            lit.pop_back();
        }
        const auto found = std::find(expected.begin(), expected.end(), lit);
        ASSERT_NE(found, expected.end()) << line;
        seen.push_back(static_cast<int>(found - expected.begin()));
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 2) << "the jump to 25 s plays frame 2";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(std::count(seen.begin(), seen.end(), 1), 3);
}

} // namespace
} // namespace lumarok::test

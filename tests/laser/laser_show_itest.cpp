// The player in laser mode against the virtual projector, each in a network namespace
// of its own, with the show clock set over OSC inside the player's namespace.
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
using Sample = std::array<int, 5>;

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lrk_show_XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// From the first lit sample on: the dark move before it starts wherever the previous
// frame left the beam, which differs between a one-off render and a running show.
std::vector<Sample> litPart(const std::vector<Sample>& samples) {
    auto first = samples.begin();
    while (first != samples.end() && (*first)[2] == 0 && (*first)[3] == 0 && (*first)[4] == 0) {
        ++first;
    }
    return {first, samples.end()};
}

std::vector<Sample> renderedSamples(const std::string& path) {
    std::ifstream in(path);
    const nlohmann::json document = nlohmann::json::parse(in);
    std::vector<Sample> samples;
    for (const nlohmann::json& s : document.at("samples")) {
        samples.push_back({s.at("x").get<int>(), s.at("y").get<int>(), s.at("r").get<int>(),
                           s.at("g").get<int>(), s.at("b").get<int>()});
    }
    return samples;
}

std::vector<std::vector<Sample>> dumpedFrames(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<Sample>> frames;
    for (std::string line; std::getline(in, line);) {
        frames.push_back(nlohmann::json::parse(line).at("samples").get<std::vector<Sample>>());
    }
    return frames;
}

std::size_t lineCount(const std::string& path) {
    const std::string text = readFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(LaserShowNetns, SendsTheFrameRenderedAtTheOscTimeAndSwitchesOffOnSigterm) {
    std::unique_ptr<NetnsPair> pair;
    try {
        pair = std::make_unique<NetnsPair>();
    } catch (const NetnsUnavailable&) {
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";
    }
    const TempDir dir;
    const std::string lumarok = programPath("lumarok");
    {
        NetnsProcess render(pair->player(), {lumarok, "--render", "3.0", "--out", dir / "x.json"},
                            dir / "render.out", dir / "render.err", sourceDir());
        ASSERT_EQ(render.wait(120s), 0) << readFile(dir / "render.err");
    }
    std::vector<Sample> expected = litPart(renderedSamples(dir / "x.json"));
    ASSERT_FALSE(expected.empty());
    // On the wire a frame ends on a dark sample where its last one stands.
    expected.push_back({expected.back()[0], expected.back()[1], 0, 0, 0});

    constexpr int kFrames = 40;
    NetnsProcess cube(pair->device(),
                      {programPath("tools/lumarok_cube/lumarok-cube"), "--seconds", "120", "--dump",
                       dir / "frames.jsonl", "--dump-frames", std::to_string(kFrames)},
                      dir / "cube.out", dir / "cube.err");
    ASSERT_TRUE(waitForText(dir / "cube.out", "listening", 10s)) << readFile(dir / "cube.err");
    NetnsProcess show(pair->player(), {lumarok, "-laser", "-osc"}, dir / "show.out",
                      dir / "show.err", sourceDir());

    // The OSC socket opens before discovery; keep telling the time until the show found
    // the projector and a little beyond, so no frame plays at another time.
    const std::string found = "Foundlumarok-cube Ip: 10.213.0.2\n";
    int afterFound = 0;
    for (int i = 0; i < 600 && afterFound < 5; ++i) {
        NetnsProcess osc(pair->player(), {"oscsend", "127.0.0.1", "8666", "/Time", "f", "3.0"},
                         dir / "osc.out", dir / "osc.err");
        ASSERT_EQ(osc.wait(10s), 0) << readFile(dir / "osc.err");
        if (readFile(dir / "show.out").find(found) != std::string::npos) {
            ++afterFound;
        }
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(afterFound, 5) << readFile(dir / "show.out") << readFile(dir / "show.err");
    EXPECT_EQ(readFile(dir / "show.out").find(found), 0u) << "the discovery line comes first";
    const std::string told = readFile(dir / "show.err");
    for (const std::string& line : {"show folder: " + sourceDir() + "/data\n",
                                    std::string("clock: OSC /Time on 0.0.0.0:8666\n"),
                                    std::string("projector: lumarok-cube at 10.213.0.2\n")}) {
        EXPECT_NE(told.find(line), std::string::npos) << line << "in:\n" << told;
    }

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (lineCount(dir / "frames.jsonl") < kFrames &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    show.signal(SIGTERM);
    EXPECT_NE(show.wait(10s), -1) << "the show ends on SIGTERM";
    ASSERT_TRUE(waitForText(dir / "cube.out",
                            "switch A off\nswitch A off\nswitch B off\nswitch B off\n", 5s))
        << readFile(dir / "cube.out");

    const std::vector<std::vector<Sample>> frames = dumpedFrames(dir / "frames.jsonl");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    // The later half is certainly past the first /Time; each must be the rendered frame,
    // or a dark fill the sender put in while a render was late.
    std::size_t litFrames = 0;
    for (std::size_t i = frames.size() / 2; i < frames.size(); ++i) {
        const std::vector<Sample> lit = litPart(frames[i]);
        if (lit.empty()) {
            continue;
        }
        ++litFrames;
        EXPECT_TRUE(lit == expected)
            << "frame " << i << ": " << lit.size() << " lit samples, rendered " << expected.size();
    }
    EXPECT_GE(litFrames, frames.size() / 4);
    EXPECT_NE(
        readFile(dir / "cube.out").find("switch A on\nswitch A on\nswitch B on\nswitch B on\n"),
        std::string::npos);
}

} // namespace
} // namespace lumarok::test

// Several projectors on one show: two virtual projectors side by side in one device
// namespace (own addresses), the player in another, both made here.
#include "support/laser_show.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr std::array<const char*, 2> kNames{"one", "two"};
constexpr std::array<const char*, 2> kAddresses{"10.213.0.2", "10.213.0.3"};

// Two projectors and the player, each ended (SIGTERM, then SIGKILL) before the
// namespaces go.
class TwoCubes {
public:
    static std::unique_ptr<TwoCubes> make() {
        try {
            return std::make_unique<TwoCubes>(std::make_unique<NetnsPair>());
        } catch (const NetnsUnavailable&) {
            return nullptr;
        }
    }
    explicit TwoCubes(std::unique_ptr<NetnsPair> made) : pair(std::move(made)) {
        pair->addDeviceAddress("10.213.0.3/24");
    }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    // Starts (or restarts) projector i with its own logs; waits until it listens.
    void startCube(std::size_t i, const std::string& tag = "") {
        const std::string base = file(std::string(kNames[i]) + tag);
        cubes[i].reset();
        cubes[i].emplace(pair->device(),
                         std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"),
                                                  "--name", kNames[i], "--address", kAddresses[i],
                                                  "--progress", "--dump", base + ".jsonl",
                                                  "--dump-after", "3", "--dump-frames", "400"},
                         base + ".out", base + ".err");
        if (!waitForText(base + ".out", "listening", 10s)) {
            throw std::runtime_error(readFile(base + ".err"));
        }
    }
    void startPlayer(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"env", "PULSE_SERVER=unix:/nonexistent/lumarok-no-audio",
                                      programPath("lumarok"), "-laser"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        player.emplace(pair->player(), argv, file("player.out"), file("player.err"), sourceDir());
    }
    // Ends projector i with `signal`; its output.
    std::string stopCube(std::size_t i, int signal = SIGTERM, const std::string& tag = "") {
        cubes[i]->signal(signal);
        cubes[i]->wait(10s);
        return readFile(file(std::string(kNames[i]) + tag + ".out"));
    }
    const NetnsPair& netns() const { return *pair; }

    std::unique_ptr<NetnsPair> pair;
    TempDir dir;
    std::array<std::optional<NetnsProcess>, 2> cubes;
    std::optional<NetnsProcess> player;
    std::optional<NetnsProcess> listener;
};

#define MAKE_CUBES(rig)                                                                            \
    const std::unique_ptr<TwoCubes> rig = TwoCubes::make();                                        \
    if (!(rig)) {                                                                                  \
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";      \
    }

using Sample = std::array<int, 5>;

// The samples after the leading dark ones: the move from wherever the beam was.
std::vector<Sample> litPart(const std::vector<Sample>& samples) {
    const auto first = std::find_if(samples.begin(), samples.end(), [](const Sample& s) {
        return s[2] != 0 || s[3] != 0 || s[4] != 0;
    });
    return {first, samples.end()};
}

// The placement worked out on its own terms: quarter turns and offsets move whole units.
struct Moves {
    bool flipX = false;
    bool flipY = false;
    int turns = 0;
    int dx = 0;
    int dy = 0;
};

std::vector<Sample> placed(const std::vector<Sample>& samples, const Moves& m) {
    std::vector<Sample> out;
    for (Sample s : samples) {
        int x = 4095 - s[0]; // drawing space: the samples are mirrored on both axes
        int y = 4095 - s[1];
        x = m.flipX ? 4095 - x : x;
        y = m.flipY ? 4095 - y : y;
        for (int t = 0; t < m.turns; ++t) {
            const int dx = x - 2047;
            x = 2047 - (y - 2047);
            y = 2047 + dx;
        }
        x += m.dx;
        y += m.dy;
        if (x < 0 || x > 4095 || y < 0 || y > 4095) {
            s[2] = s[3] = s[4] = 0;
        }
        s[0] = 4095 - std::clamp(x, 0, 4095);
        s[1] = 4095 - std::clamp(y, 0, 4095);
        out.push_back(s);
    }
    return out;
}

std::vector<Sample> renderedAt(const std::string& clock, const TwoCubes& rig) {
    const std::string out = rig.file("render.json");
    NetnsProcess render(rig.netns().player(),
                        {programPath("lumarok"), "--render", clock, "--out", out},
                        rig.file("render.out"), rig.file("render.err"), sourceDir());
    EXPECT_EQ(render.wait(30s), 0) << readFile(rig.file("render.err"));
    std::vector<Sample> samples;
    const json file = json::parse(std::ifstream(out));
    for (const json& s : file["samples"]) {
        samples.push_back({s["x"].get<int>(), s["y"].get<int>(), s["r"].get<int>(),
                           s["g"].get<int>(), s["b"].get<int>()});
    }
    return samples;
}

// Every frame a projector dumped, as samples.
std::vector<std::vector<Sample>> dumpedFrames(const std::string& path) {
    std::vector<std::vector<Sample>> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        frames.push_back(json::parse(line)["samples"].get<std::vector<Sample>>());
    }
    return frames;
}

// The end every show must reach on every projector.
void expectDarkAndOff(const std::string& cube, const std::string& what) {
    EXPECT_EQ(cubeCount(cube, "last_sample_lit"), 0) << what << "\n" << cube;
    EXPECT_NE(cube.find("switch A off\nswitch A off\nswitch B off\nswitch B off\n"),
              std::string::npos)
        << what << "\n"
        << cube;
    EXPECT_EQ(cubeCount(cube, "malformed"), 0) << what;
    EXPECT_EQ(cubeCount(cube, "overflows"), 0) << what;
    EXPECT_LE(cubeCount(cube, "underruns"), underrunAllowance()) << what << "\n" << cube;
}

TEST(MultiProjector, EveryProjectorDrawsTheRenderedFrameAfterItsPlacementAndEndsDark) {
    struct Case {
        std::vector<std::string> options;
        std::array<Moves, 2> moves;
    };
    const std::vector<Case> cases{
        {{"--projector", "one:flip-x", "--projector", "10.213.0.3:rotate=90,offset=10:-20"},
         {Moves{true, false, 0, 0, 0}, Moves{false, false, 1, 10, -20}}},
        {{"--projector", "all:flip-y"}, {Moves{false, true}, Moves{false, true}}},
    };
    constexpr float kClock = 12.0f;
    for (const Case& c : cases) {
        const std::string label = ::testing::PrintToString(c.options);
        MAKE_CUBES(rig);
        const std::vector<Sample> rendered = renderedAt("12", *rig);
        ASSERT_FALSE(litPart(rendered).empty()) << rendered.size() << readFile(rig->file("render.err"));
        rig->startCube(0);
        rig->startCube(1);
        NetnsWorker clock(rig->netns().player(), [&](const std::atomic<bool>& stop) {
            const UdpSender sender;
            while (!stop) {
                sender.send("127.0.0.1", 8666, oscTime(kClock));
                std::this_thread::sleep_for(20ms);
            }
        });
        std::vector<std::string> options{"-osc"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        rig->startPlayer(options);
        std::this_thread::sleep_for(5s);
        rig->player->signal(SIGTERM);
        EXPECT_EQ(rig->player->wait(10s), 0) << label << readFile(rig->file("player.err"));
        clock.finish();
        std::this_thread::sleep_for(200ms);
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            const std::string what = label + " " + kNames[i];
            expectDarkAndOff(rig->stopCube(i), what);
            const std::vector<std::vector<Sample>> frames =
                dumpedFrames(rig->file(std::string(kNames[i]) + ".jsonl"));
            const std::vector<Sample> expected = litPart(placed(rendered, c.moves[i]));
            std::size_t matching = 0;
            for (const std::vector<Sample>& frame : frames) {
                matching += litPart(frame) == expected ? 1 : 0;
            }
            // The last frame is the closing dark one.
            EXPECT_GE(frames.size(), 10u) << what;
            EXPECT_GE(matching + 1, frames.size()) << what;
        }
    }
}

} // namespace
} // namespace lumarok::test

// Several projectors on one show: two virtual projectors side by side in one device
// namespace (own addresses), the player in another, both made here.
#include "clock/osc_bytes.hpp"
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
#include <map>
#include <memory>
#include <mutex>
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
    void startCube(std::size_t i, const std::string& tag = "", const char* dumpFrames = "400") {
        const std::string base = file(std::string(kNames[i]) + tag);
        cubes[i].reset();
        cubes[i].emplace(pair->device(),
                         std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"),
                                                  "--name", kNames[i], "--address", kAddresses[i],
                                                  "--progress", "--dump", base + ".jsonl",
                                                  "--dump-after", "3", "--dump-frames", dumpFrames,
                                                  lenient ? "--lenient" : "--progress"},
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
    bool lenient = false; // the projectors answer to the port a request came from
    std::array<std::optional<NetnsProcess>, 2> cubes;
    std::optional<NetnsProcess> player;
    std::optional<NetnsProcess> listener;
};

#define MAKE_CUBES(rig)                                                                            \
    const std::unique_ptr<TwoCubes> rig = TwoCubes::make();                                        \
    LUMAROK_SKIP_WITHOUT_NETNS(rig)

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
        bool lenient = false; // projectors that answer to the request's port instead of 45457
    };
    const std::vector<Case> cases{
        {{"--projector", "one:flip-x", "--projector", "10.213.0.3:rotate=90,offset=10:-20"},
         {Moves{true, false, 0, 0, 0}, Moves{false, false, 1, 10, -20}}},
        {{"--projector", "all:flip-y"}, {Moves{false, true}, Moves{false, true}}},
        {{"--projector", "one", "--projector", "two", "--status-to", "127.0.0.1:9"},
         {Moves{}, Moves{}},
         true},
    };
    constexpr float kClock = 12.0f;
    for (const Case& c : cases) {
        const std::string label =
            ::testing::PrintToString(c.options) + (c.lenient ? " lenient" : "");
        MAKE_CUBES(rig);
        rig->lenient = c.lenient;
        const std::vector<Sample> rendered = renderedAt("12", *rig);
        ASSERT_FALSE(litPart(rendered).empty())
            << rendered.size() << readFile(rig->file("render.err"));
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
        std::this_thread::sleep_for(4s);
        rig->player->signal(SIGTERM);
        EXPECT_EQ(rig->player->wait(10s), 0) << label << readFile(rig->file("player.err"));
        clock.finish();
        std::this_thread::sleep_for(200ms);
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            const std::string what = label + " " + kNames[i];
            expectDarkAndOff(rig->stopCube(i), what);
            const std::vector<std::vector<Sample>> frames =
                dumpedFrames(rig->file(std::string(kNames[i]) + ".jsonl"));
            // On the wire a frame ends on a dark sample where its last one stands.
            std::vector<Sample> expected = litPart(placed(rendered, c.moves[i]));
            if (!expected.empty()) {
                expected.push_back({expected.back()[0], expected.back()[1], 0, 0, 0});
            }
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

// On the beat, frames are led up to the moment they were drawn for: both projectors
// play on, fed and in step, and end dark. (How close to the beat: lumarok-beat-offset.)
TEST(MultiProjector, OnTheBeatBothProjectorsPlayWithoutUnderrunsAndEndDark) {
    MAKE_CUBES(rig);
    rig->startCube(0, "", "0");
    rig->startCube(1, "", "0");
    NetnsWorker clock(rig->netns().player(), [&](const std::atomic<bool>& stop) {
        const UdpSender sender;
        const auto start = std::chrono::steady_clock::now();
        while (!stop) {
            const std::chrono::duration<float> since = std::chrono::steady_clock::now() - start;
            sender.send("127.0.0.1", 8666, oscTime(10.0f + since.count()));
            std::this_thread::sleep_for(33ms);
        }
    });
    rig->startPlayer(
        {"-osc", "--on-beat", "--latency", "20", "--projector", "one", "--projector", "two"});
    std::this_thread::sleep_for(4s);
    rig->player->signal(SIGTERM);
    EXPECT_EQ(rig->player->wait(10s), 0) << readFile(rig->file("player.err"));
    clock.finish();
    std::this_thread::sleep_for(200ms);
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const std::string cube = rig->stopCube(i);
        expectDarkAndOff(cube, kNames[i]);
        EXPECT_GE(cubeCount(cube, "frames"), 30) << kNames[i] << "\n" << cube;
    }
}

std::size_t linesWith(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

// One /lumarok/status as oscdump prints it: "STAMP /lumarok/status TYPES ARGS...".
struct Status {
    std::string types;
    std::vector<std::string> args; // strings without their quotes
};

std::vector<Status> statusMessages(const std::string& dump) {
    std::vector<Status> found;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string stamp;
        std::string path;
        Status status;
        words >> stamp >> path >> status.types;
        if (path != "/lumarok/status") {
            continue;
        }
        for (std::string word; words >> word;) {
            word.erase(std::remove(word.begin(), word.end(), '"'), word.end());
            status.args.push_back(word);
        }
        found.push_back(status);
    }
    return found;
}

TEST(MultiProjector, ALostProjectorIsReportedDarkAndBackWhileTheOtherPlaysOnAndTheStatusSaysSo) {
    MAKE_CUBES(rig);
    rig->startCube(0);
    rig->startCube(1);
    rig->listener.emplace(rig->netns().player(), std::vector<std::string>{"oscdump", "-L", "9123"},
                          rig->file("osc.out"), rig->file("osc.err"));
    // Nobody listens on the second target: that must not disturb anything.
    rig->startPlayer({"--projector", "one", "--projector", "two", "--status-to", "127.0.0.1:9123",
                      "--status-to", "127.0.0.1:9124"});
    ASSERT_TRUE(waitForText(rig->file("player.out"), "Foundtwo", 20s))
        << readFile(rig->file("player.err"));
    ASSERT_TRUE(waitForText(rig->file("player.out"), "Foundone", 5s))
        << readFile(rig->file("player.err"));
    std::this_thread::sleep_for(4s);
    rig->stopCube(1, SIGKILL);
    ASSERT_TRUE(
        waitForText(rig->file("player.err"), "lumarok: projector two at 10.213.0.3 lost", 5s))
        << readFile(rig->file("player.err"));
    std::this_thread::sleep_for(1500ms);
    rig->startCube(1, "-again");
    ASSERT_TRUE(waitForText(rig->file("player.err"),
                            "lumarok: projector two at 10.213.0.3 answers again\n", 10s))
        << readFile(rig->file("player.err"));
    std::this_thread::sleep_for(3s);
    rig->player->signal(SIGTERM);
    EXPECT_EQ(rig->player->wait(10s), 0) << readFile(rig->file("player.err"));
    std::this_thread::sleep_for(200ms);

    const std::string errors = readFile(rig->file("player.err"));
    EXPECT_EQ(linesWith(errors, " lost ("), 1u) << errors;
    EXPECT_EQ(linesWith(errors, "answers again"), 1u) << errors;
    const std::string one = rig->stopCube(0);
    expectDarkAndOff(one, "one");
    EXPECT_EQ(cubeCount(one, "frame_gaps"), 0) << one;
    EXPECT_EQ(cubeCount(one, "message_gaps"), 0) << one;
    const std::string again = rig->stopCube(1, SIGTERM, "-again");
    expectDarkAndOff(again, "two, started again");
    EXPECT_NE(again.find("switch A on"), std::string::npos) << again;
    EXPECT_GT(cubeCount(again, "frames"), 20) << again;

    rig->listener->signal(SIGTERM);
    rig->listener->wait(5s);
    const std::vector<Status> statuses = statusMessages(readFile(rig->file("osc.out")));
    EXPECT_GE(statuses.size(), 5u); // one a second
    std::vector<std::string> statesOfTwo;
    for (const Status& s : statuses) {
        ASSERT_EQ(s.types, "fsiifisfiissfiiss");
        ASSERT_EQ(s.args.size(), 17u);
        EXPECT_EQ(s.args[16], "live");
        EXPECT_EQ(s.args[1], "steady");
        EXPECT_EQ(s.args[2], "1");
        EXPECT_EQ(s.args[5], "2");
        EXPECT_EQ(s.args[6], "one");
        EXPECT_EQ(s.args[11], "two");
        if (statesOfTwo.empty() || statesOfTwo.back() != s.args[15]) {
            statesOfTwo.push_back(s.args[15]);
        }
    }
    // Two goes from playing to lost and back; a stalled reading may come between.
    statesOfTwo.erase(std::remove(statesOfTwo.begin(), statesOfTwo.end(), "stalled"),
                      statesOfTwo.end());
    statesOfTwo.erase(std::unique(statesOfTwo.begin(), statesOfTwo.end()), statesOfTwo.end());
    if (!statesOfTwo.empty() && statesOfTwo.front() == "waiting") {
        statesOfTwo.erase(statesOfTwo.begin());
    }
    EXPECT_EQ(statesOfTwo, (std::vector<std::string>{"playing", "lost", "playing"}));
    const Status& last = statuses.back();
    EXPECT_GT(std::stod(last.args[7]), 20000.0) << "samples/s of one";
}

} // namespace
} // namespace lumarok::test

namespace lumarok::test {
namespace {

std::vector<std::uint8_t> oscBytes(const Bytes& bytes) {
    std::vector<std::uint8_t> out;
    for (const std::byte b : bytes) {
        out.push_back(static_cast<std::uint8_t>(b));
    }
    return out;
}

struct TimedFrame {
    double received = 0.0;
    int brightest = 0; // the largest colour value of the frame
};

std::vector<TimedFrame> timedFrames(const std::string& path) {
    std::vector<TimedFrame> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const json frame = json::parse(line);
        TimedFrame timed{frame["received"].get<double>(), 0};
        for (const Sample& s : frame["samples"].get<std::vector<Sample>>()) {
            timed.brightest = std::max({timed.brightest, s[2], s[3], s[4]});
        }
        frames.push_back(timed);
    }
    return frames;
}

// The brightest colour of the frames received in [from, to): {least of the lit ones,
// most}; -1 for none. (A late frame is covered by a dark fill: not a change of light.)
std::pair<int, int> brightnessBetween(const std::vector<TimedFrame>& frames, double from,
                                      double to) {
    std::pair<int, int> range{-1, -1};
    for (const TimedFrame& f : frames) {
        if (f.received >= from && f.received < to) {
            if (f.brightest > 0) {
                range.first = range.first < 0 ? f.brightest : std::min(range.first, f.brightest);
            }
            range.second = std::max(range.second, f.brightest);
        }
    }
    return range;
}

// Live control, the clock's timeout and the show's end on two projectors, as an operator
// meets them: each step is sent from the player's namespace and read back from what each
// projector received. What is asserted is the light well clear of each step (how soon it
// changes is lumarok-laser-measure's to say).
TEST(MultiProjector, LiveControlAndTheClockTimeoutActOnEveryProjector) {
    MAKE_CUBES(rig);
    rig->startCube(0, "", "2000");
    rig->startCube(1, "", "2000");
    std::mutex timesMutex;
    std::map<std::string, double> sentAt; // steady seconds, as the projectors count
    const auto now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    struct Step {
        double at; // seconds after the script starts
        std::string name;
        Bytes message; // empty: a clock step
        bool outside = false;
    };
    const std::vector<Step> script{
        {5.0, "outside", message("/lumarok/intensity", ",f", floatArgument(50.0f)), true},
        {5.7, "half", message("/lumarok/intensity", ",f", floatArgument(50.0f))},
        {6.0, "status", message("/lumarok/status", ",", {})},
        // On the /Time port: with -osc control is taken there too.
        {6.4, "over", message("/lumarok/intensity", ",f", floatArgument(150.0f))},
        {7.1, "blackout", message("/lumarok/blackout", ",i", intArgument(1))},
        {7.8, "light", message("/lumarok/blackout", ",i", intArgument(0))},
        {8.5, "clock stops", {}},
        {10.5, "clock back", {}},
        {11.2, "past the end", {}}, // a /Time after the show's end (232.4 s)
        {11.8, "end", {}},
    };
    std::atomic<bool> scriptDone{false};
    std::string statusReply; // the answer to /lumarok/status, as bytes
    NetnsWorker operatorDesk(rig->netns().player(), [&](const std::atomic<bool>& stop) {
        const UdpSender local;
        const UdpSender outside(NetnsPair::kPlayerAddress);
        const UdpSender asker("127.0.0.1");
        const double start = now();
        bool clockOn = true;
        float clockSeconds = 12.0f;
        std::size_t next = 0;
        double nextTime = 0.0;
        while (!stop && next < script.size()) {
            const double t = now() - start;
            if (t >= script[next].at) {
                const Step& step = script[next++];
                if (step.outside) {
                    outside.send(NetnsPair::kPlayerAddress, 9100, oscBytes(step.message));
                } else if (step.name == "status") {
                    asker.send("127.0.0.1", 9100, oscBytes(step.message));
                } else if (step.name == "over") {
                    local.send("127.0.0.1", 8666, oscBytes(step.message));
                } else if (!step.message.empty()) {
                    local.send("127.0.0.1", 9100, oscBytes(step.message));
                } else {
                    clockOn = step.name != "clock stops";
                    clockSeconds = step.name == "past the end" ? 240.0f : 12.0f;
                }
                const std::lock_guard lock(timesMutex);
                sentAt[step.name] = now();
            }
            if (clockOn && t >= nextTime) {
                local.send("127.0.0.1", 8666, oscTime(clockSeconds));
                nextTime = t + 0.02;
            }
            std::this_thread::sleep_for(2ms);
        }
        const std::vector<std::uint8_t> reply = asker.receive(100ms);
        statusReply.assign(reply.begin(), reply.end());
        scriptDone = true;
    });
    rig->startPlayer({"-osc", "-i", "40", "--clock-timeout", "1", "--at-end", "dark",
                      "--control-port", "9100", "--control-from", "127.0.0.1", "--projector", "one",
                      "--projector", "two", "--projector", "nobody"});
    while (!scriptDone) {
        std::this_thread::sleep_for(50ms);
    }
    operatorDesk.finish();
    rig->player->signal(SIGTERM);
    EXPECT_EQ(rig->player->wait(10s), 0) << readFile(rig->file("player.err"));
    std::this_thread::sleep_for(200ms);
    const std::string errors = readFile(rig->file("player.err"));
    EXPECT_NE(errors.find("control from 10.213.0.1 refused"), std::string::npos) << errors;
    EXPECT_NE(errors.find("waiting for projector nobody\u2026 (answering: one at 10.213.0.2, "
                          "two at 10.213.0.3)"),
              std::string::npos)
        << errors;
    EXPECT_EQ(linesWith(errors, "control: master level"), 2u) << errors;
    // Answered to the asker's address and port: the status with two found, one waiting.
    EXPECT_EQ(statusReply.rfind("/lumarok/status", 0), 0u) << statusReply.size();
    EXPECT_NE(statusReply.find("nobody"), std::string::npos);
    EXPECT_EQ(statusReply.find("waiting", statusReply.find("nobody")) != std::string::npos, true);
    EXPECT_EQ(linesWith(errors, "control: blackout"), 2u) << errors;
    EXPECT_EQ(linesWith(errors, "lumarok: clock: no /Time for"), 1u) << errors;
    EXPECT_EQ(linesWith(errors, "(answering: none)"), 0u) << errors;

    const std::lock_guard lock(timesMutex);
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const std::string what = kNames[i];
        expectDarkAndOff(rig->stopCube(i), what);
        const std::vector<TimedFrame> frames =
            timedFrames(rig->file(std::string(kNames[i]) + ".jsonl"));
        const double outside = sentAt["outside"];
        const auto [baseLeast, base] = brightnessBetween(frames, outside - 1.0, outside);
        ASSERT_GT(base, 0) << what;
        EXPECT_EQ(baseLeast, base) << what << ": one picture, one brightness";
        // Well clear of each step: 100 ms after it.
        const auto after = [&](const char* step, const char* until) {
            return brightnessBetween(frames, sentAt[step] + 0.1, sentAt[until]);
        };
        EXPECT_EQ(after("outside", "half"), std::make_pair(base, base)) << what;
        const auto [halfLeast, half] = after("half", "over");
        EXPECT_NEAR(halfLeast, base / 2, 1) << what;
        EXPECT_NEAR(half, base / 2, 1) << what;
        EXPECT_EQ(after("over", "blackout"), std::make_pair(base, base)) << what;
        EXPECT_EQ(brightnessBetween(frames, sentAt["blackout"] + 0.02, sentAt["light"]).second, 0)
            << what << ": blackout within 20 ms";
        EXPECT_EQ(after("light", "clock stops"), std::make_pair(base, base)) << what;
        EXPECT_EQ(brightnessBetween(frames, sentAt["clock stops"] + 1.3, sentAt["clock back"]),
                  std::make_pair(-1, 0))
            << what << ": dark once the clock timed out";
        EXPECT_EQ(after("clock back", "past the end"), std::make_pair(base, base)) << what;
        EXPECT_EQ(after("past the end", "end"), std::make_pair(-1, 0)) << what << ": --at-end dark";
        EXPECT_EQ(brightnessBetween(frames, 0.0, 1e12).second, base) << what << ": never above -i";
    }
}

} // namespace
} // namespace lumarok::test

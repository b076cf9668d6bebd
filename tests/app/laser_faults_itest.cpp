// Faults met during a laser show: a projector that stops reporting, a stranger
// forging its reports, a flood of malformed OSC (an audio server dying is the capture's
// test, audio_capture_itest.cpp). The
// player runs in its own network namespace against the virtual projector.
#include "support/forged_datagrams.hpp"
#include "support/laser_show.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

#define MAKE_RIG(rig)                                                                              \
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();                                \
    LUMAROK_SKIP_WITHOUT_NETNS(rig)

// Points the player at an audio server that is not there, so that audio-reactive
// effects see silence and frames depend on the show time alone.
class NoAudioServer {
public:
    NoAudioServer() {
        if (const char* value = std::getenv("PULSE_SERVER")) {
            saved = value;
        }
        ::setenv("PULSE_SERVER", "unix:/nonexistent/lumarok-no-audio", 1);
    }
    ~NoAudioServer() {
        if (saved) {
            ::setenv("PULSE_SERVER", saved->c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
    }
    NoAudioServer(const NoAudioServer&) = delete;
    NoAudioServer& operator=(const NoAudioServer&) = delete;

private:
    std::optional<std::string> saved;
};

void sleepUntilCube(const LaserShowRig& rig, double seconds) {
    while (rig.cubeSeconds() < seconds) {
        std::this_thread::sleep_for(20ms);
    }
}

std::size_t linesContaining(const std::string& text, const std::string& what) {
    std::istringstream in(text);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) {
        n += line.find(what) != std::string::npos ? 1 : 0;
    }
    return n;
}

void expectCleanStream(const std::string& out) {
    EXPECT_EQ(cubeCount(out, "malformed"), 0) << out;
    EXPECT_EQ(cubeCount(out, "message_gaps"), 0) << out;
    EXPECT_EQ(cubeCount(out, "frame_gaps"), 0) << out;
    EXPECT_EQ(cubeCount(out, "out_of_range_samples"), 0) << out;
    EXPECT_EQ(cubeCount(out, "overflows"), 0) << out;
    EXPECT_LE(cubeCount(out, "underruns"), underrunAllowance()) << out;
}

TEST(LaserFaults, SilentProjectorIsPacedOnTheEstimateWithoutStallOrFlood) {
    MAKE_RIG(rig);
    const NoAudioServer noAudio;
    rig->startCube({"--silent-after", "3"});
    rig->startPlayer({"-laser"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    sleepUntilCube(*rig, 11.0);
    EXPECT_EQ(rig->player().wait(0ms), -1) << "the player ended: " << rig->playerErrors();
    EXPECT_EQ(rig->stopPlayer(10s), 0) << rig->playerErrors();
    const std::string out = rig->stopCube();

    ASSERT_NE(out.find("reports stopped"), std::string::npos) << out;
    // Eight seconds without a single report: the stream goes on, neither starving the
    // device (underruns) nor flooding it (overflows). The rate: lumarok-laser-measure.
    expectCleanStream(out);
}

TEST(LaserFaults, ForgedStatusFromAnotherHostIsIgnored) {
    MAKE_RIG(rig);
    const NoAudioServer noAudio;
    rig->netns().addDeviceAddress("10.213.0.3/24");
    rig->startCube({});
    rig->startPlayer({"-laser"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();
    sleepUntilCube(*rig, 4.0);

    // From a second address: "full", "empty", and a device that moved elsewhere.
    // Heeded, these would stall, flood or lose the projector.
    const std::vector<std::uint8_t> moved = forgedDeviceInfo();
    runInNetns(rig->netns().device(), [&] {
        const UdpSender forger("10.213.0.3");
        const auto until = std::chrono::steady_clock::now() + 6s;
        while (std::chrono::steady_clock::now() < until) {
            forger.send(NetnsPair::kPlayerAddress, 45457, {0x8A, 0, 0, 0});
            forger.send(NetnsPair::kPlayerAddress, 45457, {0x8A, 0, 0xFF, 0xFF});
            forger.send(NetnsPair::kPlayerAddress, 45457, moved);
            std::this_thread::sleep_for(5ms);
        }
    });
    const double forgeEnd = rig->cubeSeconds();
    sleepUntilCube(*rig, forgeEnd + 2.0);
    EXPECT_EQ(rig->stopPlayer(10s), 0) << rig->playerErrors();
    const std::string out = rig->stopCube();

    // Heeded, "full" would starve the device and "empty" flood it.
    expectCleanStream(out);
    const std::vector<CubeProgress> lines = progressLines(out);
    ASSERT_FALSE(lines.empty()) << out;
    EXPECT_LT(progressAt(lines, forgeEnd).samples, lines.back().samples)
        << "streaming to the real device afterwards\n"
        << out;
    EXPECT_EQ(linesContaining(rig->playerOutput(), "Found"), 1u) << rig->playerOutput();
    // Spaced requests before the first answer are fine; none once the show runs.
    EXPECT_LE(cubeCount(out, "discovery_requests"), 3) << out;
}

// Datagrams that each fail to parse in a different way.
std::vector<std::vector<std::uint8_t>> malformedOsc() {
    const std::vector<std::uint8_t> time = oscTime(99.0f);
    std::vector<std::uint8_t> stringArgument = time;
    stringArgument[9] = 's';
    std::vector<std::uint8_t> noComma = time;
    noComma[8] = 'f';
    const std::vector<std::uint8_t> truncatedFloat(time.begin(), time.end() - 2);
    std::vector<std::uint8_t> bundle{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0,
                                     0,   0,   0,   0,   0,   1,   0,   0, 0, 99};
    bundle.insert(bundle.end(), time.begin(), time.end());
    std::vector<std::uint8_t> misaligned{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0,
                                         0,   0,   0,   0,   0,   1,   0,   0, 0, 6};
    misaligned.insert(misaligned.end(), time.begin(), time.begin() + 6);
    misaligned.insert(misaligned.end(), {0, 0, 0, 16});
    const std::vector<std::uint8_t> unterminated{'/', 'T', 'i', 'm', 'e', '/', 'x', 'y'};
    const std::vector<std::uint8_t> commaOnly{'/', 'T', 'i', 'm', 'e', 0, 0, 0, ',', 0, 0, 0};
    const std::vector<std::uint8_t> oversize(1500, 0x2F);
    return {{},         stringArgument, noComma,   truncatedFloat, bundle,
            misaligned, unterminated,   commaOnly, oversize};
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TEST(LaserFaults, MalformedOscFloodKeepsTheLastGoodTimeAndTheFrameRate) {
    MAKE_RIG(rig);
    const NoAudioServer noAudio;
    rig->startCube({"--dump", rig->file("frames.jsonl"), "--dump-frames", "100000"});
    rig->startPlayer({"-laser", "-osc"});
    ASSERT_TRUE(rig->waitForDiscovery(20s)) << rig->playerErrors();

    // A good time for four seconds, then the flood while nothing good arrives.
    constexpr float kHeldTime = 12.0f;
    const double goodStartSteady = steadySeconds();
    {
        NetnsWorker music(rig->netns().player(), [&](const std::atomic<bool>& stop) {
            const UdpSender sender;
            while (!stop) {
                sender.send("127.0.0.1", 8666, oscTime(kHeldTime));
                std::this_thread::sleep_for(20ms);
            }
        });
        std::this_thread::sleep_for(4s);
        music.finish();
    }
    const std::vector<std::vector<std::uint8_t>> garbage = malformedOsc();
    long long sent = 0;
    runInNetns(rig->netns().player(), [&] {
        const UdpSender sender;
        const auto start = std::chrono::steady_clock::now();
        const auto until = start + 4s;
        // 100 datagrams every 10 ms: 10,000 per second.
        for (auto tick = start; tick < until; tick += 10ms) {
            for (int i = 0; i < 100; ++i) {
                sender.send("127.0.0.1", 8666,
                            garbage[static_cast<std::size_t>(sent++) % garbage.size()]);
            }
            std::this_thread::sleep_until(tick + 10ms);
        }
    });
    const double floodEndSteady = steadySeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_GE(sent, 40000);
    EXPECT_EQ(rig->player().wait(0ms), -1) << "the player ended: " << rig->playerErrors();
    EXPECT_EQ(rig->stopPlayer(10s), 0) << rig->playerErrors();
    const std::string out = rig->stopCube();
    expectCleanStream(out);

    // The clock held the good time: every frame from before the flood to its end
    // is the same picture.
    std::istringstream frames(readFile(rig->file("frames.jsonl")));
    std::string first;
    std::size_t count = 0;
    std::size_t differing = 0;
    for (std::string line; std::getline(frames, line);) {
        const std::size_t received = line.find("\"received\":");
        const std::size_t at = line.find("\"samples\":");
        ASSERT_NE(received, std::string::npos);
        ASSERT_NE(at, std::string::npos);
        const double when = std::stod(line.substr(received + 11));
        if (when < goodStartSteady + 1.5 || when > floodEndSteady) {
            continue;
        }
        // A frame is led by as many dark samples as the device lacked of its reserve.
        auto all = nlohmann::json::parse(line)["samples"].get<std::vector<std::vector<int>>>();
        const auto lit = std::find_if(all.begin(), all.end(), [](const std::vector<int>& s) {
            return s[2] != 0 || s[3] != 0 || s[4] != 0;
        });
        const std::string samples =
            nlohmann::json(std::vector<std::vector<int>>(lit, all.end())).dump();
        if (count++ == 0) {
            first = samples;
        } else if (samples != first) {
            ++differing;
        }
    }
    EXPECT_GT(count, 20u);
    EXPECT_EQ(differing, 0u) << "of " << count << " frames";
    // The drops are counted, not printed one line each.
    EXPECT_LT(linesContaining(rig->playerErrors(), "OSC datagram dropped"), 100u);
}

} // namespace
} // namespace lumarok::test

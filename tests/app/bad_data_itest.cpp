// Broken show data. Data that cannot be read ends the player before anything
// starts: one error line naming the file and the line, a failing exit status, and
// not a single discovery request on the network. The player runs in laser mode
// inside its own namespace, with the virtual projector listening next door.
#include "support/laser_show.hpp"
#include "support/paths.hpp"
#include "support/pulse_server.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

struct Outcome {
    bool skipped = false;
    int exitStatus = -1;
    std::vector<std::string> errorLines;
    std::string out;
    long long discoveryRequests = -1;
};

// Copies data/ into a fresh directory, lets `breakIt` damage the copy, and runs
// the player in laser mode there.
Outcome runWithBrokenData(const std::function<void(const fs::path& data)>& breakIt) {
    Outcome outcome;
    // A private audio server, where there is one, keeps the audio thread quiet, so
    // that the data error is the only line.
    std::optional<PrivatePulseServer> pulse;
    try {
        pulse.emplace();
    } catch (const PulseServerUnavailable&) {
    }
    const std::unique_ptr<LaserShowRig> rig = LaserShowRig::make();
    if (!rig) {
        outcome.skipped = true;
        return outcome;
    }
    const TempDir show;
    fs::copy(fs::path(sourceDir()) / "data", show.path() / "data");
    breakIt(show.path() / "data");

    rig->startCube({});
    rig->startPlayer({"-laser"}, show.path().string());
    outcome.exitStatus = rig->player().wait(30s);
    // Time for a broadcast, had one been sent, to arrive.
    std::this_thread::sleep_for(300ms);
    outcome.discoveryRequests = cubeCount(rig->stopCube(), "discovery_requests");
    outcome.out = rig->playerOutput();
    for (const std::string& line : nonEmptyLines(rig->playerErrors())) {
        // Start-up lines (show folder, clock, audio source) say what happens; errors
        // are the "lumarok:" lines.
        if (line.rfind("lumarok: ", 0) != 0) {
            continue;
        }
        if (pulse || line.find("audio capture unavailable") == std::string::npos) {
            outcome.errorLines.push_back(line);
        }
    }
    return outcome;
}

#define EXPECT_STOPPED_BEFORE_THE_SHOW(outcome)                                                    \
    if ((outcome).skipped) {                                                                       \
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";      \
    }                                                                                              \
    EXPECT_NE((outcome).exitStatus, 0);                                                            \
    EXPECT_NE((outcome).exitStatus, -1) << "still running after 30 s";                             \
    EXPECT_EQ((outcome).discoveryRequests, 0) << "nothing may reach the network";                  \
    EXPECT_EQ((outcome).out.find("Found"), std::string::npos) << (outcome).out;                    \
    ASSERT_EQ((outcome).errorLines.size(), 1u) << ::testing::PrintToString((outcome).errorLines)

TEST(BrokenShowData, MissingSceneFileIsNamed) {
    const Outcome outcome =
        runWithBrokenData([](const fs::path& data) { fs::remove(data / "script3C.json"); });
    EXPECT_STOPPED_BEFORE_THE_SHOW(outcome);
    EXPECT_NE(outcome.errorLines[0].find("script3C.json"), std::string::npos)
        << outcome.errorLines[0];
}

TEST(BrokenShowData, TruncatedSceneFileIsNamedWithItsLine) {
    const Outcome outcome = runWithBrokenData([](const fs::path& data) {
        const fs::path scene = data / "script2B.json";
        fs::resize_file(scene, fs::file_size(scene) / 2);
    });
    EXPECT_STOPPED_BEFORE_THE_SHOW(outcome);
    EXPECT_NE(outcome.errorLines[0].find("script2B.json"), std::string::npos)
        << outcome.errorLines[0];
    EXPECT_NE(outcome.errorLines[0].find("line"), std::string::npos) << outcome.errorLines[0];
}

TEST(BrokenShowData, BadSequenceLineIsNamedWithItsNumber) {
    const Outcome outcome = runWithBrokenData([](const fs::path& data) {
        std::ifstream in(data / "Sequence.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        in.close();
        ASSERT_GT(lines.size(), 5u);
        const std::size_t from = lines[4].find("'from': ");
        ASSERT_NE(from, std::string::npos) << lines[4];
        lines[4].replace(from, 9, "'from': zero");
        std::ofstream out(data / "Sequence.txt", std::ios::trunc);
        for (const std::string& line : lines) {
            out << line << '\n';
        }
    });
    EXPECT_STOPPED_BEFORE_THE_SHOW(outcome);
    EXPECT_NE(outcome.errorLines[0].find("Sequence.txt:5"), std::string::npos)
        << outcome.errorLines[0];
}

} // namespace
} // namespace lumarok::test

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

// Which data fault it is matters not here (the loaders' unit tests name each one); what
// the player does with one does: one line naming the file and line, a failing status,
// and nothing on the network.
TEST(BrokenShowData, OneErrorLineNamingFileAndLineAndNothingOnTheNetwork) {
    const Outcome outcome = runWithBrokenData([](const fs::path& data) {
        std::string sequence = readFile(data / "Sequence.txt");
        std::size_t at = 0;
        for (int line = 1; line < 5; ++line) {
            at = sequence.find('\n', at) + 1;
        }
        const std::size_t from = sequence.find("'from': ", at);
        ASSERT_LT(from, sequence.find('\n', at)) << "line 5 holds a clip";
        sequence.replace(from, 9, "'from': zero");
        writeFile(data / "Sequence.txt", sequence);
    });
    LUMAROK_SKIP_WITHOUT_NETNS(!outcome.skipped);
    EXPECT_NE(outcome.exitStatus, 0);
    EXPECT_NE(outcome.exitStatus, -1) << "still running after 30 s";
    EXPECT_EQ(outcome.discoveryRequests, 0) << "nothing may reach the network";
    EXPECT_EQ(outcome.out.find("Found"), std::string::npos) << outcome.out;
    ASSERT_EQ(outcome.errorLines.size(), 1u) << ::testing::PrintToString(outcome.errorLines);
    EXPECT_NE(outcome.errorLines[0].find("Sequence.txt:5"), std::string::npos)
        << outcome.errorLines[0];
}

} // namespace
} // namespace lumarok::test

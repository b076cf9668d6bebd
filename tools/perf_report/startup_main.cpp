// lumarok-startup-measure: how long the player takes from being started to its
// first frame. Laser mode runs inside two network namespaces made for each run
// (player and virtual projector); the time is from starting the player to the
// arrival of its first sample packet at the projector. The headless renderer's
// wall time is measured as well, for a figure without any network.
//
// usage: lumarok-startup-measure [--runs N]
#include "support/lumarok_process.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumarok::test::NetnsPair;
using lumarok::test::NetnsProcess;
using Clock = std::chrono::steady_clock;

double monotonicSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Milliseconds from starting `lumarok -laser` to its first packet at the projector.
double laserStartup() {
    const NetnsPair pair;
    const lumarok::test::TempDir dir;
    const std::string first = (dir.path() / "first.jsonl").string();
    NetnsProcess cube(pair.device(),
                      {lumarok::test::programPath("tools/lumarok_cube/lumarok-cube"), "--dump",
                       first, "--dump-frames", "1"},
                      (dir.path() / "cube.out").string(), (dir.path() / "cube.err").string());
    if (!lumarok::test::waitForText((dir.path() / "cube.out").string(), "listening", 10s)) {
        throw std::runtime_error("the virtual projector did not start");
    }
    const double started = monotonicSeconds();
    NetnsProcess player(pair.player(), {lumarok::test::programPath("lumarok"), "-laser"},
                        (dir.path() / "player.out").string(), (dir.path() / "player.err").string(),
                        lumarok::test::sourceDir());
    if (!lumarok::test::waitForText(first, "\n", 20s)) {
        throw std::runtime_error("no frame reached the projector: " +
                                 lumarok::test::readFile((dir.path() / "player.err").string()));
    }
    const std::string line = lumarok::test::readFile(first);
    const std::size_t at = line.find("\"received\":");
    if (at == std::string::npos) {
        throw std::runtime_error("unexpected dump: " + line.substr(0, 80));
    }
    const double received = std::stod(line.substr(at + 11));
    player.signal(SIGTERM);
    player.wait(10s);
    cube.signal(SIGTERM);
    cube.wait(10s);
    return 1000.0 * (received - started);
}

// Milliseconds of wall time for `lumarok --render 10 --out FILE.json`.
double renderWall() {
    const lumarok::test::TempDir dir;
    lumarok::test::ProcessOptions options;
    options.workingDirectory = lumarok::test::sourceDir();
    const double started = monotonicSeconds();
    const lumarok::test::ProcessResult result = lumarok::test::runProcess(
        lumarok::test::programPath("lumarok"),
        {"--render", "10", "--out", (dir.path() / "frame.json").string()}, options);
    const double wall = 1000.0 * (monotonicSeconds() - started);
    if (result.exitCode != 0) {
        throw std::runtime_error("lumarok --render failed: " + result.err);
    }
    return wall;
}

void report(const char* what, const std::vector<double>& values) {
    std::printf("| %-44s | %8.1f | %8.1f | %8.1f |\n", what, median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

int run(int runs) {
    std::vector<double> laser;
    std::vector<double> render;
    for (int i = 0; i < runs; ++i) {
        render.push_back(renderWall());
    }
    std::optional<std::string> laserSkipped;
    try {
        for (int i = 0; i < runs; ++i) {
            laser.push_back(laserStartup());
        }
    } catch (const lumarok::test::NetnsUnavailable& why) {
        laserSkipped = why.what();
    }
    std::printf(
        "| measure (%d runs), ms                          |   median |      min |      max |\n",
        runs);
    std::printf(
        "|----------------------------------------------|---------:|---------:|---------:|\n");
    report("`lumarok --render 10` wall time (load + 1 frame)", render);
    if (laserSkipped) {
        std::printf("| laser mode: skipped (%s) | | | |\n", laserSkipped->c_str());
    } else {
        report("`lumarok -laser`: start to first packet", laser);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::stoi(argv[++i]));
        } else {
            std::fputs("usage: lumarok-startup-measure [--runs N]\n", stderr);
            return 2;
        }
    }
    try {
        return run(runs);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-startup-measure: %s\n", error.what());
        return 1;
    }
}
